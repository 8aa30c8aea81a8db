// The engine's shared state and its ways of speaking: traces gated by the verbosity, the
// failures it reports (and counts), and the resets that put it back to its start.
#include "engine/bld_html.h"

#include <cstdarg>
#include <cstring>

#include "engine/bld_html_internal.h"
#include "support/util.h"

ProdAPtrList *incs = nullptr;
ProdAPtrList *vars = nullptr;

IncState inc_state;

namespace {

// Writes the formatted text to fp: the one place the helpers below use their va_list.
// clang-tidy 14 loses track of va_start when it checks several files in one run.
[[gnu::format(printf, 2, 0)]] void write_formatted(FILE *fp, const char *fmt, va_list ap)
{
    std::vfprintf(fp, fmt, ap); // NOLINT(clang-analyzer-valist.Uninitialized)
}

} // namespace

void trace(int level, const char *fmt, ...)
{
    if (!tracing(level))
        return;
    va_list ap;
    va_start(ap, fmt);
    write_formatted(stderr, fmt, ap);
    va_end(ap);
}

void trace_out(int level, const char *fmt, ...)
{
    if (!tracing(level))
        return;
    va_list ap;
    va_start(ap, fmt);
    write_formatted(stdout, fmt, ap);
    va_end(ap);
}

void report_failure(const char *fmt, ...)
{
    inc_state.failures++;
    va_list ap;
    va_start(ap, fmt);
    write_formatted(stderr, fmt, ap);
    va_end(ap);
}

void report_warning(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    write_formatted(stderr, fmt, ap);
    va_end(ap);
    std::fflush(stderr);
}

const char *or_null(const char *str)
{
    return str ? str : "(null)";
}

std::string lower_ascii(const char *str)
{
    std::string out(str);
    for (char &c : out)
        c = to_lower_ascii(c);
    return out;
}

char *copy_text(const char *str, size_t len, char *local, size_t local_size, std::string *heap)
{
    if (len < local_size) {
        std::memcpy(local, str, len);
        local[len] = '\0';
        return local;
    }
    heap->assign(str, len);
    return heap->data();
}

void set_verbose_inc(int val)
{
    inc_state.verbose = val;
}

void reset_inc()
{
    free_macros();
    free_vars();
    int verbose = inc_state.verbose;
    inc_state = IncState();
    inc_state.verbose = verbose;
}

void reset_vars_inc()
{
    do_clear();
    inc_state.lastnargs = 0;
}

int inc_failures()
{
    return inc_state.failures;
}
