#include "preview/serve_files.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How far from its end a page is searched for "</body": far enough for any page's closing
// lines, and a request for a huge page reads no more than this before it sends anything.
constexpr uint64_t body_end_search = 1 << 20;

// True when path (beginning with '/') has no component that begins with '.' (which also
// refuses "." and ".."), no NUL and no backslash.
bool plain_path(const std::string &path)
{
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos ||
        path.find('\\') != std::string::npos)
        return false;
    return path.find("/.") == std::string::npos;
}

// True when the file open on fd is root (a real path) or lies below it with no component of
// its path below root beginning with '.'; a link leading elsewhere fails here.
bool opened_below(int fd, const std::string &root)
{
    std::string link = "/proc/self/fd/" + std::to_string(fd);
    std::vector<char> real(PATH_MAX + 1);
    ssize_t n = readlink(link.c_str(), real.data(), PATH_MAX);
    if (n <= 0)
        return false;
    std::string path(real.data(), static_cast<size_t>(n));
    if (path.compare(0, root.size(), root) != 0)
        return false;
    return path.size() == root.size() || plain_path(path.substr(root.size()));
}

// Reads a decimal number from [*at, end) into *value; false when there is none. A number
// too large for 64 bits reads as the largest.
bool read_number(const char **at, const char *end, uint64_t *value)
{
    auto [stop, err] = std::from_chars(*at, end, *value);
    if (stop == *at)
        return false;
    if (err == std::errc::result_out_of_range)
        *value = UINT64_MAX;
    *at = stop;
    return true;
}

} // namespace

Found open_request(const std::string &root_dir, const std::string &path, int *fd, std::string *name)
{
    std::unique_ptr<char, decltype(&std::free)> real(realpath(root_dir.c_str(), nullptr),
                                                     &std::free);
    if (!real || !plain_path(path))
        return FOUND_NOTHING;
    std::string root = std::strcmp(real.get(), "/") == 0 ? "" : real.get();
    *name = root + path;
    for (int tries = 0; tries < 2; tries++) {
        *fd = open(name->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat st;
        if (*fd < 0 || fstat(*fd, &st) != 0 || !opened_below(*fd, root)) {
            if (*fd >= 0)
                close(*fd);
            return FOUND_NOTHING;
        }
        if (S_ISREG(st.st_mode))
            return FOUND_FILE;
        close(*fd);
        if (!S_ISDIR(st.st_mode))
            return FOUND_NOTHING;
        if (name->back() != '/')
            return FOUND_DIR_NO_SLASH;
        *name += "index.html";
    }
    return FOUND_NOTHING;
}

const char *content_type(const std::string &name)
{
    static const char *const types[][2] = {
        {"html", "text/html"},
        {"htm", "text/html"},
        {"css", "text/css"},
        {"js", "text/javascript"},
        {"mjs", "text/javascript"},
        {"json", "application/json"},
        {"txt", "text/plain"},
        {"xml", "application/xml"},
        {"svg", "image/svg+xml"},
        {"png", "image/png"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"gif", "image/gif"},
        {"webp", "image/webp"},
        {"avif", "image/avif"},
        {"ico", "image/x-icon"},
        {"woff", "font/woff"},
        {"woff2", "font/woff2"},
        {"ttf", "font/ttf"},
        {"otf", "font/otf"},
        {"pdf", "application/pdf"},
        {"mp4", "video/mp4"},
        {"webm", "video/webm"},
        {"mp3", "audio/mpeg"},
        {"ogg", "audio/ogg"},
        {"wasm", "application/wasm"},
        {"csv", "text/csv"},
        {"map", "application/json"},
        {"rss", "application/rss+xml"},
        {"atom", "application/atom+xml"},
    };
    size_t dot = name.rfind('.');
    size_t slash = name.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "application/octet-stream";
    const char *ext = name.c_str() + dot + 1;
    for (const auto &type : types)
        if (strcasecmp(ext, type[0]) == 0)
            return type[1];
    return "application/octet-stream";
}

std::string encoded_last_segment(const std::string &path)
{
    static const char keep[] = "-._~!$&'()*+,;=:@";
    std::string out;
    for (unsigned char c : path.substr(path.rfind('/') + 1)) {
        if (std::isalnum(c) || (c != '\0' && std::strchr(keep, c) != nullptr)) {
            out += static_cast<char>(c);
        } else {
            const char hex[] = "0123456789ABCDEF";
            out += {'%', hex[c >> 4], hex[c & 15]};
        }
    }
    return out;
}

RangeAsked parse_range(const char *header, uint64_t size, uint64_t *first, uint64_t *last)
{
    // One range only: a client asking for many gets the whole file, which is never larger
    // than the file, however many ranges (or copies of one) the header holds.
    if (header == nullptr || std::strncmp(header, "bytes=", 6) != 0 ||
        std::strchr(header, ',') != nullptr)
        return RANGE_WHOLE;
    const char *at = header + 6;
    const char *end = at + std::strlen(at);
    while (at < end && (*at == ' ' || *at == '\t'))
        at++;
    while (end > at && (end[-1] == ' ' || end[-1] == '\t'))
        end--;
    uint64_t a = 0;
    uint64_t b = UINT64_MAX;
    bool suffix = at < end && *at == '-';
    if (!suffix && !read_number(&at, end, &a))
        return RANGE_WHOLE;
    if (at == end || *at++ != '-')
        return RANGE_WHOLE;
    if (at < end && !read_number(&at, end, &b))
        return RANGE_WHOLE;
    if (at != end || (suffix && b == UINT64_MAX) || (!suffix && a > b))
        return RANGE_WHOLE;
    if (suffix) { // the last b bytes
        if (b == 0 || size == 0)
            return RANGE_UNSATISFIABLE;
        a = size - std::min(b, size);
        b = size - 1;
    }
    if (a >= size)
        return RANGE_UNSATISFIABLE;
    *first = a;
    *last = std::min(b, size - 1);
    return RANGE_PART;
}

struct HtmlBody {
    int fd;
    uint64_t size;      // of the file
    uint64_t insert_at; // where the script goes in it
    std::string script;
};

namespace {

// The offset of the last "</body" (in any case) in the last body_end_search bytes of the
// file open on fd, of size bytes; size when there is none, or it cannot be read, or there is
// no memory to read it into (malloc: the program's new-handler would end it, and this is
// only one request).
uint64_t find_body_end(int fd, uint64_t size)
{
    static const char tag[] = "</body";
    const size_t tag_len = sizeof tag - 1;
    uint64_t start = size > body_end_search ? size - body_end_search : 0;
    auto want = static_cast<size_t>(size - start);
    std::unique_ptr<char, decltype(&std::free)> tail(static_cast<char *>(std::malloc(want + 1)),
                                                     &std::free);
    if (!tail)
        return size;
    size_t got = 0;
    while (got < want) {
        ssize_t n = pread(fd, tail.get() + got, want - got, static_cast<off_t>(start + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return size;
        got += static_cast<size_t>(n);
    }
    for (size_t at = got >= tag_len ? got - tag_len + 1 : 0; at-- > 0;)
        if (tail.get()[at] == '<' && strncasecmp(tail.get() + at, tag, tag_len) == 0)
            return start + at;
    return size;
}

// Reads up to max bytes of the file at offset pos into buf; the count, or -1 when it fails or
// the file has ended early (it was cut while being sent).
long read_file_part(int fd, uint64_t pos, char *buf, size_t max)
{
    ssize_t n;
    while ((n = pread(fd, buf, max, static_cast<off_t>(pos))) < 0 && errno == EINTR) {
    }
    return n > 0 ? static_cast<long>(n) : -1;
}

} // namespace

HtmlBody *open_html_body(int fd, uint64_t size, const std::string &script, bool find_end)
{
    auto *body = new (std::nothrow) HtmlBody{fd, size, size, script};
    if (body == nullptr) {
        close(fd);
        return nullptr;
    }
    if (find_end)
        body->insert_at = find_body_end(fd, size);
    return body;
}

uint64_t html_body_size(const HtmlBody *body)
{
    return body->size + body->script.size();
}

long read_html_body(HtmlBody *body, uint64_t pos, char *buf, size_t max)
{
    uint64_t script_end = body->insert_at + body->script.size();
    if (pos < body->insert_at)
        return read_file_part(body->fd, pos, buf,
                              static_cast<size_t>(std::min<uint64_t>(max, body->insert_at - pos)));
    if (pos < script_end) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(max, script_end - pos));
        std::memcpy(buf, body->script.data() + (pos - body->insert_at), n);
        return static_cast<long>(n);
    }
    uint64_t in_file = pos - body->script.size();
    if (in_file >= body->size)
        return -1;
    return read_file_part(body->fd, in_file, buf,
                          static_cast<size_t>(std::min<uint64_t>(max, body->size - in_file)));
}

void free_html_body(HtmlBody *body)
{
    close(body->fd);
    delete body;
}
