// What the engine's parts share and nothing outside the engine may use: the limits, the
// engine's state (verbosity, the remembered argument count, the runaway counters), the trace
// and failure helpers, and the calls the parts make into each other.
#ifndef BLD_HTML_INTERNAL_H
#define BLD_HTML_INTERNAL_H

#include <cstddef>
#include <cstdio>
#include <string>

#include "engine/bld_html.h"

constexpr int max_include_fields = 100;
constexpr int max_assign_fields = 3;
constexpr int max_include_depth = 100;
// Bounds on what one include from a page or the driver may grow into, so that a library
// whose macros include themselves more than once, or double a variable on every level,
// ends with a message instead of running for ever or exhausting memory.
#if defined(FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION) || defined(TOVREL_SMALL_LIMITS)
// Fuzz and unit-test builds keep the same limits at a size reached in milliseconds, so runs
// are spent on new inputs rather than on libraries that use up the whole budget.
constexpr long max_expansions = 1000;
constexpr size_t max_text_len = 64 * 1024;
#else
constexpr long max_expansions = 100000;             // macro expansions below one outer include
constexpr size_t max_text_len = 16ul * 1024 * 1024; // bytes in one evaluated text
#endif

// The engine's state besides its two stores (bld_html.cpp); reset_inc puts it back to
// these start values, except the verbosity.
struct IncState {
    int verbose = 0;       // the engine's own verbosity, set by set_verbose_inc only
    int lastnargs = 0;     // field count of the most recent include whose macro was found
    int include_depth = 0; // levels of do_include currently open
    long expansions = 0;   // macro expansions since the outer include began
    int failures = 0;      // failures reported since start or since reset_inc
};
extern IncState inc_state;

// Trace levels: a trace is written when the verbosity is above its level.
constexpr int TRACE_EXPAND = 0; // includes entered and conditions judged
constexpr int TRACE_STORE = 5;  // macros stored
constexpr int TRACE_ALL = 9;    // every step

// True when traces of the level are written.
inline bool tracing(int level)
{
    return inc_state.verbose > level;
}

// Writes a trace of the level to standard error, or to standard output for trace_out (the
// loader's older traces went there, and scripts may read them from there).
[[gnu::format(printf, 2, 3)]] void trace(int level, const char *fmt, ...);
[[gnu::format(printf, 2, 3)]] void trace_out(int level, const char *fmt, ...);

// Reports a failure the engine met (an unknown macro, a runaway, an invalid command, a
// library it cannot use) on standard error and counts it for inc_failures.
[[gnu::format(printf, 1, 2)]] void report_failure(const char *fmt, ...);
// Reports a warning on standard error; warnings are not counted.
[[gnu::format(printf, 1, 2)]] void report_warning(const char *fmt, ...);

// Returns str, or "(null)" for a null str.
const char *or_null(const char *str);

// Returns 'A' to 'Z' lower-cased; every other byte as it is.
std::string lower_ascii(const char *str);

// A work area for a text the caller cuts in place: the first len bytes of str, copied into
// local (of local_size bytes) when they fit, else into *heap. Most texts are short, so most
// copies cost no allocation.
char *copy_text(const char *str, size_t len, char *local, size_t local_size, std::string *heap);

// The macro index (inc_library.cpp). Position of name in incs (case of 'A' to 'Z' ignored),
// or -1.
int find_inc(const char *name);
// Frees incs and every macro body in it; incs is null afterwards.
void free_macros();

// The variable store (inc_vars.cpp).
// Stores value (null or empty: blank) under name; name and value stay the caller's.
void store_var(const char *name, const char *value);
// Runs the assignment text name|value (a second '|' ends the value; no '|': a blank value).
void do_set(const char *str);
// Blanks the whole store: no variables afterwards.
void do_clear();
// Frees vars; it is null afterwards.
void free_vars();

// Finds the variable name like get_val, trying first the slot *hint names (where the store
// had it at the caller's last look) and then updating *hint; a hint of -1 means none. Most
// names are asked for again and again from the same place, so this spares the search.
const char *get_val_hinted(const char *name, int *hint);
// store_var with a hint, as get_val_hinted.
void store_var_hinted(const char *name, const char *value, int *hint);

// Parsed macro bodies (inc_body.cpp). A body parsed when the library is loaded: its lines
// cut into text, include, exec and evaluated lines, each knowing the index of its source
// line in the body.
struct ParsedBody;
// Returns a new parsed form of body, which the caller frees with free_parsed_body.
ParsedBody *parse_body(const ProdAlphaList *body);
void free_parsed_body(ParsedBody *parsed);
// Writes the expansion of the body parsed into outf, as process_include does for its lines.
void run_parsed_body(FILE *outf, ParsedBody *parsed, int nargs, char **args);

// The macro index (inc_library.cpp). find_inc, trying first the position *hint names (where
// the caller found the name last time) and then updating *hint.
int find_inc_hinted(const char *name, int *hint);
// The parsed form of the macro at position pos of incs.
ParsedBody *parsed_at(int pos);

// Expansion (inc_expand.cpp). Includes the macro named by the include text's fields (args[0]
// is name when nargs > 0; name is "" otherwise), as do_include does once it has split them.
// hint, when not null, is handed to find_inc_hinted.
void include_fields(FILE *outf, const char *name, int nargs, char **args, int *hint);
// Runs the command text str (set, clear or if, then '|' and the rest); if writes to fp.
void do_exec(FILE *fp, const char *str, int nargs, char **args);

#endif
