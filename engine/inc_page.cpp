// Pages: the body of a page file transformed line by line, its sub-menu built from the
// sub-link lines, and htmlsafe for texts put into attributes.
#include "engine/bld_html.h"

#include <climits>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

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
        if (!stderr_gathered()) // written at once: what the page holds back comes first
            flush_output();
        gather_text(announcement.c_str());
    }
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
    }
    do_exec(outf, line.c_str() + at + 2, 0, nullptr);
}

// True when the marker at line[at] opens a sub-link line; *bar receives its first '|'.
bool is_sublink_at(std::string_view line, size_t at, size_t *bar)
{
    if (line.compare(at + 1, 7, "SubLink") != 0 || line.size() < at + 9)
        return false;
    char next = line[at + 8];
    if (next != '|' && next != 'N')
        return false;
    *bar = line.find('|', at + 8);
    return *bar != std::string_view::npos;
}

// True when the white-space-skipped line is a sub-link line; *bar receives its first '|'.
bool is_sublink_line(std::string_view line, size_t *bar)
{
    size_t at = line.find_first_not_of(" \t\n\v\f\r");
    return at != std::string_view::npos && is_marker(line[at]) && is_sublink_at(line, at, bar);
}

// The sub-link lines the body pass of a held page met, kept for the sub-menu pass, which then
// reads again only the lines before the body. Only a pass that read the text to its end
// leaves notes; the sub-menu pass of the same text takes them (and no other pass can).
struct SublinkNotes {
    const char *from = nullptr;          // where the body pass began
    const char *end = nullptr;           // the end of the text it read to
    std::vector<std::string_view> items; // each sub-link line from its first '|' on
};
SublinkNotes notes;

void forget_notes()
{
    notes.from = nullptr;
    notes.end = nullptr;
    notes.items.clear(); // its memory serves the next page
}

// Notes the line if it is a sub-link line; at is its first byte other than ' ' and '\t'.
void note_sublink(std::string_view line, size_t at)
{
    char c = line[at];
    bool other_space = c == '\n' || c == '\v' || c == '\f' || c == '\r';
    size_t bar;
    if (is_marker(c) ? is_sublink_at(line, at, &bar) : other_space && is_sublink_line(line, &bar))
        notes.items.push_back(line.substr(bar));
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

// The lines of text met since the last include or exec line, written at once. A held page's
// lines lie one after the other, so a run of them is one piece; a stream's are written each
// on its own, since the stream's next line replaces it.
struct TextRun {
    const char *at = nullptr;
    size_t len = 0;
};

void write_run(FILE *outf, TextRun *run)
{
    if (run->len > 0)
        write_output(outf, run->at, run->len);
    run->len = 0;
}

template <typename Lines> void add_to_run(FILE *outf, TextRun *run, std::string_view line)
{
    if (run->len > 0 && run->at + run->len != line.data())
        write_run(outf, run);
    if (run->len == 0)
        run->at = line.data();
    run->len += line.size();
    if constexpr (!std::is_same_v<Lines, TextLines>)
        write_run(outf, run);
}

// True when a line that begins with c may be an include, exec or sub-link line.
bool may_open_line(char c)
{
    return c == ' ' || c == '\t' || is_marker(c) || c == '\n' || c == '\v' || c == '\f' ||
           c == '\r';
}

// Adds the lines at the start of lines that can only be text to run, each counted into the
// page as transform_body counts a text line. Most of a page is such lines, and their first
// byte tells, so they are passed over without looking further. Not for a check, which notes
// the place of every line.
void take_text_lines(FILE *outf, TextRun *run, TextLines *lines)
{
    const char *start = lines->at;
    const char *at = start;
    while (at < lines->end && !inc_state.page_stopped && !may_open_line(*at)) {
        const void *feed = std::memchr(at, '\n', static_cast<size_t>(lines->end - at));
        const char *next = feed ? static_cast<const char *>(feed) + 1 : lines->end;
        count_page_output(static_cast<size_t>(next - at));
        at = next;
    }
    if (at != start)
        add_to_run<TextLines>(outf, run, std::string_view(start, static_cast<size_t>(at - start)));
    lines->at = at;
}

// The body of a page, line by line from lines (a stream's or a held text's, each line
// followed somewhere by a NUL byte, so an include text that runs to the end stops there).
// A held text's sub-link lines are noted for the sub-menu pass.
template <typename Lines> void transform_body(FILE *outf, Lines *lines)
{
    constexpr bool held = std::is_same_v<Lines, TextLines>;
    bool noting = held && !inc_state.checking; // a check reads the lines again, with their places
    forget_notes();
    if constexpr (held)
        notes.from = lines->at;
    std::string_view line;
    TextRun run;
    IncSite *site = check_here();
    int lineno = check_first_body_line() - 1;
    for (;;) {
        if constexpr (held)
            if (noting)
                take_text_lines(outf, &run, lines);
        if (inc_state.page_stopped || !next_line(lines, &line))
            break;
        site->line = ++lineno; // a check, which needs it, takes every line here
        size_t at = line.find_first_not_of(" \t");
        if (noting && at != std::string_view::npos)
            note_sublink(line, at);
        if (at != std::string_view::npos && is_marker(line[at])) {
            write_run(outf, &run);
            if (at + 1 < line.size() && line[at + 1] == '!')
                run_exec_line(outf, line, at);
            else
                include_text(outf, line.data() + at + 1, line.size() - at - 1, nullptr);
            continue;
        }
        count_page_output(line.size());
        add_to_run<Lines>(outf, &run, line);
        if (inc_state.checking)
            check_text(line.data(), line.size());
    }
    write_run(outf, &run);
    if constexpr (held)
        if (noting && !inc_state.page_stopped)
            notes.end = lines->end;
    site->line = 1; // what the build includes itself stands at the page's first line
}

// Includes the sub-menu item of the sub-link line whose text from its first '|' is rest.
void include_item(FILE *outf, std::string_view rest)
{
    static std::string item; // nothing the include runs comes back here
    static MacroHint hint;
    item.assign("SubMenuItem").append(rest);
    if (inc_state.checking)
        check_submenu_item(true);
    include_text(outf, item.c_str(), item.size(), &hint);
    if (inc_state.checking)
        check_submenu_item(false);
}

// The sub-menu from the sub-link lines of lines, or of the lines up to notes.from and the
// noted ones after them when notes hold the rest of the same text.
template <typename Lines> void write_submenu(FILE *outf, Lines *lines, const SublinkNotes *noted)
{
    IncSite *site = check_here();
    site->line = 1;
    do_include(outf, "SubMenuStart");
    std::string_view line;
    size_t bar;
    for (int lineno = 1; next_line(lines, &line); lineno++) {
        if (noted && line.data() >= noted->from)
            break;
        if (!is_sublink_line(line, &bar))
            continue;
        site->line = lineno;
        include_item(outf, line.substr(bar));
    }
    if (noted)
        for (std::string_view item : noted->items)
            include_item(outf, item);
    site->line = 1;
    do_include(outf, "SubMenuEnd");
}

} // namespace

void bld_html(FILE *outf, FILE *inf)
{
    if (!inf)
        return;
    StreamLines lines{inf, {}};
    begin_output();
    transform_body(outf ? outf : stdout, &lines);
    end_output();
}

void bld_html_text(FILE *outf, TextLines *text)
{
    begin_output();
    transform_body(outf ? outf : stdout, text);
    end_output();
}

void find_smenu(FILE *outf, FILE *inf)
{
    if (!inf)
        return;
    std::rewind(inf);
    StreamLines lines{inf, {}};
    begin_output();
    write_submenu(outf, &lines, nullptr);
    end_output();
}

void find_smenu_text(FILE *outf, TextLines text)
{
    bool usable =
        notes.end && notes.end == text.end && notes.from >= text.at && !inc_state.checking;
    begin_output();
    write_submenu(outf, &text, usable ? &notes : nullptr);
    end_output();
    forget_notes();
}

char *htmlsafe(const char *str)
{
    if (!str)
        return nullptr;
    size_t len = std::strlen(str);
    if (len > htmlsafe_max_len) {
        flush_output();
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
