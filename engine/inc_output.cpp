// Page output: what the engine writes into a page waits in one buffer and reaches the page's
// stream in large pieces, since each call into the stream costs more than the few bytes most
// pieces hold. The buffer is written out before the outermost engine call returns, before
// the engine writes to any other stream (its messages and traces) and whenever the stream
// changes, so every stream receives the same bytes in the same order as without it.
#include "engine/bld_html.h"

#include "engine/bld_html_internal.h"

namespace {

constexpr size_t held_size = size_t{32} << 10; // 32 KiB
char held[held_size];
int open_calls = 0;             // engine calls that write output, currently running
unsigned long entries_made = 0; // outermost such calls so far

} // namespace

unsigned long open_entry = 0;

HeldOutput held_output = {nullptr, held, held + held_size};

void write_output_slow(FILE *fp, const char *text, size_t len)
{
    flush_output();
    held_output.fp = fp;
    if (len >= held_size) {
        fwrite_unlocked(text, 1, len, fp);
        return;
    }
    std::memcpy(held_output.end, text, len);
    held_output.end += len;
}

void flush_output()
{
    if (held_output.end != held)
        fwrite_unlocked(held, 1, static_cast<size_t>(held_output.end - held), held_output.fp);
    held_output.end = held;
}

void begin_output()
{
    if (open_calls++ == 0)
        open_entry = ++entries_made;
}

void end_output()
{
    if (--open_calls <= 0) {
        open_calls = 0;
        open_entry = 0;
        flush_output();
    }
}
