#include "driver/page_input.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Pages up to this size are held in memory while they are built.
constexpr off_t max_held_page = 1 << 20;

// One stream buffer for a page file read as a stream; a build reads one page at a time.
char input_buffer[1 << 16];

// The memory of the last page held, handed on to the next: a string that grows fills its new
// part with zeros first, which for a new string each page costs as much as the reading.
std::string spare_data;

// Replaces *data with the rest of fd, expecting about expected bytes. Returns false on a
// read error.
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
        if (n <= 0) {
            data->resize(have);
            return n == 0;
        }
        have += static_cast<size_t>(n);
    }
}

} // namespace

bool open_page_input(PageInput *in)
{
    in->fd = open(in->path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in->fd < 0)
        return false;
    if (fstat(in->fd, &in->st) != 0 || S_ISDIR(in->st.st_mode)) {
        close_page_input(in);
        return false;
    }
    return true;
}

bool load_page_input(PageInput *in)
{
    if (S_ISREG(in->st.st_mode) && in->st.st_size <= max_held_page) {
        in->data.swap(spare_data);
        if (!read_all(in->fd, static_cast<size_t>(in->st.st_size), &in->data))
            return false;
        if (!in->data.empty())
            return true; // read where it stands: no stream

        // An empty page: the file itself, read to its end, serves as the stream.
    }
    in->fp = fdopen(in->fd, "r");
    if (in->fp == nullptr)
        return false;
    in->fd = -1; // the stream owns the descriptor now
    std::setvbuf(in->fp, input_buffer, _IOFBF, sizeof input_buffer);
    return true;
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
