// Leaving nothing behind: the one file a build may have to remove if the run ends under it
// (the hidden name of a page being put in place), and the signal set-up that removes it.
// (The watch mode blocks these signals and takes them through a descriptor instead: it stops
// between pages.)
#ifndef CLEANUP_H
#define CLEANUP_H

// Names the file to remove if the run is interrupted or runs out of memory now; nullptr for
// none. Borrows path: it must stay valid until the next call.
void set_cleanup_file(const char *path);

// SIGINT, SIGTERM, SIGHUP and SIGPIPE (those not ignored at start) remove the cleanup file, then
// end the program by that signal; running out of memory removes it too; SIGXFSZ is ignored, so a
// write past the file size limit fails and is reported like any other write error.
void install_signal_cleanup();

#endif
