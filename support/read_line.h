// Line reading for text files: read_line delivers the next line without its line end in
// pieces of at most 511 characters; read_whole_line delivers a line of any length with its
// line end, NUL bytes included, for callers that must never split a line.
#ifndef READ_LINE_H
#define READ_LINE_H

#include <cstdio>
#include <string>
#include <string_view>

enum { READ_LINE_BUFSIZE = 512 };

// A pushed-back line (declared for callers; no operation here uses it).
struct read_buf {
    read_buf *next;
    FILE *fp;
    char buf[READ_LINE_BUFSIZE];
};
extern read_buf *ReadBuf;

// Reads up to 511 characters, up to and including the first line feed, into buf (which holds
// 512), and ends the text at its first CR or LF. Returns 0 for a line, -1 at end of input or
// on a read error, 1 when buf or fp is null.
int read_line(char *buf, FILE *fp);
// Stores nothing; returns 1 when buf or fp is null, else 2.
int unread_line(const char *buf, FILE *fp);
// Does nothing and leaves fp open; returns 0.
int readline_close(FILE *fp);

// Replaces line with the next whole line of fp, its line end (if any) included, whatever
// its length and content. Returns false at end of input, on a read error, or when line or fp
// is null; a line too long for the memory left ends the run through die_out_of_memory().
bool read_whole_line(std::string *line, FILE *fp);

// True when first_line, the first line read_whole_line gave for a file, shows a file whose
// lines end in CR alone: the line runs to the end of the file without a line feed and holds a
// CR before its last byte. Such a file reads as one single line.
bool has_only_cr_line_ends(const std::string &first_line);

// A text held in memory, read line by line: the bytes from at up to end, which the caller
// owns and keeps unchanged while it reads them.
struct TextLines {
    const char *at;
    const char *end;
};

// Sets *line to the next line of text, its line feed (if any) included, and moves past it:
// lines are cut at line feeds only, as read_whole_line cuts a file. Returns false at the end.
bool next_text_line(TextLines *text, std::string_view *line);

#endif
