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

// Holding, for texts not known yet that must come before what follows them: while
// gathering, everything for standard error from now on is kept (messages too) until
// release_gathered. When the buffer cannot keep more, release (given here) is called first;
// it must call release_gathered. Does nothing unless gathering; while holding, nothing more.
void hold_gathered(void (*release)());

// Where the next text kept would begin: a place for release_gathered to put a text at.
size_t gathered_size();

// Ends holding: each of the n texts takes its place at its position (a gathered_size taken
// while holding; ascending), before all that was kept after it. Does nothing unless holding.
void release_gathered(size_t n, const size_t *at, const char *const *texts);

#endif
