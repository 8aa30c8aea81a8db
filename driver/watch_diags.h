// The diagnostics of the watch mode's builds: each build runs under the engine's check mode,
// and what it writes to standard error is taken line by line, sorted by kind, counted,
// written on or held back, and kept for the preview server.
#ifndef WATCH_DIAGS_H
#define WATCH_DIAGS_H

#include <set>
#include <string>
#include <vector>

#include "engine/bld_html.h"

// One line a build wrote to standard error, without its line feed. A line that is no
// "PATH:LINE: kind: TEXT" diagnostic (a failure of the driver's) counts as an error.
struct WatchDiag {
    IncDiag kind;
    std::string line;
};

// Which of the lines taken reach standard error (a note goes with the line before it).
enum DiagEcho { ECHO_ALL, ECHO_ERRORS, ECHO_NONE };

struct DiagCapture {
    DiagEcho echo = ECHO_ALL;
    std::set<std::string> *said = nullptr; // borrowed, may be null: a line in it is not said
                                           // again, and each line said is added
    std::vector<WatchDiag> diags;          // what was taken, in order
    int errors = 0;
    int warnings = 0;
};

// From here until end_diag_capture, standard error is taken into cap (borrowed until then).
// Captures do not nest.
void begin_diag_capture(DiagCapture *cap);
void end_diag_capture();

// Builds the page named page as the driver's tovrel does, under check mode: the library's own
// diagnostics go into lib, which writes none of them, then the page's into cap. Its links are
// checked within the check of links begun by the caller (check_links.h), which for a batch
// says a link of a library line once.
void checked_build(const std::string &page, DiagCapture *lib, DiagCapture *cap);

// The text of the source line a diagnostic line "PATH:LINE: kind: TEXT" is located at,
// without its line end and cut at 200 bytes (then followed by "..."); "" when it has no line
// or it cannot be read.
std::string source_of(const WatchDiag &diag);

// ": 1 error, 2 warnings" for the status line, or "" when there were none.
std::string diag_counts(int errors, int warnings);

#endif
