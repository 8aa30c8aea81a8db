#include "driver/progress.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

#include <sys/ioctl.h>
#include <unistd.h>

#include "driver/settings.h"
#include "support/util.h"

namespace {

constexpr size_t min_pages = 200;
constexpr double redraw_seconds = 0.1;

struct ProgressState {
    bool active = false;
    bool shown = false;        // the line is on the terminal now
    bool at_line_start = true; // the last byte others wrote to the terminal ended a line
    size_t listed = 0;
    int done = 0;
    size_t width = 0; // columns the shown line takes
    double start = 0;
    double last_draw = 0;
    FILE *real_out = nullptr; // the standard streams while ours stand in for them
    FILE *real_err = nullptr;
};
ProgressState state;

double now_seconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void erase_line()
{
    if (!state.shown)
        return;
    std::string blank(state.width + 2, ' '); // CR, blanks over the line, CR
    blank.front() = '\r';
    blank.back() = '\r';
    write_all(2, blank.data(), blank.size());
    state.shown = false;
}

// The line's text, cut to the terminal's width less one column so it never wraps.
std::string progress_text()
{
    double elapsed = now_seconds() - state.start;
    long rate = elapsed > 0 ? static_cast<long>(state.done / elapsed) : 0;
    std::string text = Prog + ": " + std::to_string(state.done) + " of " +
                       std::to_string(state.listed) + " pages, " + std::to_string(rate) +
                       " pages/s";
    winsize ws{};
    if (ioctl(2, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1 && text.size() >= ws.ws_col)
        text.resize(ws.ws_col - 1u);
    return text;
}

// Draws the line over the one shown, or anew where the cursor stands at a line start.
void draw_line()
{
    if (!state.shown && !state.at_line_start)
        return; // someone's line is unfinished: drawing would overwrite it
    std::string text = progress_text();
    size_t width = text.size();
    std::string line(1, '\r');
    line += text;
    if (state.shown && state.width > width)
        line.append(state.width - width, ' ');
    write_all(2, line.data(), line.size());
    state.shown = true;
    state.width = std::max(state.width, width);
    state.last_draw = now_seconds();
}

// The stand-in streams' write function: the line goes before the bytes do. The bytes go on
// through the real stream (the cookie), so a write error stays on it for whoever checks.
ssize_t write_erasing(void *cookie, const char *buf, size_t size)
{
    if (size == 0)
        return 0;
    erase_line();
    state.at_line_start = buf[size - 1] == '\n';
    FILE *real = static_cast<FILE *>(cookie);
    if (std::fwrite(buf, 1, size, real) != size || std::fflush(real) != 0)
        return -1;
    return static_cast<ssize_t>(size);
}

// A write-only stream that erases the line, then writes to real; nullptr when none can be
// made.
FILE *open_erasing_stream(FILE *real, int mode)
{
    cookie_io_functions_t io{};
    io.write = write_erasing;
    FILE *fp = fopencookie(real, "w", io);
    if (fp != nullptr)
        std::setvbuf(fp, nullptr, mode, BUFSIZ);
    return fp;
}

} // namespace

void begin_progress(size_t pages)
{
    if (state.active || pages < min_pages || !isatty(2))
        return;
    std::fflush(stdout);
    FILE *err = open_erasing_stream(stderr, _IONBF);
    FILE *out = isatty(1) ? open_erasing_stream(stdout, _IOLBF) : nullptr;
    if (err == nullptr || (isatty(1) && out == nullptr)) {
        if (err != nullptr)
            std::fclose(err);
        return; // no line rather than one that other output would garble
    }
    state = ProgressState{};
    state.active = true;
    state.listed = pages;
    state.start = now_seconds();
    state.real_out = stdout;
    state.real_err = stderr;
    stderr = err;
    if (out != nullptr)
        stdout = out;
    draw_line();
}

void step_progress()
{
    if (!state.active)
        return;
    ++state.done;
    if (now_seconds() - state.last_draw >= redraw_seconds)
        draw_line();
}

void end_progress()
{
    if (!state.active)
        return;
    std::fflush(stdout);
    erase_line();
    if (stdout != state.real_out) {
        std::fclose(stdout);
        stdout = state.real_out;
    }
    std::fclose(stderr);
    stderr = state.real_err;
    state.active = false;
}
