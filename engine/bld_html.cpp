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
    flush_output();             // what the page holds back comes first, wherever the page goes
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

void inc_failure(IncFault fault, const char *subject)
{
    // Each message is its subject between two fixed texts.
    static const struct {
        const char *before, *after;
    } messages[] = {
        {"Can't open include file (", ")\n"},
        {"Can't read include file (", ")\n"},
        {"Include file has only CR line ends (", ")\n"},
        {"unknown include (", ")\n"},
        {"Include nesting too deep (", ")\n"},
        {"Include expansion too large (", ")\n"},
        {"Expanded text too long, $[", "] not inserted\n"},
        {"Invalid command (", ")\n"},
    };
    inc_state.failures++;
    if (inc_state.checking) {
        check_fault(fault, subject);
        return;
    }
    flush_output();
    std::fputs(messages[fault].before, stderr);
    std::fputs(subject, stderr);
    std::fputs(messages[fault].after, stderr);
}

void inc_warning(const char *fmt, ...)
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

void begin_page_inc()
{
    inc_state.page_output = 0;
    inc_state.page_evaluated = 0;
    inc_state.page_stopped = false;
}

int page_too_large_inc()
{
    return inc_state.page_stopped ? 1 : 0;
}

void count_page_output(size_t n)
{
    inc_state.page_output += n;
    if (inc_state.page_output > max_page_output)
        inc_state.page_stopped = true;
}

void count_page_evaluated(size_t n)
{
    inc_state.page_evaluated += n;
    if (inc_state.page_evaluated > max_page_evaluated)
        inc_state.page_stopped = true;
}
