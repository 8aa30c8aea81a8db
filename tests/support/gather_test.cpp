#include "support/gather.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Everything written to file descriptor fd so far.
std::string written(int fd)
{
    std::string text;
    char buf[256];
    ssize_t n;
    for (off_t at = 0; (n = pread(fd, buf, sizeof buf, at)) > 0; at += n)
        text.append(buf, static_cast<size_t>(n));
    return text;
}

// Gathers in this (child) process, since gathering replaces stderr for the rest of it, with
// standard error on a file, not a terminal, so gathering starts; runs the steps of the story
// up to last and exits 0 when what reached standard error by then is what it should be.
[[noreturn]] void gather_until(int last)
{
    char path[] = "/tmp/gather-test-XXXXXX";
    int fd = mkstemp(path);
    unlink(path);
    dup2(fd, STDERR_FILENO);
    const std::string a = "Executing include (a)\n", b = "unknown include (b)\n",
                      c = "Executing include (c)\n", d = "Executing include (d)\n";
    bool gathering = gather_stderr();
    gather_text(a.c_str());
    if (last == 1)
        std::exit(gathering && written(fd).empty() ? 0 : 1);
    std::fprintf(stderr, "unknown include (%s)\n", "b");
    gather_text(c.c_str());
    gather_text(d.c_str());
    if (last == 2)
        std::exit(written(fd) == a + b ? 0 : 1);
    flush_gathered();
    std::exit(written(fd) == a + b + c + d ? 0 : 1);
}

} // namespace

TEST(GatheredText, WaitsUntilAnythingElseReachesStandardErrorAndKeepsItsOrder)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(gather_until(1), testing::ExitedWithCode(0), "")
        << "gathering did not start, or a gathered text was written at once";
    EXPECT_EXIT(gather_until(2), testing::ExitedWithCode(0), "")
        << "a message did not bring the texts gathered before it, or brought those after it";
    EXPECT_EXIT(gather_until(3), testing::ExitedWithCode(0), "")
        << "flush_gathered did not write the texts left, in their order";
}
