// Watch mode (-w): the real program watching a sandbox site, changed by the test as an editor
// would change it. Where a test needs to know that nothing more happened, it makes one more
// change and waits for that: events are taken in order, so everything before it is done.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <sys/stat.h>

#include "watch_run.h"

namespace {

// A library whose pages show the variable the page before them set, so a page built from a
// fresh variable state differs from one built after another page.
const char library[] = ">PageStart\n<start $[1] last=$[last]>\n>!set|last|$[1]\n>\n"
                       ">PageHdr\n>\n>PageEnd\n<end>\n>\n"
                       ">SubMenuStart\n>\n>SubMenuItem\n>\n>SubMenuEnd\n>\n";

std::string built(const std::string &title, const std::string &last, const std::string &body)
{
    return "<start " + title + " last=" + last + ">\n" + body + "<end>\n";
}

void make_watched_site(const Sandbox &box, const std::vector<std::string> &pages)
{
    write_file(box.site + "/include/include.txt", library);
    std::filesystem::create_directories(box.site + "/out");
    for (const std::string &page : pages)
        write_file(box.site + "/in/" + page + ".html", page + "\n\nbody " + page + "\n");
}

// Makes the site of pages and starts w watching it; true once it says it watches.
bool watch_new_site(Watcher *w, const Sandbox &box, const std::vector<std::string> &pages)
{
    make_watched_site(box, pages);
    start_watch(w, box, {"-w"});
    return w->wait_out("tovrel: watching");
}

// True when out holds no hidden (temporary) file.
bool no_hidden_files(const Sandbox &box)
{
    for (const std::string &name : dir_names(box.site + "/out"))
        if (name[0] == '.')
            return false;
    return true;
}

} // namespace

TEST(Watch, StartsLikeUpdateOrLikeAllWhenTheLibraryIsNewer)
{
    Sandbox box;
    make_watched_site(box, {"a", "b"});
    write_file(box.site + "/out/a.html", "current\n");
    set_mtime(box.site + "/include/include.txt", 1000);
    set_mtime(box.site + "/in/a.html", 1000);
    set_mtime(box.site + "/out/a.html", 2000);
    Watcher w;
    start_watch(&w, box, {"-w", "ignored", "-a"});
    ASSERT_TRUE(w.wait_out("tovrel: watching in and include/include.txt\n"));
    EXPECT_EQ(read_file(box.site + "/out/a.html"), "current\n");
    EXPECT_EQ(read_file(box.site + "/out/b.html"), built("b", "", "body b\n"));
    EXPECT_EQ(w.stop(SIGTERM), 0);
    EXPECT_EQ(count_of(w.out(), "built 1 of 2 pages ("), 1);
    EXPECT_EQ(w.err(), "tovrel: -w watches until interrupted: 2 arguments after it ignored\n");

    set_mtime(box.site + "/out/a.html", 500); // now older than the library: all pages, as -a
    start_watch(&w, box, {"-w"});
    ASSERT_TRUE(w.wait_out("tovrel: watching"));
    EXPECT_EQ(count_of(w.out(), "built 2 of 2 pages ("), 1);
    EXPECT_EQ(read_file(box.site + "/out/b.html"), built("b", "a", "body b\n"));
    EXPECT_EQ(w.stop(SIGHUP), 0);
    EXPECT_EQ(w.err(), "");
    EXPECT_TRUE(no_hidden_files(box));
}

TEST(Watch, EachSaveRebuildsThePageOnceFromFreshVariables)
{
    Sandbox box;
    Watcher w;
    ASSERT_TRUE(watch_new_site(&w, box, {"a", "b"}));

    write_file(box.site + "/in/b.html", "B2\n\nsaved in place\n");
    ASSERT_TRUE(w.wait_out("rebuilt b ("));
    EXPECT_EQ(read_file(box.site + "/out/b.html"), built("B2", "", "saved in place\n"));

    // An editor's save: the old file kept as a backup, the new one written aside and renamed.
    std::rename((box.site + "/in/b.html").c_str(), (box.site + "/in/b.html~").c_str());
    save_by_rename(box.site + "/in/b.html", "B3\n\nsaved by rename\n");
    ASSERT_TRUE(w.wait_out("rebuilt b (", 2));
    EXPECT_EQ(read_file(box.site + "/out/b.html"), built("B3", "", "saved by rename\n"));

    // A backup alone, a swap file and a file of no page change no page.
    write_file(box.site + "/in/b.html.bak", "backup\n");
    write_file(box.site + "/in/.b.html.swp", "swap\n");
    write_file(box.site + "/in/notes.txt", "notes\n");
    write_file(box.site + "/in/a.html", "A2\n\nlast\n");
    ASSERT_TRUE(w.wait_out("rebuilt a ("));
    EXPECT_EQ(w.stop(SIGINT), 0);
    EXPECT_EQ(count_of(w.out(), "rebuilt "), 3) << w.out();
    EXPECT_EQ(w.err(), "");
    EXPECT_TRUE(no_hidden_files(box));
}

TEST(Watch, LibraryChangeRebuildsEveryPageAsAFreshBuildOfAll)
{
    Sandbox box;
    Watcher w;
    ASSERT_TRUE(watch_new_site(&w, box, {"a", "b", "c"}));
    std::string changed = std::string(library) + ">PageHdr\n<new header $[last]>\n>\n";
    save_by_rename(box.site + "/include/include.txt", changed);
    ASSERT_TRUE(w.wait_out("rebuilt all 3 pages ("));
    // A library reached through a link: its edits show in no watched directory.
    write_file(box.site + "/shared.txt", library);
    symlink("../shared.txt", (box.site + "/include/new").c_str());
    std::rename((box.site + "/include/new").c_str(), (box.site + "/include/include.txt").c_str());
    ASSERT_TRUE(w.wait_out("rebuilt all 3 pages (", 2));
    write_file(box.site + "/shared.txt", changed);
    ASSERT_TRUE(w.wait_out("rebuilt all 3 pages (", 3));
    EXPECT_EQ(w.stop(SIGTERM), 0);
    // The loader's unlocated message gives way to the library's located diagnostics.
    const std::string twice = "include/include.txt:16: warning: macro 'pagehdr' is defined twice\n"
                              "include/include.txt:5: note: 'pagehdr' is first defined here\n";
    EXPECT_EQ(w.err(), twice + twice);
    EXPECT_EQ(count_of(w.out(), " ms): 0 errors, 1 warning\n"), 2) << w.out();

    Sandbox fresh;
    make_watched_site(fresh, {"a", "b", "c"});
    write_file(fresh.site + "/include/include.txt", changed);
    ASSERT_EQ(run_tovrel(fresh, {"-a"}).status, 0);
    for (const char *page : {"/out/a.html", "/out/b.html", "/out/c.html"})
        EXPECT_EQ(read_file(box.site + page), read_file(fresh.site + page)) << page;
    EXPECT_EQ(read_file(box.site + "/out/c.html"),
              "<start c last=b>\n<new header c>\nbody c\n<end>\n");
}

TEST(Watch, RebuildsSayTheLocatedDiagnosticsOfACheckAndCountThem)
{
    Sandbox box;
    Watcher w;
    ASSERT_TRUE(watch_new_site(&w, box, {"a", "b", "c"}));
    write_file(box.site + "/in/b.html", "B\n\nbody\n>Nope|x\n<a href=\"gone.html\">\n");
    ASSERT_TRUE(w.wait_out("rebuilt b ("));
    write_file(box.site + "/in/b.html", "B\n\nmended\n");
    ASSERT_TRUE(w.wait_out("rebuilt b (", 2));
    EXPECT_EQ(w.err(), "in/b.html:4: error: unknown include 'Nope': the library defines no such "
                       "macro\n"
                       "in/b.html:5: warning: link 'gone.html' leads to no page of the input "
                       "directory and no file of the output directory\n");
    EXPECT_EQ(count_of(w.out(), " ms): 1 error, 1 warning\n"), 1) << w.out();
    EXPECT_EQ(count_of(w.out(), " ms)\n"), 2) << "start and clean rebuild, no count: " << w.out();

    // A library fault every page meets is said once, and counted for each page.
    std::string broken = library;
    broken.replace(broken.find("<end>"), 5, ">Nope|x");
    save_by_rename(box.site + "/include/include.txt", broken);
    ASSERT_TRUE(w.wait_out("rebuilt all 3 pages ("));
    EXPECT_EQ(w.stop(SIGTERM), 0);
    EXPECT_EQ(count_of(w.err(), "include/include.txt:8: error: unknown include 'Nope'"), 1)
        << w.err();
    EXPECT_EQ(count_of(w.out(), " ms): 3 errors, 0 warnings\n"), 1) << w.out();
    EXPECT_EQ(count_of(w.err(), "unknown include (Nope)"), 0);
}

namespace {

// A library whose pages each run into the bound of a page's output, in a fraction of a second.
std::string runaway_library()
{
    std::string lib = library;
    lib += ">L0\n";
    for (int i = 0; i < 8; i++)
        lib += std::string(1000, 'x') + "\n";
    lib += ">\n";
    for (int i = 1; i < 30; i++)
        lib += ">L" + std::to_string(i) + "\n>L" + std::to_string(i - 1) + "\n>L" +
               std::to_string(i - 1) + "\n>\n";
    return lib;
}

} // namespace

TEST(Watch, ALibrarySavedDuringAFullRebuildStartsItOverAndAStopSaysWhatWasBuilt)
{
    Sandbox box;
    Watcher w;
    std::vector<std::string> pages;
    for (int i = 0; i < 40; i++)
        pages.push_back("p" + std::to_string(100 + i));
    make_watched_site(box, pages);
    for (const std::string &page : pages)
        write_file(box.site + "/in/" + page + ".html", page + "\n\n>L29\n");
    start_watch(&w, box, {"-w"});
    ASSERT_TRUE(w.wait_out("tovrel: watching"));
    const std::string too_large = "Page output too large";
    save_by_rename(box.site + "/include/include.txt", runaway_library());
    ASSERT_TRUE(wait_until([&] { return count_of(w.err(), too_large) > 0; }));
    save_by_rename(box.site + "/include/include.txt", std::string(library) + ">L29\nfixed\n>\n");
    int before_fix = count_of(w.err(), too_large);
    ASSERT_TRUE(w.wait_out("rebuilt all 40 pages ("));
    EXPECT_LE(count_of(w.err(), too_large), before_fix + 1) << "at most the page in progress";
    EXPECT_EQ(count_of(w.out(), "rebuilt "), 2) << "one cut short, then all: " << w.out();
    EXPECT_EQ(read_file(box.site + "/out/p139.html"), built("p139", "p138", "fixed\n"));

    // A stop during a full rebuild: the line tells how many pages were built.
    save_by_rename(box.site + "/include/include.txt", runaway_library());
    ASSERT_TRUE(wait_until([&] { return count_of(w.err(), too_large) > before_fix + 1; }));
    EXPECT_EQ(w.stop(SIGTERM), 0);
    EXPECT_EQ(count_of(w.out(), "rebuilt all"), 1) << w.out();
    EXPECT_EQ(count_of(w.out(), "rebuilt "), 3) << w.out();
}

TEST(Watch, NewPageIsBuiltAndAVanishedPageKeepsItsOutput)
{
    Sandbox box;
    Watcher w;
    ASSERT_TRUE(watch_new_site(&w, box, {"a", "b"}));
    write_file(box.site + "/in/new.html", "New\n\nfresh\n");
    ASSERT_TRUE(w.wait_out("rebuilt new ("));
    EXPECT_EQ(read_file(box.site + "/out/new.html"), built("New", "", "fresh\n"));

    // A FIFO is not waited on. A directory is no page file: its going is no news, and it has
    // no output to keep.
    mkfifo((box.site + "/in/f.html").c_str(), 0644);
    ASSERT_TRUE(w.wait_out("rebuilt f ("));
    std::filesystem::create_directory(box.site + "/in/x.html");
    ASSERT_TRUE(w.wait_out("rebuilt x ("));
    std::filesystem::remove(box.site + "/in/x.html");
    std::remove((box.site + "/in/b.html").c_str());
    ASSERT_TRUE(w.wait_out("b: page file gone, out/b.html kept\n"));
    write_file(box.site + "/in/b.html~", "a backup of a page that is gone\n");
    write_file(box.site + "/in/a.html", "A2\n\nlast\n");
    ASSERT_TRUE(w.wait_out("rebuilt a ("));
    EXPECT_EQ(w.stop(SIGTERM), 0);
    EXPECT_EQ(count_of(w.out(), "page file gone"), 1);
    EXPECT_EQ(read_file(box.site + "/out/b.html"), built("b", "", "body b\n"));
}

TEST(Watch, InputDirectoryMadeLaterIsLookedAtThenWatched)
{
    Sandbox box;
    Watcher w;
    ASSERT_TRUE(watch_new_site(&w, box, {}));
    write_file(box.site + "/in/a.html", "A\n\nfound by looking\n");
    ASSERT_TRUE(w.wait_out("rebuilt a ("));
    write_file(box.site + "/in/a.html", "A2\n\nseen by inotify\n");
    ASSERT_TRUE(w.wait_out("rebuilt a (", 2));
    EXPECT_EQ(w.stop(SIGTERM), 0);
    EXPECT_EQ(read_file(box.site + "/out/a.html"), built("A2", "", "seen by inotify\n"));
    EXPECT_EQ(w.err(), "tovrel: No files found in input directory!\n");
}
