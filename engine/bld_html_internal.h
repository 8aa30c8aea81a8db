// What the engine's parts share and nothing outside the engine may use: the limits, the
// engine's state (verbosity, the remembered argument count, the runaway counters), the trace
// and failure helpers, and the calls the parts make into each other.
#ifndef BLD_HTML_INTERNAL_H
#define BLD_HTML_INTERNAL_H

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "engine/bld_html.h"

constexpr int max_include_fields = 100;
constexpr int max_include_depth = 100;
// Bounds on what one include from a page or the driver may grow into, so that a library
// whose macros include themselves more than once, or double a variable on every level,
// ends with a message instead of running for ever or exhausting memory.
#if defined(FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION) || defined(TOVREL_SMALL_LIMITS)
// Fuzz and unit-test builds keep the same limits at a size reached in milliseconds, so runs
// are spent on new inputs rather than on libraries that use up the whole budget.
constexpr long max_expansions = 1000;
constexpr size_t max_text_len = 64 * 1024;
constexpr unsigned long long max_page_output = 1 << 20;
constexpr unsigned long long max_page_evaluated = 4 << 20;
#else
constexpr long max_expansions = 100000;             // macro expansions below one outer include
constexpr size_t max_text_len = 16ul * 1024 * 1024; // bytes in one evaluated text
// Bounds on one page: bytes the engine writes into it, and bytes of text it evaluates for it
// (the texts references are resolved into), so no library makes a page run for minutes or
// fill the disk.
constexpr unsigned long long max_page_output = 256ull << 20;
constexpr unsigned long long max_page_evaluated = 4ull << 30;
#endif

// The engine's state besides its two stores (bld_html.cpp); reset_inc puts it back to
// these start values, except the verbosity.
struct IncState {
    int verbose = 0;               // the engine's own verbosity, set by set_verbose_inc only
    int lastnargs = 0;             // field count of the most recent include whose macro was found
    int include_depth = 0;         // levels of do_include currently open
    long expansions = 0;           // macro expansions since the outer include began
    bool nesting_reported = false; // the nesting limit was reported for this outer include
    unsigned long long page_output = 0;    // bytes written into the page since begin_page_inc
    unsigned long long page_evaluated = 0; // bytes of text evaluated for the page
    bool page_stopped = false;             // the page reached a bound: nothing more is done
    int failures = 0;                      // failures reported since start or since reset_inc
    bool checking = false;                 // check mode (begin_check_inc) is on
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

// The failures the engine reports; subject is the name or text each message shows.
enum IncFault {
    FAULT_OPEN,      // the library cannot be opened (subject: its path)
    FAULT_READ,      // the library cannot be read
    FAULT_CR_ONLY,   // the library's lines end in CR alone
    FAULT_UNKNOWN,   // an include of a macro the library does not define (subject: the name)
    FAULT_NESTING,   // the nesting limit
    FAULT_EXPANSION, // the expansion budget of one outer include
    FAULT_TOO_LONG,  // an evaluated text would grow too long (subject: the reference)
    FAULT_COMMAND,   // an exec line's command is none of set, clear and if (subject: the text)
};

// Reports a failure the engine met, counted for inc_failures: its message on standard error,
// or in check mode a located diagnostic.
void inc_failure(IncFault fault, const char *subject);
// Reports a warning on standard error; warnings are not counted.
[[gnu::format(printf, 1, 2)]] void inc_warning(const char *fmt, ...);

// Page output (inc_output.cpp). write_output writes len bytes of text to fp, perhaps held back
// for a while: they reach fp before the outermost engine call returns and before
// flush_output returns. Most pieces are short, so the usual case is inline.
struct HeldOutput {
    FILE *fp;    // the stream the held bytes are for
    char *end;   // the end of the held bytes
    char *limit; // the end of the buffer
};
extern HeldOutput held_output;
void write_output_slow(FILE *fp, const char *text, size_t len);
inline void write_output(FILE *fp, const char *text, size_t len)
{
    if (fp == held_output.fp && len <= static_cast<size_t>(held_output.limit - held_output.end)) {
        std::memcpy(held_output.end, text, len);
        held_output.end += len;
        return;
    }
    write_output_slow(fp, text, len);
}
// Writes what is held back; called before the engine writes to a stream itself.
void flush_output();
// Every public call that writes output runs between these two; the outermost end_output
// writes what is held back.
void begin_output();
void end_output();
// A number for the outermost engine call now running (a new one for each), or 0 outside any.
// Only the caller changes incs, never the engine, so a body seen in one call is still the
// same body, with the same lines, until that call returns.
extern unsigned long open_entry;

// Counts n bytes written into the page, or evaluated for it; past a bound the page stops.
void count_page_output(size_t n);
void count_page_evaluated(size_t n);

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
// Where a caller found a macro last: a position in incs, used only once the name stored there
// is seen to be the one asked for.
struct MacroHint {
    int pos = -1;
};
// find_inc, trying first the position *hint names, and then updating *hint.
int find_inc_hinted(const char *name, MacroHint *hint);
// Frees incs and every macro body in it, and what the loader noted; incs is null afterwards.
void free_macros();

// What the loader notes of the library for check mode: its path, each macro's opening line,
// and the problems it met, each at its line (0: the file as a whole).
enum LibProblem { LIB_OPEN, LIB_READ, LIB_CR_ONLY, LIB_UNCLOSED, LIB_BLANK_CLOSE, LIB_TWICE };
struct LibFinding {
    LibProblem problem;
    int line;
    int first_line;   // LIB_TWICE: the line of the earlier definition
    std::string name; // the macro's name; the system's reason for LIB_OPEN and LIB_READ
};
struct MacroSite {
    std::string name;     // as the opening line spells it
    int line = 0;         // the opening line (0: not from the library)
    bool closed = false;  // a closing line ended it (not the end of the file)
    bool reached = false; // check mode: some page's expansion included it
};
// The library's path as bld_inc opened it ("" before it).
const char *library_path();
// The findings of the last load, in the order met.
const std::vector<LibFinding> &library_findings();

// The variable store (inc_vars.cpp). Where a caller found a variable last: a slot in vars,
// used only once the name stored there is seen to be the one asked for.
struct VarHint {
    int slot = -1;
    // A hint that keeps a spare holds the buffer of the value last blanked through it (its
    // own, no longer the store's), for the next value set through it: argument variables
    // are blanked and set again include after include.
    bool keeps_spare = false;
    char *spare = nullptr;
    size_t spare_size = 0;
};
// Finds the variable name like get_val, trying the slot *hint names first, and updates *hint.
const char *get_val_hinted(const char *name, VarHint *hint);
// Stores value (null or empty: blank) under name; name and value stay the caller's.
void store_var(const char *name, const char *value);
// store_var trying the slot *hint names first, as get_val_hinted.
void store_var_hinted(const char *name, const char *value, VarHint *hint);
// Publishes the arguments of one include (args[1] to args[nargs - 1]) as arg1.. and nargs,
// and blanks the argument variables a previous include with more fields left behind.
void publish_args(int nargs, char **args);
// Runs the assignment text name|value (a second '|' ends the value; no '|': a blank value).
void do_set(const char *str);
// Blanks the whole store: no variables afterwards.
void do_clear();
// Frees vars; it is null afterwards.
void free_vars();
// Check mode: the page that last set the variable name (0: none during the check) and the
// site it did so at, or false when name is unknown.
struct IncSite {
    const char *path = ""; // the page's or the library's path (kept by the check)
    int line = 0;
};
bool var_origin(const char *name, int *page, IncSite *site);
// Forgets where the variables were set.
void forget_var_origins();
// Every variable name set since check mode began, blank values included.
const std::unordered_set<std::string> &names_set_in_check();

// Check mode (inc_check.cpp): where the expansion stands and what it met.
// The site of the line being expanded now.
IncSite *check_here();
// An include of name (body found in the library) begins or ends; the site is kept for notes.
void check_enter(const char *name, const ProdAlphaList *body);
void check_leave();
// The macro being expanded is at its body line i.
void check_body_line(int i);
// The number of the page being checked (from 1), and the line its body starts at.
int check_first_body_line();
int check_page_number();
// A reference $[name] to a variable is resolved.
void check_reference(const char *name);
// The build writes text (len bytes) at the current site.
void check_text(const char *text, size_t len);
// The library line '>name' at line stands inside a macro left open before it.
void check_swallowed(const char *name, int line);
// Reports fault located (called by inc_failure in check mode).
void check_fault(IncFault fault, const char *subject);
// An if command with fewer than five fields, or with an operator no relation code has.
void check_short_condition(int fields);
void check_unknown_operator(std::string_view op);
// An include of name with nargs fields is about to be looked up.
void check_include_fields(const char *name, int nargs);
// The macro of an include of name with nargs fields writes $[written] in a text line, at
// written_line of the library (0: not known).
void check_arguments(const char *name, int nargs, int written, int written_line);
// A reference to the variable name was blank.
void check_blank_reference(const char *name);
// A sub-menu item's include begins (on) or ends.
void check_submenu_item(bool on);

// Bodies and references (inc_body.cpp). True when a text of have bytes may grow by more;
// otherwise the reference name is reported as too long to insert.
bool text_fits(size_t have, size_t more, const char *name);
// Sets *out to str (null: "") with every $[name] reference resolved, counted as evaluated for
// the page. Not reentrant.
void eval_into(std::string *out, const char *str, int nargs, char **args);
// The parsed form of a body: its lines, each knowing its source line, those with references
// cut at them.
struct ParsedBody;
// The parsed form of body, made again whenever body's lines are no longer those it was made
// from. Owned by the engine; valid until the body leaves incs.
ParsedBody *parsed_form(const ProdAlphaList *body);
// The loader parses a new macro body, opened at the given site of the library.
void note_library_macro(const ProdAlphaList *body, const MacroSite &site);
// Drops the parsed form of a body about to be freed, or of every body.
void forget_parsed(const ProdAlphaList *body);
void forget_all_parsed();
// The library site of body, or null for a body not from the library.
MacroSite *macro_site(const ProdAlphaList *body);
// Writes the expansion of parsed into outf (null: standard output), with process_include's
// traces; name serves the traces only.
void expand_body(FILE *outf, const char *name, ParsedBody *parsed, int nargs, char **args);
// Check mode: warns when the include of name with nargs fields gives fewer arguments than
// a text line of parsed writes.
void check_written_arguments(const char *name, int nargs, const ParsedBody *parsed);

// Expansion (inc_expand.cpp). The one way an include text is included: str (len bytes as
// received, for the trace) is cut at its line end, split at '|', and its macro included.
// hint, when not null, is handed to find_inc_hinted.
void include_text(FILE *outf, const char *str, size_t len, MacroHint *hint);
// Includes the macro args[0] names (name is "" when nargs is 0) with these arguments.
void include_fields(FILE *outf, const char *name, int nargs, char **args, MacroHint *hint);
// Runs the command text str (set, clear or if, then '|' and the rest); if writes to fp.
void do_exec(FILE *fp, const char *str, int nargs, char **args);

#endif
