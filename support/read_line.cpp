#include "support/read_line.h"

#include "support/util.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/types.h>

read_buf *ReadBuf = nullptr;

int read_line(char *buf, FILE *fp)
{
    if (!buf || !fp)
        return 1;
    if (!std::fgets(buf, READ_LINE_BUFSIZE, fp))
        return -1;
    buf[std::strcspn(buf, "\r\n")] = '\0';
    return 0;
}

int unread_line(const char *buf, FILE *fp)
{
    if (!buf || !fp)
        return 1;
    return 2;
}

int readline_close(FILE *)
{
    return 0;
}

bool read_whole_line(std::string *line, FILE *fp)
{
    if (!line || !fp)
        return false;
    // One buffer serves every call, so a page of many lines costs no allocation per line;
    // it stays reachable from here until the process ends.
    static char *buf = nullptr;
    static size_t cap = 0;
    errno = 0;
    ssize_t len = getline(&buf, &cap, fp);
    if (len < 0) {
        // A line that does not fit in memory is not the end of the file.
        if (errno == ENOMEM)
            die_out_of_memory();
        return false;
    }
    line->assign(buf, static_cast<size_t>(len));
    return true;
}

bool has_only_cr_line_ends(const std::string &first_line)
{
    if (first_line.empty() || first_line.back() == '\n')
        return false;
    size_t cr = first_line.find('\r');
    return cr != std::string::npos && cr + 1 < first_line.size();
}

bool next_text_line(TextLines *text, std::string_view *line)
{
    if (text->at >= text->end)
        return false;
    size_t left = static_cast<size_t>(text->end - text->at);
    const void *feed = std::memchr(text->at, '\n', left);
    size_t len = feed ? static_cast<size_t>(static_cast<const char *>(feed) - text->at) + 1 : left;
    *line = std::string_view(text->at, len);
    text->at += len;
    return true;
}
