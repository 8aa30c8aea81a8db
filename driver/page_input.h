// Reading one page file. A regular file of modest size is read whole into memory, where its
// lines are read as they stand (the sub-menu pass rereads them without touching the disk
// again); anything else is read as a stream from the file.
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
    FILE *fp = nullptr; // made by load_page_input for a page not held in memory
    std::string data;   // the page, when it is held in memory
};

// Opens the page file in->path for reading and fills in->st. Returns false when it cannot be
// opened or is a directory; nothing is then left open.
bool open_page_input(PageInput *in);

// Makes the page ready to read: in->data holds it when it is held in memory (a regular file
// of modest size that is not empty; in->fp stays null then), else in->fp is the stream it is
// read from. Returns false when the file cannot be read; close_page_input still releases what
// is open.
bool load_page_input(PageInput *in);

// Closes whatever of in is open. Safe to call on any PageInput, opened or not.
void close_page_input(PageInput *in);

#endif
