// Gathered announcements on standard error. A build announces every exec line it runs, and a
// write of its own for each costs a system call per line. Once gather_stderr has run, the
// texts given to gather_text wait in one buffer and reach standard error, in the order they
// were given, before anything else does: stderr is replaced by a stream that writes them
// first, so every later message on it still follows them. flush_gathered writes them at once
// (the driver calls it when a page is done; the process does at exit). The module owns the
// buffer and the stream; nothing is allocated after gather_stderr.
#ifndef GATHER_H
#define GATHER_H

#include <cstddef>

// Starts gathering, unless standard error is a terminal: someone reads it as it comes, maybe
// mixed with standard output or under a progress line, so every text goes out at once there.
// Returns true when gathering is on. Calling it again changes nothing.
bool gather_stderr();

// True once gather_stderr has started gathering.
bool stderr_gathered();

// Writes the C string text to standard error, or keeps it for later while gathering.
void gather_text(const char *text);

// Writes what is kept, if anything, to standard error. Safe to call from a signal handler
// (it uses write alone on memory it owns).
void flush_gathered();

#endif
