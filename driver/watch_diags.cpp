#include "driver/watch_diags.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/check.h"
#include "driver/check_links.h"
#include "driver/page_build.h"
#include "driver/page_names.h"
#include "driver/settings.h"
#include "support/read_line.h"
#include "support/util.h"

namespace {

struct Taking {
    DiagCapture *cap = nullptr;
    FILE *real = nullptr;   // the standard error stream taken over
    std::string partial;    // the start of a line whose end has not come yet
    bool said_last = false; // the last error or warning reached standard error
};
Taking taking;

// The kind of line: the earliest of ": error: ", ": warning: " and ": note: " in it, whose
// place *place receives (npos when there is none).
IncDiag kind_of(const std::string &line, size_t *place = nullptr)
{
    static const char *const marks[] = {": error: ", ": warning: ", ": note: "};
    IncDiag kind = DIAG_ERROR;
    size_t first = std::string::npos;
    for (int k = DIAG_ERROR; k <= DIAG_NOTE; k++) {
        size_t at = line.find(marks[k]);
        if (at < first) {
            first = at;
            kind = static_cast<IncDiag>(k);
        }
    }
    if (place != nullptr)
        *place = first;
    return kind;
}

void take_line(std::string line)
{
    DiagCapture *cap = taking.cap;
    IncDiag kind = kind_of(line);
    if (kind == DIAG_ERROR)
        cap->errors++;
    else if (kind == DIAG_WARNING)
        cap->warnings++;
    bool say = kind == DIAG_NOTE
                   ? taking.said_last
                   : cap->echo == ECHO_ALL || (cap->echo == ECHO_ERRORS && kind == DIAG_ERROR);
    if (kind != DIAG_NOTE && say && cap->said != nullptr)
        say = cap->said->insert(line).second;
    if (kind != DIAG_NOTE)
        taking.said_last = say;
    if (say) {
        std::fwrite(line.data(), 1, line.size(), taking.real);
        std::fputc('\n', taking.real);
    }
    cap->diags.push_back({kind, std::move(line)});
}

ssize_t take_bytes(void *, const char *buf, size_t size)
{
    taking.partial.append(buf, size);
    size_t start = 0;
    for (size_t end; (end = taking.partial.find('\n', start)) != std::string::npos; start = end + 1)
        take_line(taking.partial.substr(start, end - start));
    taking.partial.erase(0, start);
    return static_cast<ssize_t>(size);
}

} // namespace

void begin_diag_capture(DiagCapture *cap)
{
    cookie_io_functions_t calls = {nullptr, take_bytes, nullptr, nullptr};
    FILE *stream = fopencookie(nullptr, "w", calls);
    if (stream == nullptr)
        return; // the lines go out as they are, uncounted
    std::setvbuf(stream, nullptr, _IONBF, 0);
    std::fflush(stderr);
    taking = Taking{cap, stderr, "", false};
    stderr = stream;
}

void end_diag_capture()
{
    if (taking.cap == nullptr)
        return;
    FILE *stream = stderr;
    stderr = taking.real;
    std::fclose(stream);
    if (!taking.partial.empty())
        take_line(taking.partial);
    std::fflush(stderr);
    taking = Taking();
}

namespace {

// The regular file at path opened for reading, or null: a FIFO or a device, which the build
// reports itself, is never waited on.
FILE *open_regular(const std::string &path)
{
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(fd);
        return nullptr;
    }
    FILE *in = fd >= 0 ? fdopen(fd, "rb") : nullptr;
    if (in == nullptr && fd >= 0)
        close(fd);
    return in;
}

// The line the body of the page file at path starts at, its header lines checked as the
// build will read them (1 when the page is empty or cannot be read: the build says why).
int scan_header_lines(const std::string &path)
{
    FILE *in = open_regular(path);
    if (in == nullptr)
        return 1;
    int body_line = scan_header(in, path.c_str());
    std::fclose(in);
    return std::max(body_line, 1);
}

} // namespace

void checked_build(const std::string &page, DiagCapture *lib, DiagCapture *cap)
{
    begin_check_inc(scan_links);
    begin_diag_capture(lib);
    check_library_inc(); // for its own sake, and for the notes it leaves for the pages
    end_diag_capture();
    begin_diag_capture(cap);
    std::string path = page_path(indir, page.c_str());
    begin_page_links(path.c_str());
    check_page_inc(path.c_str(), scan_header_lines(path));
    tovrel(page.c_str());
    int errors, warnings; // counted from the lines, with the driver's failures among them
    end_check_inc(&errors, &warnings);
    end_diag_capture();
}

std::string source_of(const WatchDiag &diag)
{
    size_t at;
    kind_of(diag.line, &at);
    size_t colon = at == std::string::npos ? at : diag.line.rfind(':', at - 1);
    if (colon == std::string::npos || colon == 0)
        return "";
    std::string path = diag.line.substr(0, colon);
    long wanted = std::strtol(diag.line.c_str() + colon + 1, nullptr, 10);
    FILE *in = wanted > 0 ? open_regular(path) : nullptr;
    if (in == nullptr)
        return "";
    std::string line;
    bool found = false;
    for (long n = 1; n <= wanted && (found = read_whole_line(&line, in)); n++) {
    }
    std::fclose(in);
    if (!found)
        return "";
    line.erase(std::min(line.find_first_of("\r\n"), line.size()));
    return clip_text(line);
}

std::string diag_counts(int errors, int warnings)
{
    if (errors == 0 && warnings == 0)
        return "";
    return ": " + std::to_string(errors) + (errors == 1 ? " error, " : " errors, ") +
           std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings");
}
