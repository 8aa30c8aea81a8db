// How a page is put in place: a replaced page keeps its owner and group, a page built with
// the bytes already in place is left there and only made fresh, and an interrupted or failed
// run leaves no partial or hidden file behind.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "run_tovrel.h"

TEST(PageOutput, ReplacedPageKeepsOwnerAndGroup)
{
    // Also in a directory whose set-group-ID bit gives new files its own group: the page
    // that had root's group keeps it.
    Sandbox box;
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give a test file another owner";
    make_site(box);
    const std::string dir = box.site + "/out";
    ASSERT_EQ(chown(dir.c_str(), 0, 4321), 0);
    ASSERT_EQ(chmod(dir.c_str(), 02775), 0);
    for (const char *name : {"a", "b"}) {
        write_file(box.site + "/in/" + name + ".html", std::string(name) + "\n\nbody\n");
        write_file(dir + "/" + name + ".html", "old\n");
    }
    ASSERT_EQ(chown((dir + "/a.html").c_str(), 1234, 5678), 0);
    ASSERT_EQ(chown((dir + "/b.html").c_str(), 0, 0), 0);
    ASSERT_EQ(chmod((dir + "/a.html").c_str(), 0640), 0);
    RunResult r = run_tovrel(box, {"a", "b"});
    EXPECT_EQ(r.err, "");
    struct stat st;
    ASSERT_EQ(stat((dir + "/a.html").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 5678u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(read_file(dir + "/a.html"), framed_page("a", "", "body\n"));
    ASSERT_EQ(stat((dir + "/b.html").c_str(), &st), 0);
    EXPECT_EQ(st.st_gid, 0u);
}

namespace {

struct stat status_of(const std::string &path)
{
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st;
}

} // namespace

TEST(PageOutput, OnlyAnUnchangedSingleLinkedPageIsKeptInPlace)
{
    // Every earlier page holds the bytes the build makes (or, for "d", as many other bytes)
    // and is older than its page file. Only "same" may stay in place, made fresh; the
    // hard-linked, symbolically linked, different and failing pages are replaced, and no
    // other file a link reaches is touched.
    Sandbox box;
    make_site(box);
    const std::string out = box.site + "/out/";
    write_file(box.site + "/in/f.html", "f\n\n>Nope\nbody\n");
    run_tovrel(box, {"f"});
    const std::string failing = read_file(out + "f.html");
    for (const char *name : {"same", "hard", "sym", "d"})
        write_file(box.site + "/in/" + name + ".html", std::string(name) + "\n\nbody\n");
    for (const char *name : {"same", "hard"})
        write_file(out + name + ".html", framed_page(name, "", "body\n"));
    write_file(out + "d.html", framed_page("d", "", "bodx\n"));
    write_file(box.site + "/pub/sym.html", framed_page("sym", "", "body\n"));
    ASSERT_EQ(symlink("../pub/sym.html", (out + "sym.html").c_str()), 0);
    ASSERT_EQ(link((out + "hard.html").c_str(), (box.site + "/pub/hard.html").c_str()), 0);
    for (const char *name : {"f", "same", "hard", "sym", "d"}) {
        set_mtime(box.site + "/in/" + name + ".html", 2000);
        set_mtime(out + name + ".html", 1000);
    }
    set_mtime(box.site + "/pub/sym.html", 1000);
    std::map<std::string, ino_t> before;
    for (const char *name : {"f", "same", "hard"})
        before[name] = status_of(out + name + ".html").st_ino;

    RunResult r = run_tovrel(box, {"f", "same", "hard", "sym", "d"});
    EXPECT_EQ(r.err, "unknown include (Nope)\n");
    EXPECT_EQ(r.status, 2);
    struct stat same = status_of(out + "same.html");
    EXPECT_EQ(same.st_ino, before["same"]);
    EXPECT_GT(same.st_mtim.tv_sec, 2000);
    EXPECT_NE(status_of(out + "hard.html").st_ino, before["hard"]);
    EXPECT_NE(status_of(out + "f.html").st_ino, before["f"]);
    EXPECT_TRUE(S_ISREG(status_of(out + "sym.html").st_mode));
    for (const char *kept : {"/pub/sym.html", "/pub/hard.html"})
        EXPECT_EQ(status_of(box.site + kept).st_mtim.tv_sec, 1000) << kept;
    EXPECT_EQ(status_of(box.site + "/pub/hard.html").st_nlink, 1u);
    EXPECT_EQ(read_file(out + "f.html"), failing);
    for (const char *name : {"same", "hard", "sym", "d"})
        EXPECT_EQ(read_file(out + name + ".html"), framed_page(name, "", "body\n")) << name;
}

TEST(PageOutput, EveryPageOfABatchGetsItsBits)
{
    // Enough pages that most are written to files made ahead for them: new pages get 0666
    // less the umask, replaced ones keep theirs, whatever the umask would take.
    const mode_t kept[] = {0664, 0600, 0640, 0700, 0666};
    for (mode_t mask : {022, 027}) {
        Sandbox box;
        make_site(box);
        for (int i = 0; i < 60; i++) {
            std::string name = std::to_string(100 + i).replace(0, 1, "p"); // as in the test below
            write_file(box.site + "/in/" + name + ".html", "T\n\nbody\n");
            std::string out = box.site + "/out/" + name + ".html";
            if (i % 2 == 1) {
                write_file(out, "old\n");
                ASSERT_EQ(chmod(out.c_str(), kept[i / 2 % 5]), 0);
            }
        }
        RunSpec job;
        job.args = {"-a"};
        job.umask_bits = mask;
        RunResult r = run_tovrel(box, job);
        EXPECT_EQ(r.err, "");
        for (int i = 0; i < 60; i++) {
            std::string out =
                box.site + "/out/" + std::to_string(100 + i).replace(0, 1, "p") + ".html";
            EXPECT_EQ(file_mode(out), i % 2 == 1 ? kept[i / 2 % 5] : 0666 & ~mask) << out;
            EXPECT_EQ(read_file(out), framed_page("T", "", "body\n")) << out;
        }
    }
}

TEST(PageOutput, InterruptedBatchLeavesOnlyWholePages)
{
    // Signals at different moments of a batch of large pages, half of them replacing earlier
    // ones: the run ends by the signal, and every page is either whole or as it was. Each page
    // also runs a macro to its expansion limit, so the batch lasts well beyond the signal.
    const std::string library = std::string(test_library()) + ">Self\nself\n>Self\n>Self\n>\n";
    const std::string page_text = "T\n\n" + std::string(2 << 20, 'x') + "\n>Self\n";
    Sandbox reference;
    make_site(reference);
    write_file(reference.site + "/include/include.txt", library);
    write_file(reference.site + "/in/p.html", page_text);
    run_tovrel(reference, {"p"});
    const std::string whole = read_file(reference.site + "/out/p.html");
    ASSERT_GT(whole.size(), size_t{2} << 20);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        for (int delay_ms : {5, 40, 150}) {
            Sandbox box;
            make_site(box);
            write_file(box.site + "/include/include.txt", library);
            for (int i = 0; i < 40; i++) {
                std::string name = std::to_string(100 + i).replace(0, 1, "p");
                write_file(box.site + "/in/" + name + ".html", page_text);
                if (i % 2 == 0)
                    write_file(box.site + "/out/" + name + ".html", "earlier page\n");
            }
            RunSpec job;
            job.args = {"-a"};
            pid_t pid = start_tovrel(box, job);
            std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
            kill(pid, sig);
            RunResult r = wait_tovrel(box, pid);
            EXPECT_EQ(r.status, 128 + sig) << delay_ms;
            for (const std::string &name : dir_names(box.site + "/out")) {
                ASSERT_NE(name[0], '.') << "left behind: " << name;
                std::string page = read_file(box.site + "/out/" + name);
                EXPECT_TRUE(page == "earlier page\n" || page == whole) << name;
            }
        }
    }
}

TEST(PageOutput, SignalAtTheLinkOfAHiddenNameLeavesNothingBehind)
{
    // A page that replaces another is linked to a hidden name, then renamed over it. A signal
    // just before that link, or just after it, ends the run with the earlier page in place
    // and no hidden file: the name is registered for removal before the link is made.
    for (const char *when : {"before", "after"}) {
        Sandbox box;
        make_site(box);
        write_file(box.site + "/in/p.html", "T\n\nbody\n");
        write_file(box.site + "/out/p.html", "earlier page\n");
        const std::string mark = box.root + "/linking";
        RunSpec job;
        job.args = {"p"};
        job.env = {"LD_PRELOAD=" SLOW_LINK_SHIM, "TOVREL_SHIM_MARK=" + mark,
                   std::string("TOVREL_SHIM_DELAY=") + when,
                   "ASAN_OPTIONS=verify_asan_link_order=0"};
        pid_t pid = start_tovrel(box, job);
        for (int i = 0; i < 500 && access(mark.c_str(), F_OK) != 0; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(access(mark.c_str(), F_OK), 0) << when << ": the page was never linked";
        kill(pid, SIGTERM);
        RunResult r = wait_tovrel(box, pid);
        EXPECT_EQ(r.status, 128 + SIGTERM) << when;
        EXPECT_EQ(dir_names(box.site + "/out"), std::vector<std::string>{"p.html"}) << when;
        EXPECT_EQ(read_file(box.site + "/out/p.html"), "earlier page\n") << when;
    }
}
