#include "support/gather.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "support/util.h"

namespace {

constexpr size_t gather_capacity = 1 << 16;
char kept[gather_capacity];
// The length is written after the bytes it covers, so a signal handler that flushes in
// between writes only whole texts.
volatile sig_atomic_t kept_len = 0;
bool gathering = false;

// Keeps the size bytes at text after the others. The length is updated after the bytes.
void keep(const char *text, size_t size)
{
    std::copy(text, text + size, kept + kept_len); // bytes, not a C string
    kept_len = static_cast<sig_atomic_t>(kept_len + static_cast<sig_atomic_t>(size));
}

// The write function of the stream that replaces stderr: the kept texts first.
ssize_t write_after_kept(void *, const char *buf, size_t size)
{
    flush_gathered();
    return write_all(STDERR_FILENO, buf, size) ? static_cast<ssize_t>(size) : -1;
}

void flush_at_exit()
{
    flush_gathered();
}

} // namespace

bool gather_stderr()
{
    if (gathering || isatty(STDERR_FILENO))
        return gathering;
    cookie_io_functions_t calls = {nullptr, write_after_kept, nullptr, nullptr};
    FILE *stream = fopencookie(nullptr, "w", calls);
    if (stream == nullptr)
        return false;
    // Unbuffered like the stderr it replaces: each message is one write, at once.
    std::setvbuf(stream, nullptr, _IONBF, 0);
    std::fflush(stderr);
    stderr = stream;
    std::atexit(flush_at_exit);
    gathering = true;
    return true;
}

bool stderr_gathered()
{
    return gathering;
}

void gather_text(const char *text)
{
    size_t len = std::strlen(text);
    if (!gathering) {
        std::fputs(text, stderr);
        return;
    }
    if (static_cast<size_t>(kept_len) + len > gather_capacity)
        flush_gathered();
    if (len > gather_capacity) {
        write_all(STDERR_FILENO, text, len);
        return;
    }
    keep(text, len);
}

void flush_gathered()
{
    size_t len = static_cast<size_t>(kept_len);
    if (len == 0)
        return;
    kept_len = 0;
    write_all(STDERR_FILENO, kept, len);
}
