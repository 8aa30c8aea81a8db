#include "driver/watch.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "driver/page_names.h"
#include "driver/settings.h"
#include "driver/watch_internal.h"
#include "preview/serve.h"

namespace {

// One save (a write, or a new file renamed over the old, with a backup beside it) comes as a
// burst of events; a page is built when its events have paused this long...
constexpr auto settle = std::chrono::milliseconds(50);
// ...or this long after the first, so a file written without pause still gets built.
constexpr auto settle_max = std::chrono::milliseconds(250);
// Where inotify is missing or has no watch left, the files are looked at this often.
constexpr auto poll_interval = std::chrono::seconds(1);
const char library_dir[] = "include";
const char library_name[] = "include.txt";
constexpr uint32_t dir_events = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                                IN_CREATE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

bool preview_set = false; // -p was given
PreviewAddress preview;

// Records an event for the page (or the library, when page is null) at now.
void note_change(Watch *w, const std::string *page, bool own)
{
    WatchClock::time_point now = WatchClock::now();
    Pending *p = &w->lib;
    if (page != nullptr) {
        auto [it, added] = w->pages.try_emplace(*page);
        p = &it->second;
        if (added)
            p->first = now;
    } else if (!w->lib_changed) {
        w->lib_changed = true;
        p->first = now;
    }
    p->own = p->own || own;
    p->due = std::min(now + settle, p->first + settle_max);
}

// Marks every page whose file differs from when it was last seen (or is gone since).
void scan_pages(Watch *w)
{
    bool listed;
    std::vector<std::string> listing = list_pages(w->page_dir, &listed);
    std::set<std::string> pages(listing.begin(), listing.end());
    for (const auto &[page, sig] : w->seen)
        if (sig.exists)
            pages.insert(page);
    for (const std::string &page : pages)
        if (!same_sig(file_sig(page_file(page)), w->seen[page]))
            note_change(w, &page, true);
}

void scan_library(Watch *w)
{
    if (!same_sig(file_sig(library_path), w->lib_seen))
        note_change(w, nullptr, true);
}

// Adds the inotify watches that are missing. Returns true when all are in place.
bool add_watches(Watch *w)
{
    if (w->notify < 0)
        return false;
    if (w->page_wd < 0)
        w->page_wd = inotify_add_watch(w->notify, w->page_dir.c_str(), dir_events);
    if (w->lib_wd < 0)
        w->lib_wd = inotify_add_watch(w->notify, library_dir, dir_events);
    return w->page_wd >= 0 && w->lib_wd >= 0;
}

// Every poll interval: watches what it can, and looks at the pages when their directory is
// not watched (one watched only now may have changed before its watch began). The library is
// looked at every time: one stat, and it sees the edits of a library reached through a link,
// which no watch of its directory shows.
void poll_files(Watch *w)
{
    bool pages_polled = w->page_wd < 0;
    add_watches(w);
    if (pages_polled)
        scan_pages(w);
    scan_library(w);
    w->next_poll = WatchClock::now() + poll_interval;
}

// A watched directory was removed or moved away: it is polled until it is back.
void drop_watch(Watch *w, int *wd)
{
    inotify_rm_watch(w->notify, *wd);
    *wd = -1;
}

void take_event(Watch *w, const struct inotify_event *ev)
{
    if (ev->mask & IN_Q_OVERFLOW) { // events were lost: look at everything
        scan_pages(w);
        scan_library(w);
        return;
    }
    bool gone = (ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) != 0;
    std::string name = ev->len > 0 ? ev->name : "";
    std::string page;
    if (ev->wd == w->page_wd && gone)
        drop_watch(w, &w->page_wd);
    else if (ev->wd == w->page_wd && page_of_entry(name.c_str(), &page))
        note_change(w, &page, name == page + ".html");
    if (ev->wd == w->lib_wd && gone)
        drop_watch(w, &w->lib_wd);
    else if (ev->wd == w->lib_wd && name == library_name)
        note_change(w, nullptr, true);
}

void read_events(Watch *w)
{
    alignas(struct inotify_event) char buf[1 << 16];
    ssize_t n = read(w->notify, buf, sizeof buf);
    for (ssize_t at = 0; at < n;) {
        const auto *ev = reinterpret_cast<const struct inotify_event *>(buf + at);
        take_event(w, ev);
        at += static_cast<ssize_t>(sizeof(struct inotify_event) + ev->len);
    }
}

} // namespace

bool library_changed(Watch *w)
{
    struct pollfd fd = {w->notify, POLLIN, 0};
    if (w->notify >= 0 && poll(&fd, 1, 0) > 0)
        read_events(w);
    scan_library(w);
    return w->lib_changed;
}

namespace {

// Milliseconds until the next page settles or the next poll is due.
int wait_time(const Watch &w)
{
    WatchClock::time_point next = w.next_poll;
    if (w.lib_changed)
        next = std::min(next, w.lib.due);
    for (const auto &[page, pending] : w.pages)
        next = std::min(next, pending.due);
    auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - WatchClock::now());
    return static_cast<int>(std::max<long long>(0, wait.count()));
}

// Builds what has settled: everything after a library change, else each settled page.
void build_settled(Watch *w)
{
    WatchClock::time_point now = WatchClock::now();
    if (w->lib_changed && w->lib.due <= now) {
        build_all(w);
        return;
    }
    std::vector<std::pair<std::string, bool>> ready;
    for (const auto &[page, pending] : w->pages)
        if (pending.due <= now)
            ready.emplace_back(page, pending.own);
    for (const auto &[page, own] : ready) {
        if (stop_requested(w))
            return;
        w->pages.erase(page);
        page_settled(w, page, own);
    }
}

void watch_loop(Watch *w)
{
    while (!stop_requested(w)) {
        struct pollfd fds[2] = {{w->signals, POLLIN, 0}, {w->notify, POLLIN, 0}};
        int ready = poll(fds, w->notify >= 0 ? 2 : 1, wait_time(*w));
        if (ready < 0 && errno != EINTR)
            break;
        if (stop_requested(w))
            break;
        if (w->notify >= 0 && (fds[1].revents & POLLIN))
            read_events(w);
        if (WatchClock::now() >= w->next_poll)
            poll_files(w);
        build_settled(w);
    }
}

// Blocks SIGINT, SIGTERM and SIGHUP in every thread (the server's threads are started after
// this and inherit it), so they are only taken from w->signals, between pages.
bool open_signals(Watch *w)
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, sig);
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0)
        return false;
    w->signals = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    return w->signals >= 0;
}

void announce(const Watch &w, const std::string &url)
{
    std::string line = Prog + ": watching " + w.page_dir + " and " + library_path;
    if (!url.empty())
        line += ", serving " + outdir + " at " + url;
    if (w.notify < 0)
        line += " (looking every second)";
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

} // namespace

int set_preview_address(const char *text)
{
    if (!preview_built) {
        std::fprintf(stderr, "%s: This build has no preview server (-p %s)\n", Prog.c_str(), text);
        return -1;
    }
    if (parse_preview_address(text, &preview) != 0) {
        std::fprintf(stderr, "%s: Invalid port or address for -p (%s)\n", Prog.c_str(), text);
        return -1;
    }
    preview_set = true;
    return 0;
}

int watch_site(int ignored)
{
    if (ignored > 0)
        std::fprintf(stderr, "%s: -w watches until interrupted: %d argument%s after it ignored\n",
                     Prog.c_str(), ignored, ignored == 1 ? "" : "s");
    if (check_dir() != 0)
        return 2;
    Watch w;
    w.page_dir = with_subdir(indir);
    if (!open_signals(&w)) {
        std::fprintf(stderr, "%s: Can't take signals: %s\n", Prog.c_str(), std::strerror(errno));
        return 2;
    }
    std::string url;
    tzset(); // before any thread: the status lines' times are local
    if (preview_set && (w.server = start_preview(&preview, outdir.c_str(), &url)) == nullptr)
        return 2;
    w.notify = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    add_watches(&w);
    build_at_start(&w);
    announce(w, url);
    w.next_poll = WatchClock::now() + poll_interval;
    watch_loop(&w);
    stop_preview(w.server);
    for (int fd : {w.notify, w.signals})
        if (fd >= 0)
            close(fd);
    return 0;
}
