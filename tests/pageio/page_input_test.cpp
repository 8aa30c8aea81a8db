// What a page file may be: only regular files are read, a byte-order mark is dropped, a page
// that changes while it is read is never built from a mix, and a line too long for memory
// ends the run without installing a cut page.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "run_tovrel.h"
#include "sanitized.h"

TEST(PageInput, UnreadablePageFilesFailAtOnceAndKeepTheEarlierPage)
{
    // A FIFO and a device are refused without a wait; a process's own memory file, read from
    // its start, fails with an I/O error, which is never taken for the end of the file.
    Sandbox box;
    make_site(box);
    ASSERT_EQ(mkfifo((box.site + "/in/fifo.html").c_str(), 0644), 0);
    ASSERT_EQ(symlink("/proc/self/mem", (box.site + "/in/mem.html").c_str()), 0);
    ASSERT_EQ(symlink("/dev/urandom", (box.site + "/in/random.html").c_str()), 0);
    write_file(box.site + "/in/z.html", "Z\n\nbody\n");
    write_file(box.site + "/out/fifo.html", "earlier page\n");
    write_file(box.site + "/out/mem.html", "earlier page\n");
    RunSpec job;
    job.args = {"-a"};
    job.time_limit = 20;
    RunResult r = run_tovrel(box, job);
    EXPECT_EQ(r.err, "tovrel: Can't open input file (in/fifo.html)!\n"
                     "tovrel: Can't read input file (in/mem.html)!\n"
                     "tovrel: Can't open input file (in/random.html)!\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(read_file(box.site + "/out/fifo.html"), "earlier page\n");
    EXPECT_EQ(read_file(box.site + "/out/mem.html"), "earlier page\n");
    EXPECT_EQ(read_file(box.site + "/out/z.html"), framed_page("Z", "", "body\n"));
    EXPECT_EQ(dir_names(box.site + "/out"),
              (std::vector<std::string>{"fifo.html", "mem.html", "z.html"}));
}

TEST(PageInput, ByteOrderMarkBeforeTheTitleIsDropped)
{
    // In a page held in memory and in one read as a stream.
    Sandbox box;
    make_site(box);
    std::string big(2 << 20, 'x');
    write_file(box.site + "/in/small.html", "\xEF\xBB\xBFSmall\nh\n\nbody\n");
    write_file(box.site + "/in/large.html", "\xEF\xBB\xBFLarge\n\n" + big + "\n");
    RunResult r = run_tovrel(box, {"small", "large"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(box.site + "/out/small.html"), framed_page("Small", "h\n", "body\n"));
    EXPECT_TRUE(read_file(box.site + "/out/large.html") == framed_page("Large", "", big + "\n"));
}

namespace {

// Starts a process that changes the page file path between two versions until it is killed:
// text, and text with "more" appended. Each step is one call that changes the size, so every
// state of the file is one whole version.
pid_t keep_changing(const std::string &path, const std::string &text)
{
    write_file(path, text);
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    int fd = open(path.c_str(), O_WRONLY | O_APPEND);
    for (unsigned i = 0; fd >= 0; i++) {
        bool ok = i % 2 ? ftruncate(fd, static_cast<off_t>(text.size())) == 0
                        : write(fd, "more\n", 5) == 5;
        if (!ok)
            break;
        usleep(500);
    }
    _exit(0);
}

void stop(pid_t pid)
{
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

} // namespace

TEST(PageInput, PageChangedWhileReadIsNeverBuiltFromAMix)
{
    // A small page is read again while it changes: the page built is one whole version, or
    // none, with a message. A large page that changed while it was built is not installed.
    Sandbox box;
    make_site(box);
    const std::string body = std::string(300000, 'a') + "\n";
    const std::string failed = "tovrel: Can't read input file (in/p.html)!\n";
    for (int run = 0; run < 5; run++) {
        write_file(box.site + "/out/p.html", "earlier page\n");
        pid_t writer = keep_changing(box.site + "/in/p.html", "A\n\n" + body);
        RunResult r = run_tovrel(box, {"p"});
        stop(writer);
        std::string page = read_file(box.site + "/out/p.html");
        if (r.err.empty())
            EXPECT_TRUE(page == framed_page("A", "", body) ||
                        page == framed_page("A", "", body + "more\n"));
        else
            EXPECT_TRUE(r.err == failed && page == "earlier page\n") << r.err;
    }
    write_file(box.site + "/out/p.html", "earlier page\n");
    pid_t writer = keep_changing(box.site + "/in/p.html", "L\n\n" + std::string(8 << 20, 'l'));
    RunResult r = run_tovrel(box, {"p"});
    stop(writer);
    EXPECT_EQ(r.err, failed);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(read_file(box.site + "/out/p.html"), "earlier page\n");
    EXPECT_EQ(dir_names(box.site + "/out"), std::vector<std::string>{"p.html"});
}

TEST(PageInput, LineBeyondMemoryEndsTheRunAndKeepsTheEarlierPage)
{
    if (sanitized_build)
        GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/p.html", "T\n\n" + std::string(300 << 20, 'x') + "\n");
    write_file(box.site + "/out/p.html", "earlier page\n");
    RunSpec job;
    job.args = {"p"};
    job.memory_limit = 200 << 20;
    RunResult r = run_tovrel(box, job);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "out of memory\n");
    EXPECT_EQ(read_file(box.site + "/out/p.html"), "earlier page\n");
    EXPECT_EQ(dir_names(box.site + "/out"), std::vector<std::string>{"p.html"});
}
