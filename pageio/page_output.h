// Writing one output page safely. The page is built in memory (a large one goes on into its
// file), then written to a file without a name (or, where the file system cannot make one, to
// a hidden temporary file beside the page, registered for removal with pageio/cleanup.h while
// it exists) and put in place only when complete, so a failed or interrupted build never
// leaves a cut page or a stray file. A page whose bytes are exactly those of the page in place
// (a regular file with one link) is not written: that file stays and only its modification
// time is set to now, so it counts as up to date. A page that replaces another keeps that
// page's permission bits, group, and owner when the program runs as root. What stands at the
// page's path is replaced, never written through: a link there is replaced by the page, and
// the file it points to stays as it is. Nothing here prints: each function returns its status
// and leaves the system's reason in the PageOutput.
#ifndef PAGE_OUTPUT_H
#define PAGE_OUTPUT_H

#include <cstdio>
#include <string>

#include <sys/stat.h>

// A page being written.
struct PageOutput {
    std::string path;      // the page's path
    std::string temp;      // the hidden temporary file, while there is one
    bool replaces = false; // something stands at path and is replaced
    struct stat old;       // what stands at path (lstat), when replaces
    int fd = -1;           // the new file, owned until the page is finished or abandoned
    FILE *fp = nullptr;    // the stream the page is built into; shared, never closed
    int error = 0;         // the system's reason (an errno value) for the last failure
};

enum PageOpen { PAGE_OPENED, PAGE_OPEN_IS_INPUT, PAGE_OPEN_FAILED };

// Makes ready to write the page outpath for the page file whose status is in_st. Returns
// PAGE_OPENED, with out->fp the stream to write (the page is then ended by
// finish_page_output or abandon_page_output); PAGE_OPEN_IS_INPUT, having made nothing, when
// outpath is the page file itself; PAGE_OPEN_FAILED, with out->error, when the page cannot be
// created or something other than a page or a link stands at outpath.
PageOpen open_page_output(const struct stat &in_st, const std::string &outpath, PageOutput *out);

// Puts the built page in place of the old one, or, when may_keep (its build reported no
// failure) and the old page holds the same bytes, keeps the old page and sets its time.
// Returns false, with out->error, on any write error: nothing is then left behind and the old
// page stays.
bool finish_page_output(PageOutput *out, bool may_keep);

// Drops the page being written; the old page stays as it was.
void abandon_page_output(PageOutput *out);

#endif
