// Writing one output page safely. The page is built in memory (a large one goes on into its
// file), then written to a file without a name (or, where the file system cannot make one, to
// a hidden temporary file beside the page) and put in place only when complete, so a failed or
// interrupted build never leaves a cut page or a stray file. A page whose bytes are exactly
// those of the page in place (a regular file with one link) is not written: that file stays
// and only its modification time is set to now, so it counts as up to date. A page that replaces
// another keeps that page's permission bits, group, and owner when the program runs as root. What
// stands at the page's path is replaced, never written through: a link there is replaced by the
// page, and the file it points to stays as it is.
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
};

// Makes ready to write the page outpath for the page file inpath, whose status is in_st.
// Returns false, with a message, when the page must not or cannot be written: it is the
// input itself, or it cannot be created. On success out->fp is the stream to write; the page
// is then ended by finish_page_output or abandon_page_output.
bool open_page_output(const struct stat &in_st, const std::string &inpath,
                      const std::string &outpath, PageOutput *out);

// Puts the built page in place of the old one, or, when may_keep (its build reported no
// failure) and the old page holds the same bytes, keeps the old page and sets its time. On
// any write error nothing is left behind, the old page stays, and the error is reported with
// out->path.
void finish_page_output(PageOutput *out, bool may_keep);

// Drops the page being written; the old page stays as it was.
void abandon_page_output(PageOutput *out);

#endif
