// Pages: the body of a page file transformed line by line, its sub-menu built from the
// sub-link lines, and htmlsafe for texts put into attributes.
#include "engine/bld_html.h"

#include <climits>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/bld_html_internal.h"
#include "support/gather.h"
#include "support/read_line.h"
#include "support/util.h"

namespace {

constexpr size_t htmlsafe_max_len = 512;

bool is_marker(char c)
{
    return c == '>' || c == ']';
}

// Runs the exec line whose marker stands at text[at]: announced as read (gathered with the
// page's other announcements, one write for them all, in their order), run without its
// line end.
void run_exec_line(FILE *outf, std::string_view text, size_t at)
{
    static std::string line; // the line as a C string, then without its line end
    line.assign(text);
    if (!inc_state.checking) { // a check says only what is wrong
        static std::string announcement;
        announcement.assign("Executing include (").append(line.c_str() + at).append(")\n");
        gather_text(announcement.c_str());
    }
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
    }
    do_exec(outf, line.c_str() + at + 2, 0, nullptr);
}

// True when the white-space-skipped line is a sub-link line; *bar receives its first '|'.
bool is_sublink_line(std::string_view line, size_t *bar)
{
    size_t at = line.find_first_not_of(" \t\n\v\f\r");
    if (at == std::string_view::npos || !is_marker(line[at]))
        return false;
    if (line.compare(at + 1, 7, "SubLink") != 0 || line.size() < at + 9)
        return false;
    char next = line[at + 8];
    if (next != '|' && next != 'N')
        return false;
    *bar = line.find('|', at + 8);
    return *bar != std::string_view::npos;
}

// The lines of a page file read as a stream: each kept in buf, which ends in a NUL byte.
struct StreamLines {
    FILE *inf;
    std::string buf;
};

bool next_line(StreamLines *lines, std::string_view *line)
{
    if (!read_whole_line(&lines->buf, lines->inf))
        return false;
    *line = lines->buf;
    return true;
}

bool next_line(TextLines *lines, std::string_view *line)
{
    return next_text_line(lines, line);
}

// The body of a page, line by line from lines (a stream's or a held text's, each line
// followed somewhere by a NUL byte, so an include text that runs to the end stops there).
template <typename Lines> void transform_body(FILE *outf, Lines *lines)
{
    std::string_view line;
    IncSite *site = check_here();
    int lineno = check_first_body_line() - 1;
    while (!inc_state.page_stopped && next_line(lines, &line)) {
        site->line = ++lineno;
        size_t at = line.find_first_not_of(" \t");
        if (at != std::string_view::npos && is_marker(line[at])) {
            if (at + 1 < line.size() && line[at + 1] == '!')
                run_exec_line(outf, line, at);
            else
                do_include(outf, line.data() + at + 1);
            continue;
        }
        count_page_output(line.size());
        fwrite_unlocked(line.data(), 1, line.size(), outf);
        if (inc_state.checking)
            check_text(line.data(), line.size());
    }
    site->line = 1; // what the build includes itself stands at the page's first line
}

// The sub-menu from the sub-link lines of lines.
template <typename Lines> void write_submenu(FILE *outf, Lines *lines)
{
    IncSite *site = check_here();
    site->line = 1;
    do_include(outf, "SubMenuStart");
    std::string_view line;
    std::string item;
    size_t bar;
    for (int lineno = 1; next_line(lines, &line); lineno++) {
        if (!is_sublink_line(line, &bar))
            continue;
        site->line = lineno;
        item.assign("SubMenuItem");
        item.append(line.substr(bar));
        do_include(outf, item.c_str());
    }
    site->line = 1;
    do_include(outf, "SubMenuEnd");
}

} // namespace

void bld_html(FILE *outf, FILE *inf)
{
    if (!inf)
        return;
    StreamLines lines{inf, {}};
    transform_body(outf ? outf : stdout, &lines);
}

void bld_html_text(FILE *outf, TextLines *text)
{
    transform_body(outf ? outf : stdout, text);
}

void find_smenu(FILE *outf, FILE *inf)
{
    if (!inf)
        return;
    std::rewind(inf);
    StreamLines lines{inf, {}};
    write_submenu(outf, &lines);
}

void find_smenu_text(FILE *outf, TextLines text)
{
    write_submenu(outf, &text);
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
