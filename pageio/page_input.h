// Reading one page file. Only a regular file is read: anything else (a FIFO, a device, a
// directory) is refused at once. A file of modest size is read whole into memory, again if it
// changed while it was read, and read back from that memory, so the sub-menu pass
// rereads it without touching the disk again; a larger file is read as a
// stream, and checked for a change once the page is built. A UTF-8 byte-order mark at the
// start of a page held in memory is dropped.
#ifndef PAGE_INPUT_H
#define PAGE_INPUT_H

#include <cstdio>
#include <string>

#include <sys/stat.h>

// A page file being read. Everything it holds is released by close_page_input.
struct PageInput {
    std::string path;
    struct stat st;
    int fd = -1;        // the open file, until fp takes it over
    FILE *fp = nullptr; // the stream a page not held in memory is read from
    std::string data;   // the page, when it is held in memory
};

// Opens the page file in->path for reading and fills in->st. Returns false when it cannot be
// opened or is not a regular file; nothing is then left open.
bool open_page_input(PageInput *in);

// Reads the page: a page of modest size into in->data (a build reads it there), any other
// into in->fp, the stream it is read from. Returns false when the file cannot be read or kept
// changing while it was read; close_page_input still releases what is open.
bool load_page_input(PageInput *in);

// The page loaded, as a stream to read from (made for a page held in memory), or null when
// none can be made.
FILE *page_input_stream(PageInput *in);

// True when the page file has not changed since load_page_input read it (a page read as a
// stream is checked here, after it was built; one held in memory always passes).
bool page_input_unchanged(const PageInput *in);

// Closes whatever of in is open. Safe to call on any PageInput, opened or not.
void close_page_input(PageInput *in);

#endif
