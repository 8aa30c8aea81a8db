// What the two parts of the watch mode share: the watch loop (driver/watch.cpp: signals,
// inotify, polling, settling) and its builds (driver/watch_build.cpp: what is built when,
// and the line each build prints).
#ifndef WATCH_INTERNAL_H
#define WATCH_INTERNAL_H

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <time.h>

#include "driver/watch_diags.h"

struct PreviewServer;

using WatchClock = std::chrono::steady_clock;

// A file as last seen; any difference means it changed.
struct FileSig {
    bool exists = false;
    bool regular = false; // a plain file (a page file), not a directory or the like
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    struct timespec mtime = {0, 0};
    struct timespec ctime = {0, 0};
};

// The events of one page (or of the library) waiting to settle.
struct Pending {
    WatchClock::time_point first;
    WatchClock::time_point due;
    bool own = false; // the page file itself changed, not only a name that maps to it
};

struct Watch {
    std::string page_dir; // the input directory (with the subdirectory)
    int signals = -1;     // signalfd of SIGINT, SIGTERM and SIGHUP
    int notify = -1;      // inotify, or -1 when it is missing
    int page_wd = -1;     // watch of page_dir, or -1 while it is polled
    int lib_wd = -1;      // watch of the library's directory, or -1 while it is polled
    bool stop = false;    // a signal came: stop after the page being built
    std::map<std::string, Pending> pages;
    bool lib_changed = false;
    Pending lib;
    std::map<std::string, FileSig> seen; // page -> its file when last built or looked at
    FileSig lib_seen;
    WatchClock::time_point next_poll;
    PreviewServer *server = nullptr; // borrowed; null without -p
    DiagCapture lib_diags;           // the library's own, from its last check
};

FileSig file_sig(const std::string &path);
bool same_sig(const FileSig &a, const FileSig &b);
// The page file of page.
std::string page_file(const std::string &page);
// True once SIGINT, SIGTERM or SIGHUP has come.
bool stop_requested(Watch *w);

// Takes the events that came since the last look, without waiting, and looks at the
// library. Returns true when the library has changed since it was loaded.
bool library_changed(Watch *w);

// Builds what -u would build, or every page as -a does when the library is newer than an
// output page.
void build_at_start(Watch *w);
// Loads the library afresh and builds every page as a fresh -a would.
void build_all(Watch *w);
// Acts on the settled events of page: builds it from a fresh variable state, or says once
// that its file is gone. own: the page file itself had an event.
void page_settled(Watch *w, const std::string &page, bool own);

#endif
