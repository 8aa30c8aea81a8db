// Watch mode (-w): brings the output up to date, then rebuilds a page whenever its file
// changes, and every page whenever the include library changes, until SIGINT, SIGTERM or
// SIGHUP. With an address set by -p it also serves the output directory with live reload
// (preview/serve.h). Builds run on the calling thread only.
#ifndef WATCH_H
#define WATCH_H

// Takes the value of -p: the address a later -w serves at. Returns 0, or -1 with a message
// on standard error when text is not PORT or ADDRESS:PORT, or this build has no preview
// server.
int set_preview_address(const char *text);

// Watches until SIGINT, SIGTERM or SIGHUP; ignored is the number of arguments after -w,
// which are said to be ignored. Returns the exit status: 0 once stopped by a signal, 2 when
// watching could not begin (input and output directory the same, the address of -p not
// available).
int watch_site(int ignored);

#endif
