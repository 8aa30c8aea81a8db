#include "support/gather.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <pthread.h>
#include <unistd.h>

#include "support/util.h"

namespace {

constexpr size_t gather_capacity = 1 << 16;
char kept[gather_capacity];
// The length is written after the bytes it covers, so a signal handler that flushes in
// between writes only whole texts.
volatile sig_atomic_t kept_len = 0;
bool gathering = false;
bool holding = false;
void (*hold_release)() = nullptr; // makes room by ending the hold

// Keeps the size bytes at text after the others. The length is updated after the bytes.
void keep(const char *text, size_t size)
{
    std::copy(text, text + size, kept + kept_len); // bytes, not a C string
    kept_len = static_cast<sig_atomic_t>(kept_len + static_cast<sig_atomic_t>(size));
}

// Ends a hold whose texts no longer fit with size more bytes.
void release_for(size_t size)
{
    if (holding && static_cast<size_t>(kept_len) + size > gather_capacity)
        hold_release();
}

// The write function of the stream that replaces stderr: the kept texts first, unless it is
// held back with them.
ssize_t write_after_kept(void *, const char *buf, size_t size)
{
    release_for(size);
    if (holding) {
        keep(buf, size);
        return static_cast<ssize_t>(size);
    }
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
    release_for(len);
    if (static_cast<size_t>(kept_len) + len > gather_capacity)
        flush_gathered();
    if (len > gather_capacity) {
        write_all(STDERR_FILENO, text, len);
        return;
    }
    keep(text, len);
}

void hold_gathered(void (*release)())
{
    if (!gathering || holding)
        return;
    holding = true;
    hold_release = release;
}

size_t gathered_size()
{
    return static_cast<size_t>(kept_len);
}

void release_gathered(size_t n, const size_t *at, const char *const *texts)
{
    if (!holding)
        return;
    holding = false;
    if (n == 0)
        return;
    // What stands before the last place goes out now with the texts between; the rest stays
    // kept. Signals wait meanwhile, so a handler's flush never sees the texts half moved.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    size_t len = static_cast<size_t>(kept_len), from = 0;
    for (size_t i = 0; i < n; i++) {
        size_t to = std::clamp(at[i], from, len);
        write_all(STDERR_FILENO, kept + from, to - from);
        write_all(STDERR_FILENO, texts[i], std::strlen(texts[i]));
        from = to;
    }
    std::copy(kept + from, kept + len, kept);
    kept_len = static_cast<sig_atomic_t>(len - from);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void flush_gathered()
{
    size_t len = static_cast<size_t>(kept_len);
    if (len == 0)
        return;
    kept_len = 0;
    write_all(STDERR_FILENO, kept, len);
}
