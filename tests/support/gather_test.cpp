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

} // namespace

// Run in a child, since gathering replaces stderr for the rest of the process. Standard error
// goes to a file, not a terminal, so gathering starts.
TEST(GatheredText, WaitsUntilAnythingElseReachesStandardErrorAndKeepsItsOrder)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto run = [] {
        char path[] = "/tmp/gather-test-XXXXXX";
        int fd = mkstemp(path);
        unlink(path);
        dup2(fd, STDERR_FILENO);
        bool ok = gather_stderr();
        gather_text("Executing include (a)\n");
        ok = ok && written(fd).empty();
        std::fprintf(stderr, "unknown include (%s)\n", "b");
        gather_text("Executing include (c)\n");
        gather_text("Executing include (d)\n");
        ok = ok && written(fd) == "Executing include (a)\nunknown include (b)\n";
        flush_gathered();
        std::string all = written(fd);
        std::exit(ok && all == "Executing include (a)\nunknown include (b)\nExecuting include "
                               "(c)\nExecuting include (d)\n"
                      ? 0
                      : 1);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(0), "");
}
