// Page output: what the engine writes into a page waits in one buffer and reaches the page's
// stream in large pieces, since each call into the stream costs more than the few bytes most
// pieces hold. The buffer is written out before the outermost engine call returns, before
// the engine writes to any other stream (its messages and traces) and whenever the stream
// changes, so every stream receives the same bytes in the same order as without it.
#include "engine/bld_html.h"

#include <cstring>

#include "engine/bld_html_internal.h"

namespace {

constexpr size_t held_size = 32 * 1024;
char held[held_size];
size_t held_len = 0;
FILE *held_fp = nullptr; // the stream the held bytes are for
int open_calls = 0;      // engine calls that write output, currently running

} // namespace

void write_output(FILE *fp, const char *text, size_t len)
{
    if (fp != held_fp || held_len + len > held_size) {
        flush_output();
        held_fp = fp;
    }
    if (len >= held_size || inc_state.checking) { // a check's hook may look at the stream
        fwrite_unlocked(text, 1, len, fp);
        return;
    }
    std::memcpy(held + held_len, text, len);
    held_len += len;
}

void flush_output()
{
    if (held_len > 0)
        fwrite_unlocked(held, 1, held_len, held_fp);
    held_len = 0;
}

void begin_output()
{
    open_calls++;
}

void end_output()
{
    if (--open_calls <= 0) {
        open_calls = 0;
        flush_output();
    }
}
