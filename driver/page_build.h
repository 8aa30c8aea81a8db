// The build of one page (tovrel): the page file read, the frame macros around its header
// lines, body and sub-menu, and the page put in place; every failure reported here.
#ifndef PAGE_BUILD_H
#define PAGE_BUILD_H

#include <cstdio>
#include <string_view>

// Builds the page named fname (anything from ".html" on is cut off). Every failure is
// reported on standard error, counted, and ends this page's build only.
void tovrel(const char *fname);

enum PageResult { PAGE_WRITTEN, PAGE_UNREADABLE, PAGE_CR_ONLY, PAGE_EMPTY, PAGE_TOO_LARGE };

// Writes the page read from inf to outf: the frame macros around the header lines, the body
// and the sub-menu. The title is the whole first line up to its first CR or LF; name is the
// page's name for messages. Returns PAGE_UNREADABLE when the page file could not be read to
// its end (the sub-menu pass rewinds it, which would hide an error of the body pass, so each
// pass is checked on its own), PAGE_CR_ONLY, having written nothing, for a file whose
// lines end in CR alone: it would read as a title only, and PAGE_EMPTY, having written
// nothing and reported it, for an empty file, and PAGE_TOO_LARGE when the page reached one of
// the engine's page bounds (its output is then cut). A UTF-8 byte-order mark before the
// title is not part of it.
PageResult write_page(FILE *outf, FILE *inf, const char *name);

// True when line, read after the title, ends the header lines: it begins with LF, CR or NUL
// (or is empty, at the end of the file). That line is consumed and not copied.
bool ends_header_lines(std::string_view line);

// While one lives, the announcements the pages gather for standard error (support/gather.h)
// are written when the buffer fills, before any other message, and when it dies, rather than
// after each page: a batch then spares a write per page.
struct BatchGathering {
    BatchGathering();
    ~BatchGathering();
    BatchGathering(const BatchGathering &) = delete;
    BatchGathering &operator=(const BatchGathering &) = delete;
};

#endif
