#include "pageio/page_input.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/util.h"

namespace {

// Pages up to this size are held in memory while they are built.
constexpr off_t max_held_page = 1 << 20;

// How many times a page that changed while it was read is read again.
constexpr int max_rereads = 3;

// One stream buffer for a page file read as a stream; a build reads one page at a time.
char input_buffer[1 << 16];

// The memory of the last page held, handed on to the next: a string that grows fills its new
// part with zeros first, which for a new string each page costs as much as the reading.
std::string spare_data;

const char byte_order_mark[] = "\xEF\xBB\xBF";

// True when the file described by now is, as far as its status shows, the one described by
// then: same size and same modification time.
bool same_version(const struct stat &then, const struct stat &now)
{
    return then.st_size == now.st_size && compare_times(then.st_mtim, now.st_mtim) == 0;
}

// Reads the whole page into in->data, again while it changes under the reading. Returns false
// on a read error or when it kept changing.
bool read_steady_page(PageInput *in)
{
    for (int reads = 0; reads <= max_rereads; reads++) {
        struct stat now;
        if ((reads > 0 && lseek(in->fd, 0, SEEK_SET) != 0) ||
            !read_all(in->fd, static_cast<size_t>(in->st.st_size), &in->data) ||
            fstat(in->fd, &now) != 0)
            return false;
        if (same_version(in->st, now) && in->data.size() == static_cast<size_t>(now.st_size))
            return true;
        in->st = now;
    }
    return false;
}

} // namespace

bool open_page_input(PageInput *in)
{
    // Never waits: only a regular file is read, and opening one does not block.
    in->fd = open(in->path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (in->fd < 0)
        return false;
    if (fstat(in->fd, &in->st) != 0 || !S_ISREG(in->st.st_mode)) {
        close_page_input(in);
        return false;
    }
    return true;
}

bool load_page_input(PageInput *in)
{
    if (in->st.st_size <= max_held_page) {
        in->data.swap(spare_data);
        if (!read_steady_page(in))
            return false;
        if (in->data.starts_with(byte_order_mark))
            in->data.erase(0, sizeof byte_order_mark - 1);
        if (!in->data.empty())
            return true;
        // An empty page: the file itself, read to its end, serves as the stream.
    }
    in->fp = fdopen(in->fd, "r");
    if (in->fp == nullptr)
        return false;
    in->fd = -1; // the stream owns the descriptor now
    std::setvbuf(in->fp, input_buffer, _IOFBF, sizeof input_buffer);
    return true;
}

FILE *page_input_stream(PageInput *in)
{
    if (in->fp == nullptr && !in->data.empty())
        in->fp = fmemopen(in->data.data(), in->data.size(), "r");
    return in->fp;
}

bool page_input_unchanged(const PageInput *in)
{
    struct stat now;
    if (!in->data.empty())
        return true; // held in memory: checked while it was read
    return fstat(fileno(in->fp), &now) == 0 && same_version(in->st, now);
}

void close_page_input(PageInput *in)
{
    // Read only: nothing to report.
    if (in->fp != nullptr)
        std::fclose(in->fp);
    if (in->fd >= 0)
        close(in->fd);
    in->fp = nullptr;
    in->fd = -1;
    spare_data.swap(in->data);
    in->data.clear();
}
