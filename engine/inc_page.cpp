// Pages: the body of a page file transformed line by line, its sub-menu built from the
// sub-link lines, and htmlsafe for texts put into attributes.
#include "engine/bld_html.h"

#include <climits>
#include <cstring>
#include <string>

#include "engine/bld_html_internal.h"
#include "support/read_line.h"
#include "support/util.h"

namespace {

constexpr size_t htmlsafe_max_len = 512;

bool is_marker(char c)
{
    return c == '>' || c == ']';
}

// Runs the exec line whose marker stands at line[at]: announced as read, run without its
// line end.
void run_exec_line(FILE *outf, std::string *line, size_t at)
{
    std::fprintf(stderr, "Executing include (%s)\n", line->c_str() + at);
    if (!line->empty() && line->back() == '\n') {
        line->pop_back();
        if (!line->empty() && line->back() == '\r')
            line->pop_back();
    }
    do_exec(outf, line->c_str() + at + 2, 0, nullptr);
}

// True when the white-space-skipped line is a sub-link line; *bar receives its first '|'.
bool is_sublink_line(const std::string &line, size_t *bar)
{
    size_t at = line.find_first_not_of(" \t\n\v\f\r");
    if (at == std::string::npos || !is_marker(line[at]))
        return false;
    if (line.compare(at + 1, 7, "SubLink") != 0 || line.size() < at + 9)
        return false;
    char next = line[at + 8];
    if (next != '|' && next != 'N')
        return false;
    *bar = line.find('|', at + 8);
    return *bar != std::string::npos;
}

} // namespace

void bld_html(FILE *outf, FILE *inf)
{
    if (!inf)
        return;
    if (!outf)
        outf = stdout;
    std::string line;
    while (read_whole_line(&line, inf)) {
        size_t at = line.find_first_not_of(" \t");
        if (at != std::string::npos && is_marker(line[at])) {
            if (at + 1 < line.size() && line[at + 1] == '!')
                run_exec_line(outf, &line, at);
            else
                do_include(outf, line.c_str() + at + 1);
            continue;
        }
        std::fwrite(line.data(), 1, line.size(), outf);
    }
}

void find_smenu(FILE *outf, FILE *inf)
{
    if (!inf)
        return;
    std::rewind(inf);
    do_include(outf, "SubMenuStart");
    std::string line;
    std::string item;
    size_t bar;
    while (read_whole_line(&line, inf)) {
        if (!is_sublink_line(line, &bar))
            continue;
        item.assign("SubMenuItem");
        item.append(line, bar, std::string::npos);
        do_include(outf, item.c_str());
    }
    do_include(outf, "SubMenuEnd");
}

char *htmlsafe(const char *str)
{
    if (!str)
        return nullptr;
    size_t len = std::strlen(str);
    if (len > htmlsafe_max_len) {
        std::fprintf(stderr, "htmlsafe: Input string too long (%d)\n",
                     len > INT_MAX ? INT_MAX : static_cast<int>(len));
        return nullptr;
    }
    std::string out;
    out.reserve(len + 16);
    for (const char *p = str; *p; p++) {
        if (*p == '&')
            out.append("&amp;");
        else
            out.push_back(*p);
    }
    return xstrdup(out.c_str());
}
