#include "support/util.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

static void (*out_of_memory_hook)() = nullptr;

void set_out_of_memory_hook(void (*hook)())
{
    out_of_memory_hook = hook;
}

void die_out_of_memory()
{
    if (out_of_memory_hook != nullptr)
        out_of_memory_hook();
    std::fputs("out of memory\n", stderr);
    std::exit(3);
}

void *xmalloc(size_t size)
{
    // malloc(0) may legally return nullptr; ask for one byte so that means failure only.
    void *p = std::malloc(size ? size : 1);
    if (!p)
        die_out_of_memory();
    return p;
}

void *xrealloc(void *ptr, size_t size)
{
    // realloc(p, 0) may free p and return nullptr; never shrink to nothing.
    void *p = std::realloc(ptr, size ? size : 1);
    if (!p)
        die_out_of_memory();
    return p;
}

char *xstrdup(const char *str)
{
    size_t len = std::strlen(str) + 1;
    char *copy = static_cast<char *>(xmalloc(len));
    std::memcpy(copy, str, len);
    return copy;
}

bool read_all(int fd, size_t expected, std::string *data)
{
    data->resize(expected + 1); // one more, so the end shows in the first read
    size_t have = 0;
    for (;;) {
        if (have == data->size())
            data->resize(2 * have);
        ssize_t n = read(fd, data->data() + have, data->size() - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n > 0)
            have += static_cast<size_t>(n);
        // A read that ends short exactly at the expected size has met the end (a caller that
        // must know checks the file's status after it): no read to see it again.
        if (n <= 0 || (have == expected && have < data->size())) {
            data->resize(have);
            return n >= 0;
        }
    }
}

std::string vstrprintf(const char *fmt, va_list ap)
{
    va_list measure;
    va_copy(measure, ap);
    int len =
        std::vsnprintf(nullptr, 0, fmt, measure); // NOLINT(clang-analyzer-valist.Uninitialized)
    va_end(measure);
    std::string text;
    if (len > 0) {
        text.resize(static_cast<size_t>(len));
        // Writing the terminating NUL into text[len] is allowed since C++11.
        std::vsnprintf(text.data(), static_cast<size_t>(len) + 1, fmt,
                       ap); // NOLINT(clang-analyzer-valist.Uninitialized)
    }
    return text;
}

std::string strprintf(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string text = vstrprintf(fmt, ap);
    va_end(ap);
    return text;
}

std::string clip_text(std::string_view text)
{
    constexpr size_t shown = 200;
    if (text.size() <= shown)
        return std::string(text);
    return std::string(text.substr(0, shown)) + "...";
}

bool write_all(int fd, const char *text, size_t size)
{
    while (size > 0) {
        ssize_t n = write(fd, text, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        text += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}
