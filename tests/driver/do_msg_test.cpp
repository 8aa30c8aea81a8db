// The console text tables and the numbered list with pauses.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "driver/do_msg.h"
#include "run_tovrel.h"

namespace {

// Runs fn in a child process with standard input from input and returns what it printed.
std::string printed_by(const std::function<void()> &fn, const std::string &input = "")
{
    Sandbox box;
    write_file(box.root + "/stdin", input);
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen((box.root + "/stdin").c_str(), "r", stdin) ||
            !std::freopen((box.root + "/stdout").c_str(), "w", stdout))
            _exit(126);
        fn();
        std::exit(0); // flushes stdout and lets the leak and coverage counters run
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
    return read_file(box.root + "/stdout");
}

std::vector<std::string> numbered(int n)
{
    std::vector<std::string> items;
    for (int i = 0; i < n; ++i)
        items.push_back("item" + std::to_string(i));
    return items;
}

// print_list's output for items 0..n-1 (named item<i>).
std::string list_text(int n)
{
    std::string text;
    for (int i = 0; i < n; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%3d. item%d\n", i, i);
        text += line;
        if ((i + 1) % 20 == 0)
            text += "Press ENTER to continue: ";
    }
    return text + "Done ... Press ENTER to terminate: ";
}

} // namespace

TEST(DoMsg, FillsEveryPlaceholderWithTheProgramName)
{
    const char *const table[] = {"a %s b\n", "plain\n", "%s%s and 100%%\n", "odd %d %\n", nullptr};
    EXPECT_EQ(printed_by([&] { do_msg(table, "prog"); }),
              "a prog b\nplain\nprogprog and 100%\nodd %d %\n");
    const char *const empty[] = {nullptr};
    EXPECT_EQ(printed_by([&] { do_msg(empty, "prog"); }), "");
    EXPECT_EQ(printed_by([&] { do_msg(nullptr, "prog"); }), "");
    EXPECT_EQ(printed_by([&] { do_msg(table, nullptr); }), "a  b\nplain\n and 100%\nodd %d %\n");
    EXPECT_EQ(printed_by([&] { do_msg(Usage, "x"); }).substr(0, 29),
              "Usage:\tx [options] files ...\n");
}

TEST(PrintList, NumbersFromZeroAndPausesAfterEvery20th)
{
    for (int n : {0, 1, 20, 21, 45}) {
        std::vector<std::string> items = numbered(n);
        std::vector<char *> list;
        for (std::string &s : items)
            list.push_back(s.data());
        // At end of input every pause ends at once.
        EXPECT_EQ(printed_by([&] { print_list(n, list.data()); }), list_text(n)) << n;
        EXPECT_EQ(printed_by([&] { print_list(n, list.data()); }, "\n\n\n" + std::string(900, 'q')),
                  list_text(n));
    }
    EXPECT_EQ(printed_by([] { print_list(-3, nullptr); }), "Done ... Press ENTER to terminate: ");
}
