#include "driver/watch_internal.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/batch.h"
#include "driver/check_links.h"
#include "driver/page_build.h"
#include "driver/page_names.h"
#include "driver/progress.h"
#include "driver/settings.h"
#include "engine/bld_html.h"
#include "preview/serve.h"
#include "support/util.h"

namespace {

// Prints the time and text as one line on standard output, at once.
void say(const std::string &text)
{
    char stamp[16];
    std::time_t now = std::time(nullptr);
    struct tm local = {};
    // localtime_r reads the time zone once (watch_site does so before the server's threads
    // start), where localtime would read it again at every call, under the HTTP library's
    // Date headers.
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local);
    std::printf("%s %s\n", stamp, text.c_str());
    std::fflush(stdout);
}

double ms_since(WatchClock::time_point start)
{
    return std::chrono::duration<double, std::milli>(WatchClock::now() - start).count();
}

std::string output_file(const std::string &page)
{
    return page_path(outdir, page.c_str());
}

std::string url_path(const std::string &page)
{
    std::string path = "/";
    if (!subdir.empty())
        path.append(subdir).append("/");
    return path.append(page).append(".html");
}

// Tells the pages open in browsers that these pages changed.
void tell_browsers(Watch *w, const std::vector<std::string> &paths)
{
    std::vector<const char *> list;
    list.reserve(paths.size());
    for (const std::string &path : paths)
        list.push_back(path.c_str());
    notify_preview(w->server, list.data(), static_cast<int>(list.size()));
}

// Tells the server the diagnostics of the page at the URL path path ("*": the library's).
void show_diags(Watch *w, const std::string &path, const DiagCapture &diags)
{
    if (w->server == nullptr)
        return;
    constexpr size_t max_sourced = 50; // the overlay shows fewer: the rest need no source line
    std::vector<std::string> sources;
    std::vector<PreviewDiag> list;
    sources.reserve(diags.diags.size());
    for (const WatchDiag &d : diags.diags)
        sources.push_back(sources.size() < max_sourced ? source_of(d) : "");
    for (size_t i = 0; i < diags.diags.size(); i++)
        list.push_back({static_cast<PreviewDiagKind>(diags.diags[i].kind),
                        diags.diags[i].line.c_str(), sources[i].c_str()});
    show_preview_diags(w->server, path.c_str(), list.data(), static_cast<int>(list.size()));
}

} // namespace

bool same_sig(const FileSig &a, const FileSig &b)
{
    return a.exists == b.exists && a.dev == b.dev && a.ino == b.ino && a.size == b.size &&
           compare_times(a.mtime, b.mtime) == 0 && compare_times(a.ctime, b.ctime) == 0;
}

FileSig file_sig(const std::string &path)
{
    FileSig sig;
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return sig;
    sig = {true, S_ISREG(st.st_mode), st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    return sig;
}

std::string page_file(const std::string &page)
{
    return page_path(indir, page.c_str());
}

bool stop_requested(Watch *w)
{
    struct pollfd fd = {w->signals, POLLIN, 0};
    if (!w->stop && poll(&fd, 1, 0) > 0) {
        struct signalfd_siginfo info;
        if (read(w->signals, &info, sizeof info) < 0) {
            // taken already or interrupted: the stop stands either way
        }
        w->stop = true;
    }
    return w->stop;
}

namespace {

// Loads the library afresh when fresh (the loader's messages give way to the located
// diagnostics of its check), and checks it: its diagnostics are written and kept.
void load_library(Watch *w, bool fresh)
{
    if (fresh) {
        DiagCapture dropped;
        dropped.echo = ECHO_NONE;
        begin_diag_capture(&dropped);
        reset_inc();
        bld_inc(library_path);
        end_diag_capture();
    }
    w->lib_diags = DiagCapture();
    begin_check_inc(nullptr);
    begin_diag_capture(&w->lib_diags);
    check_library_inc();
    end_diag_capture();
    int errors, warnings;
    end_check_inc(&errors, &warnings);
    show_diags(w, "*", w->lib_diags);
}

// Builds page from a fresh variable state, as `tovrel page` run alone would, with the
// diagnostics a check of it gives.
void build_page(Watch *w, const std::string &page)
{
    WatchClock::time_point start = WatchClock::now();
    w->seen[page] = file_sig(page_file(page));
    reset_vars_inc();
    bool listed;
    std::vector<std::string> pages = list_pages(w->page_dir, &listed);
    DiagCapture lib, diags;
    lib.echo = ECHO_NONE;
    begin_links(indir.c_str(), outdir.c_str(), subdir.c_str(), pages);
    checked_build(page, &lib, &diags);
    end_links();
    say(strprintf("rebuilt %s (%.1f ms)", page.c_str(), ms_since(start)) +
        diag_counts(diags.errors, diags.warnings));
    show_diags(w, url_path(page), diags);
    tell_browsers(w, {url_path(page)});
}

// The pages of one batch build: each error written once (the same text at the same place is
// not said again), the warnings only counted, the library's among them.
struct BatchDiags {
    std::set<std::string> said;
    int errors;
    int warnings;
};

void build_in_batch(Watch *w, const std::string &page, BatchDiags *batch)
{
    w->seen[page] = file_sig(page_file(page));
    DiagCapture lib, diags;
    lib.echo = ECHO_NONE;
    diags.echo = ECHO_ERRORS;
    diags.said = &batch->said;
    checked_build(page, &lib, &diags);
    batch->errors += diags.errors;
    batch->warnings += diags.warnings;
    show_diags(w, url_path(page), diags);
    step_progress();
}

// "all 3 pages" or, for a batch cut short, "2 of 3 pages".
std::string pages_done(size_t built, size_t total)
{
    return built == total ? strprintf("all %zu pages", total)
                          : strprintf("%zu of %zu pages", built, total);
}

} // namespace

void build_all(Watch *w)
{
    WatchClock::time_point start = WatchClock::now();
    w->lib_seen = file_sig(library_path);
    w->lib_changed = false;
    w->pages.clear();
    load_library(w, true);
    bool listed;
    std::vector<std::string> pages = list_batch_pages(&listed);
    BatchDiags batch = {{}, w->lib_diags.errors, w->lib_diags.warnings};
    size_t built = 0;
    // A library saved again meanwhile ends this build: the loop starts over with it.
    begin_links(indir.c_str(), outdir.c_str(), subdir.c_str(), pages);
    while (built < pages.size() && !stop_requested(w) && !library_changed(w))
        build_in_batch(w, pages[built++], &batch);
    end_links();
    end_progress();
    say(strprintf("rebuilt %s (%.1f ms)", pages_done(built, pages.size()).c_str(),
                  ms_since(start)) +
        diag_counts(batch.errors, batch.warnings));
    tell_browsers(w, {"*"});
}

namespace {

// True when the library is newer than the output page of at least one of pages.
bool library_newer(const std::vector<std::string> &pages)
{
    struct stat lib, out;
    if (stat(library_path, &lib) != 0)
        return false;
    for (const std::string &page : pages)
        if (stat(output_file(page).c_str(), &out) == 0 && out_of_date(lib, out))
            return true;
    return false;
}

} // namespace

void build_at_start(Watch *w)
{
    WatchClock::time_point start = WatchClock::now();
    w->lib_seen = file_sig(library_path);
    load_library(w, false);
    bool listed;
    std::vector<std::string> pages = list_batch_pages(&listed);
    bool all = library_newer(pages);
    reset_vars_inc();
    BatchDiags batch = {{}, w->lib_diags.errors, w->lib_diags.warnings};
    int built = 0;
    begin_links(indir.c_str(), outdir.c_str(), subdir.c_str(), pages);
    for (const std::string &page : pages) {
        if (stop_requested(w))
            break;
        if (all || updated(page.c_str()) == 0) {
            if (!all)
                reset_vars_inc();
            build_in_batch(w, page, &batch);
            built++;
        } else {
            w->seen[page] = file_sig(page_file(page));
            step_progress();
        }
    }
    end_links();
    end_progress();
    if (built > 0)
        say(strprintf("built %d of %zu pages (%.1f ms)", built, pages.size(), ms_since(start)) +
            diag_counts(batch.errors, batch.warnings));
}

void page_settled(Watch *w, const std::string &page, bool own)
{
    FileSig now = file_sig(page_file(page));
    FileSig &before = w->seen[page];
    if (!now.exists) {
        // Only a page file's going is news; its output page, if any, stays.
        std::string out = output_file(page);
        if (before.regular && access(out.c_str(), F_OK) == 0)
            say(strprintf("%s: page file gone, %s kept", page.c_str(), out.c_str()));
        else if (before.regular)
            say(strprintf("%s: page file gone", page.c_str()));
        before = now;
        return;
    }
    if (!own && same_sig(now, before))
        return; // only another name that maps to the page (a backup) changed
    build_page(w, page);
}
