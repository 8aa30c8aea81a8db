// Writing one output page safely: the page is written to a temporary file beside it and put
// in place only when complete, so a failed build never leaves a cut page, and a page that
// replaces another keeps that page's permission bits.
#ifndef PAGE_OUTPUT_H
#define PAGE_OUTPUT_H

#include <cstdio>
#include <string>

#include <sys/stat.h>

// A page being written.
struct PageOutput {
    std::string path; // the file to replace (a linked page's target)
    std::string temp; // the temporary file, its name beginning with '.'
    FILE *fp = nullptr;
};

// Makes ready to write the page outpath for the page file inpath, whose status is in_st.
// Returns false, with a message, when the page must not or cannot be written: it is the
// input itself, or it cannot be created. On success out->fp is the stream to write; the page
// is then ended by finish_page_output or abandon_page_output.
bool open_page_output(const struct stat &in_st, const std::string &inpath,
                      const std::string &outpath, PageOutput *out);

// Closes the written page and puts it in place of the old one. On any write error the
// temporary file is removed, the old page stays, and the error is reported with outpath.
void finish_page_output(PageOutput *out, const std::string &outpath);

// Drops the page being written; the old page stays as it was.
void abandon_page_output(PageOutput *out);

#endif
