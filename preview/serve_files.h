// What the preview server sends for a request path: the file it names below the served
// directory (never a dot file, never by a link leading out), its content type, the part of it
// a Range header asks for, and an HTML page with the live-reload script put in, read from the
// file as the client takes it (never whole into memory).
#ifndef SERVE_FILES_H
#define SERVE_FILES_H

#include <cstdint>
#include <string>

// What a request path names: a regular file, a directory to be asked for with a final '/',
// or nothing.
enum Found { FOUND_FILE, FOUND_DIR_NO_SLASH, FOUND_NOTHING };

// Opens the file that path (decoded, beginning with '/') names below root_dir; on FOUND_FILE
// sets *fd to it (the caller closes it) and *name to its file name.
Found open_request(const std::string &root_dir, const std::string &path, int *fd,
                   std::string *name);

// The content type of a file, from the extension of its name (a static string).
const char *content_type(const std::string &name);

// The URL-encoded last segment of path, for a relative redirect.
std::string encoded_last_segment(const std::string &path);

// What a Range header asks of a file of size bytes: nothing (serve it all; also for a
// header that is not one single byte range), one range *first to *last (both included), or a
// range past the end.
enum RangeAsked { RANGE_WHOLE, RANGE_PART, RANGE_UNSATISFIABLE };
RangeAsked parse_range(const char *header, uint64_t size, uint64_t *first, uint64_t *last);

// An HTML file being sent with a script put in before its last "</body" (in any case), or at
// its end: made by open_html_body, read by read_html_body, freed by free_html_body.
struct HtmlBody;

// Takes ownership of fd, a regular file of size bytes. When find_body_end is false (a HEAD
// request) nothing is read now. Returns a new body the caller frees with free_html_body, or
// nullptr (fd closed) when it cannot be made.
HtmlBody *open_html_body(int fd, uint64_t size, const std::string &script, bool find_body_end);

// The number of bytes the body sends: the file's and the script's.
uint64_t html_body_size(const HtmlBody *body);

// Copies up to max bytes of the body from offset pos into buf; returns their number, or -1
// when the file cannot be read (it ends early or fails).
long read_html_body(HtmlBody *body, uint64_t pos, char *buf, size_t max);

// Closes the body's file and frees it.
void free_html_body(HtmlBody *body);

#endif
