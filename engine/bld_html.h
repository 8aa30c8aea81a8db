// The include engine: loads the include library into the macro index, keeps the variable
// store, resolves $[...] references and conditions, expands include texts (with the commands
// set, clear and if and nested includes), and transforms a page body and its sub-menu.
// The macro index incs and the variable store vars are process-wide and live until exit or
// reset_inc. Failures met while loading or expanding are reported on standard error and
// counted (inc_failures).
#ifndef BLD_HTML_H
#define BLD_HTML_H

#include <cstddef>
#include <cstdio>

#include "support/prodlist.h"
#include "support/read_line.h"

// Macro index: lower-cased macro name -> ProdAlphaList* body, in ascending order of names.
// Null until the first macro. A caller may search and change it with the list operations
// (bsearch_aptr_prodlist, bupdate_aptr_prodlist); the engine sees every change at once.
extern ProdAPtrList *incs;
// Variable store: name -> value string (null for a blank variable), in ascending order of
// names, read and changed like incs. Null until the first macro.
extern ProdAPtrList *vars;

// Returns the value of the variable var, owned by the store, or null (blank, unknown, or no
// store). It stays valid until the variable is assigned again or the store is cleared.
const char *get_val(const char *var);

// Sets the engine's own verbosity.
void set_verbose_inc(int val);

// Puts the engine back to its start state: frees every macro and variable (incs and vars
// are null afterwards), sets the argument count to 0, the runaway counters to rest and the
// failure count to 0. The verbosity stays.
void reset_inc();

// Forgets every variable and sets the argument count to 0; the macros stay.
void reset_vars_inc();

// Returns how many failures the engine has reported since start or since reset_inc: a
// library it could not open or read (or one with only CR line ends), unknown macros, the
// nesting and expansion limits, texts too long, invalid commands. Warnings (a macro
// overridden) do not count.
int inc_failures();

// Starts the bounds of a page: from here, the bytes the engine writes and the text it
// evaluates are counted, and once either passes its bound (256 MiB written, 4 GiB evaluated)
// the engine writes and expands nothing more until the next begin_page_inc.
void begin_page_inc();
// Returns 1 when the page begun last reached a bound (its output is then cut), else 0.
int page_too_large_inc();

// Loads the include library fname into incs. Failures are reported on standard error.
void bld_inc(const char *fname);

// Expands the include text str (name, then arguments, separated by '|'; it ends at its first
// CR or LF) into outf. An unknown macro is reported on standard error and writes nothing.
void do_include(FILE *outf, const char *str);

// Writes the expansion of body into outf (standard output when outf is null). name serves
// the diagnostics only; args holds nargs strings (null entries allowed).
void process_include(FILE *outf, const char *name, ProdAlphaList *body, int nargs, char **args);

// Returns a new copy of str with every $[name] reference resolved; the caller frees it with
// free.
char *evalstr(const char *str, int nargs, char **args);

// Returns the relation code of a comparison operator: < 4, <= 6, == and = 2, > 1, >= 3,
// != and <> 5, anything else 0.
int evalrelop(const char *str);

// Runs the condition text str1|relop|str2|truestr|falsestr and writes the chosen text to fp.
// Returns 0, or 1 to 4 when the separator after that field is missing (nothing written).
int do_if(FILE *fp, const char *str, int nargs, char **args);

// Transforms the rest of the page inf (from its current position) into outf: text lines
// copied byte for byte, include lines expanded, exec lines run.
void bld_html(FILE *outf, FILE *inf);

// bld_html for a page file held in memory: transforms the lines of text from text->at to
// its end. The byte at text->end must be a NUL (the text is borrowed).
void bld_html_text(FILE *outf, TextLines *text);

// find_smenu for a page file held in memory: the whole of text (from text.at, which should
// be the start of the page), followed by a NUL byte as for bld_html_text. Right after
// bld_html_text over the rest of the same text (unchanged since), it reads again only the
// lines before that rest and takes the sub-link lines the body pass noted.
void find_smenu_text(FILE *outf, TextLines text);

// Rewinds inf and writes the sub-menu (SubMenuStart, one SubMenuItem per sub-link line,
// SubMenuEnd) to outf. Leaves inf at its end.
void find_smenu(FILE *outf, FILE *inf);

// Returns a new copy of str with every '&' written as "&amp;", which the caller frees with
// free; nullptr (with a message) when str holds more than 512 characters.
char *htmlsafe(const char *str);

// Check mode. While it is on, the engine's failure messages and the announcements of a
// page's exec lines give way to located diagnostics on standard error, one per line:
// "PATH:LINE: error: TEXT", "... warning: ...", "... note: ..." (traces stay as they are).
enum IncDiag { DIAG_ERROR, DIAG_WARNING, DIAG_NOTE };

// Called with every text a checked build writes (len bytes, not NUL-terminated) and the
// path and line of the page or library line it comes from.
typedef void (*IncTextHook)(const char *text, size_t len, const char *path, int line);

// Turns check mode on with no errors or warnings counted; text_hook may be null. From here
// to end_check_inc, an error or warning the engine has written once (the same text at the
// same place) is not written or counted again: a check that should say everything again
// begins anew.
void begin_check_inc(IncTextHook text_hook);

// Reports the library's own problems as the loader met them, located, in line order: a
// library it could not use, a macro without closing line, '>' followed by blanks, a macro
// defined twice, and a line '>Name' that shows a macro left open before it.
void check_library_inc();

// The page at path is checked next; its body starts at line body_line. The includes the
// build makes itself are located at line 1. The engine keeps a copy of path.
void check_page_inc(const char *path, int body_line);

// Warns of every macro no checked page has reached (the frame and sub-menu macros count as
// reached).
void check_unreached_inc();

// Warns, once for each name, at its first reference, of every variable that a reference
// found blank and that nothing set since check mode began (argument variables and nargs
// aside), suggesting a set name at most two edits away.
void check_unset_inc();

// While a sub-menu item's include is expanded in check mode: returns the line of the page's
// sub-link line that led to it and sets *path to the page's path. Otherwise returns 0.
int check_sublink_line_inc(const char **path);

// Turns check mode off; *errors and *warnings receive what it counted.
void end_check_inc(int *errors, int *warnings);

// Writes the diagnostic "path:line: kind: text" (just "path: kind: text" when line is 0) to
// standard error; errors and warnings are counted while check mode is on, and written once
// (notes always).
[[gnu::format(printf, 4, 5)]] void diag_inc(IncDiag kind, const char *path, int line,
                                            const char *fmt, ...);

// A saved copy of the variables and the argument count: save_vars_inc returns a new one,
// which restore_vars_inc puts back (the variables set since are forgotten) and frees.
struct IncVarsSave;
IncVarsSave *save_vars_inc();
void restore_vars_inc(IncVarsSave *save);

#endif
