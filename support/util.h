// Small helpers every layer shares: the one exit path for memory that cannot be had,
// allocation wrappers that take it, and printf into a std::string for texts of any length.
#ifndef UTIL_H
#define UTIL_H

#include <cstdarg>
#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>

// Prints "out of memory" to standard error and ends the process with status 3, having first
// called the hook set by set_out_of_memory_hook (if any). main() installs it as the
// new-handler too, so no std::bad_alloc escapes.
[[noreturn]] void die_out_of_memory();
// Sets the function die_out_of_memory calls before it ends the process (nullptr for none):
// a layer above uses it to remove what it must not leave behind. The hook must not allocate.
void set_out_of_memory_hook(void (*hook)());

// malloc/realloc/strdup that never return nullptr: on failure they call die_out_of_memory().
void *xmalloc(size_t size);
void *xrealloc(void *ptr, size_t size);
char *xstrdup(const char *str);

// Returns c lower-cased when it is 'A' to 'Z', else c as it is (no locale: names and file
// suffixes compare the same everywhere).
inline char to_lower_ascii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Compares two times (a file's modification time, say) to the nanosecond: below 0 when a is
// earlier than b, 0 when they are the same, above 0 when a is later.
inline int compare_times(const struct timespec &a, const struct timespec &b)
{
    if (a.tv_sec != b.tv_sec)
        return a.tv_sec < b.tv_sec ? -1 : 1;
    return a.tv_nsec < b.tv_nsec ? -1 : a.tv_nsec > b.tv_nsec ? 1 : 0;
}

// Writes all size bytes of text to the descriptor fd, going on after an interruption or a
// short write. Returns false on a write error. Safe in a signal handler.
bool write_all(int fd, const char *text, size_t size);

// Replaces *data with the rest of the file fd, read to its end, going on after an
// interruption; expected is the size the caller expects (a file of that size is read without
// a last read to see its end). Returns false on a read error.
bool read_all(int fd, size_t expected, std::string *data);

// Returns the formatted text, whatever its length.
[[gnu::format(printf, 1, 2)]] std::string strprintf(const char *fmt, ...);
// strprintf with the arguments in ap, which it leaves to the caller to end.
[[gnu::format(printf, 1, 0)]] std::string vstrprintf(const char *fmt, va_list ap);

// How a diagnostic shows a name or text: text itself, or its first 200 bytes and "..." when
// it is longer, so a huge name cannot flood the diagnostics.
std::string clip_text(std::string_view text);

#endif
