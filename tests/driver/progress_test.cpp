// The progress line of a batch: on a terminal only, for 200 pages or more, and never mixed
// with other output.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <pty.h>
#include <termios.h>

#include "run_tovrel.h"

namespace {

// Runs tovrel in box.site with a pseudo-terminal of 80 columns, in raw mode so bytes pass
// unchanged, as its standard streams, except standard error when err_file is given. Returns
// the exit status, what the terminal received (out) and err_file's content (err).
RunResult run_on_terminal(const Sandbox &box, const std::vector<std::string> &args,
                          const std::string &err_file = "")
{
    winsize ws{};
    ws.ws_row = 24;
    ws.ws_col = 80;
    int master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
    if (pid < 0)
        std::abort();
    if (pid == 0) {
        termios mode{};
        tcgetattr(0, &mode);
        cfmakeraw(&mode);
        tcsetattr(0, TCSANOW, &mode);
        int err = err_file.empty() ? 2 : open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err < 0 || dup2(err, 2) < 0 || chdir(box.site.c_str()) != 0)
            _exit(126);
        std::vector<char *> argv{const_cast<char *>(TOVREL_BIN)};
        for (const std::string &arg : args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        execv(TOVREL_BIN, argv.data());
        _exit(127);
    }
    RunResult result{0, "", ""};
    char buf[4096];
    ssize_t n;
    while ((n = read(master, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        result.out.append(buf, static_cast<size_t>(std::max<ssize_t>(n, 0)));
    close(master);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    if (!err_file.empty())
        result.err = read_file(err_file);
    return result;
}

// A site of n pages, each including an unknown macro, so every page writes to standard
// error while the batch runs.
void make_pages(const Sandbox &box, int n)
{
    make_site(box);
    for (int i = 0; i < n; ++i)
        write_file(box.site + "/in/p" + std::to_string(1000 + i) + ".html", "T\n\n>Nope\n");
}

// The terminal's bytes without the progress line: every run of draws (CR and a line without
// its end) up to the erasure that closes it (CR, blanks, CR). count gets how many runs.
std::string without_progress(const std::string &seen, int *count)
{
    static const std::regex line("(\r[^\r\n]+)+\r +\r");
    *count = static_cast<int>(std::distance(std::sregex_iterator(seen.begin(), seen.end(), line),
                                            std::sregex_iterator()));
    return std::regex_replace(seen, line, "");
}

std::vector<std::string> sorted_lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

} // namespace

TEST(Progress, OnATerminalItIsErasedBeforeEveryOtherLineAndAtTheEnd)
{
    Sandbox box;
    make_pages(box, 250);
    for (const char *batch : {"-a", "-u", "-c"}) {
        std::filesystem::remove_all(box.site + "/out");
        std::filesystem::create_directories(box.site + "/out");
        RunResult plain = run_tovrel(box, {"-v", "1", batch}); // not a terminal
        std::filesystem::remove_all(box.site + "/out");
        std::filesystem::create_directories(box.site + "/out");
        RunResult tty = run_on_terminal(box, {"-v", "1", batch});
        EXPECT_EQ(tty.status, 2); // every page includes an unknown macro
        EXPECT_NE(tty.out.find("\rtovrel: 0 of 250 pages, 0 pages/s"), std::string::npos);
        int runs = 0;
        std::string rest = without_progress(tty.out, &runs);
        EXPECT_GE(runs, 1) << batch;
        EXPECT_EQ(rest.find('\r'), std::string::npos) << batch << ": a line was not erased";
        EXPECT_EQ(sorted_lines(rest), sorted_lines(plain.out + plain.err)) << batch;
        EXPECT_EQ(rest.substr(rest.size() - 20), "tovrel: Terminating\n");
    }
}

TEST(Progress, NeverForFewerPagesOrWhenStandardErrorIsNoTerminal)
{
    Sandbox box;
    make_pages(box, 199);
    write_file(box.site + "/in/notes.txt", "not a page, so 199 pages are listed\n");
    std::string errors;
    for (int i = 0; i < 199; ++i)
        errors += "unknown include (Nope)\n";
    RunResult tty = run_on_terminal(box, {"-a"});
    EXPECT_EQ(tty.out, errors + "tovrel: Terminating\n");

    write_file(box.site + "/in/p2000.html", "T\n\n>Nope\n");
    tty = run_on_terminal(box, {"-a"}, box.root + "/err");
    EXPECT_EQ(tty.out, "tovrel: Terminating\n");
    EXPECT_EQ(tty.err, errors + "unknown include (Nope)\n");
}
