// The library loader and the macro index: reads the include library's macros into incs, kept
// in ascending order of lower-cased names and changed through the list operations only, and
// finds them again.
#include "engine/bld_html.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/bld_html_internal.h"
#include "support/read_line.h"
#include "support/util.h"

namespace {

constexpr int minc = 500;  // initial capacity of incs and vars
constexpr int delta = 500; // growth step of incs and vars

// What the loader noted of the library, for check mode.
std::string loaded_path;
std::vector<LibFinding> findings;
std::unordered_map<std::string, int> defined_at; // lower-cased name -> its opening line

void init_ndx()
{
    trace_out(TRACE_ALL, "Initializing ndx\n");
    incs = create_aptr_prodlist(minc);
    if (!incs) {
        std::fprintf(stderr, "Can't malloc memory for HTML index!\n");
        std::exit(1);
    }
    incs->delta = delta;
    vars = create_aptr_prodlist(minc);
    if (!vars) {
        std::fprintf(stderr, "Can't allocate memory for variable index!\n");
        std::exit(2);
    }
    vars->delta = delta;
}

// Ends text at its first CR or LF, or at a NUL byte before them: a line is a C string once
// stored, so a library line is judged by the same text that would be kept of it.
void cut_at_line_end(std::string *text)
{
    size_t end = 0;
    while (end < text->size() && (*text)[end] != '\r' && (*text)[end] != '\n' &&
           (*text)[end] != '\0')
        end++;
    text->resize(end);
}

// True when line is '>' followed by nothing but blanks: it looks like a closing line but is
// not one.
bool is_blank_close(const std::string &line)
{
    return line.size() > 1 && line[0] == '>' &&
           line.find_first_not_of(" \t", 1) == std::string::npos;
}

// Reads body lines up to the closing line (a lone '>') into body; *lineno counts the lines
// read. Returns 0 when the closing line ended it, 1 at end of file.
int read_macro_body(FILE *fp, ProdAlphaList *body, const std::string &name, int *lineno)
{
    std::string line;
    while (read_whole_line(&line, fp)) {
        ++*lineno;
        cut_at_line_end(&line);
        if (line.size() == 1 && line[0] == '>') {
            trace(TRACE_ALL, "Macro (%s) w/ %d lines\n", name.c_str(), body->nitems);
            return 0;
        }
        if (is_blank_close(line))
            findings.push_back({LIB_BLANK_CLOSE, *lineno, 0, name});
        append_alpha_prodlist(body, xstrdup(line.c_str()));
    }
    return 1;
}

// Where a name was found last, by a few bytes of the name: a page names the same few
// macros again and again.
MacroHint recent_macros[256];

MacroHint *recent_macro(const char *name, size_t len)
{
    size_t first = static_cast<unsigned char>(to_lower_ascii(name[0]));
    size_t last = len ? static_cast<unsigned char>(to_lower_ascii(name[len - 1])) : 0;
    return &recent_macros[(len * 131 + first * 31 + last) & 255];
}

// True when name spells the lower-cased key, ignoring the case of 'A' to 'Z'.
bool names_macro(const char *name, const char *key)
{
    size_t i = 0;
    while (key[i] != '\0' && key[i] == to_lower_ascii(name[i]))
        i++;
    return key[i] == '\0' && name[i] == '\0';
}

// Stores body under name, opened at line; a replaced definition is released with a message.
void store_macro(const std::string &name, ProdAlphaList *body, int line)
{
    trace(TRACE_STORE, "Storing macro [%s]\n", name.c_str());
    auto [earlier, first] = defined_at.try_emplace(name, line);
    if (!first) {
        findings.push_back({LIB_TWICE, line, earlier->second, name});
        earlier->second = line;
    }
    char *key = xstrdup(name.c_str());
    auto *old = static_cast<ProdAlphaList *>(bupdate_aptr_prodlist(incs, key, body));
    if (!old)
        return;
    inc_warning("Macro %s overridden by new version\n", name.c_str());
    std::free(key); // the index kept its own copy of the name
    forget_parsed(old);
    free_alpha_prodlist(old);
}

// Reads one macro body from fp (just after its opening line, line *lineno) and stores it
// under iname. Returns 0 when a closing line ended the body, 1 at end of file, -1 for a null
// iname.
int parse_inc(FILE *fp, const char *iname, int *lineno)
{
    if (!iname) {
        trace_out(TRACE_ALL, "Invalid iname (NULL) to parse_inc\n");
        return -1;
    }
    trace_out(TRACE_ALL, "Parsing include macro (%s) ...\n", iname);
    if (!incs)
        init_ndx();
    std::string name = lower_ascii(iname);
    ProdAlphaList *body = create_alpha_prodlist(10);
    if (!body)
        die_out_of_memory();
    int line = *lineno;
    int result = read_macro_body(fp, body, name, lineno);
    if (tracing(TRACE_ALL) && name == "sublink")
        display_alpha_prodlist(body);
    if (result != 0)
        findings.push_back({LIB_UNCLOSED, line, 0, iname});
    note_library_macro(body, MacroSite{iname, line, result == 0, false});
    store_macro(name, body, line);
    return result;
}

void list_macros()
{
    flush_output();
    std::fprintf(stderr, "%d macros defined:\n", incs ? incs->nitems : 0);
    for (int i = 0; incs && i < incs->nitems; i++) {
        auto *body = static_cast<const ProdAlphaList *>(incs->item[i]);
        std::fprintf(stderr, "[%d] %s, %d lines\n", i, incs->key[i], body->nitems);
    }
}

// Opens the library fname for reading. Only a regular file is read, and opening never waits
// (a FIFO would, until a writer came). Returns nullptr, with a message, when it cannot.
FILE *open_library(const char *fname)
{
    int fd = fname ? open(fname, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY) : -1;
    if (fd < 0) {
        findings.push_back({LIB_OPEN, 0, 0, std::strerror(errno)});
        inc_failure(FAULT_OPEN, or_null(fname));
        return nullptr;
    }
    struct stat st;
    FILE *fp = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? fdopen(fd, "r") : nullptr;
    if (!fp) {
        close(fd);
        findings.push_back({LIB_READ, 0, 0, "not a regular file"});
        inc_failure(FAULT_READ, fname);
    }
    return fp;
}

} // namespace

int find_inc(const char *name)
{
    if (!name)
        return -1;
    return find_inc_hinted(name, recent_macro(name, std::strlen(name)));
}

int find_inc_hinted(const char *name, MacroHint *hint)
{
    if (!name || !incs)
        return -1;
    int pos = hint->pos;
    if (pos >= 0 && pos < incs->nitems && names_macro(name, incs->key[pos]))
        return pos;
    return hint->pos = bsearch_aptr_prodlist(incs, lower_ascii(name).c_str());
}

void free_macros()
{
    forget_all_parsed();
    for (int i = 0; incs && i < incs->nitems; i++) {
        free_alpha_prodlist(static_cast<ProdAlphaList *>(incs->item[i]));
        incs->item[i] = nullptr;
    }
    free_aptr_prodlist(incs);
    incs = nullptr;
    loaded_path.clear();
    findings.clear();
    defined_at.clear();
}

const char *library_path()
{
    return loaded_path.c_str();
}

const std::vector<LibFinding> &library_findings()
{
    return findings;
}

void bld_inc(const char *fname)
{
    loaded_path = or_null(fname);
    FILE *fp = open_library(fname);
    if (!fp)
        return;
    std::string line;
    int lineno = 0;
    while (read_whole_line(&line, fp)) {
        if (++lineno == 1 && line.starts_with("\xEF\xBB\xBF")) // a byte-order mark is no text
            line.erase(0, 3);
        if (lineno == 1 && has_only_cr_line_ends(line)) { // it would read as one line
            findings.push_back({LIB_CR_ONLY, 0, 0, ""});
            inc_failure(FAULT_CR_ONLY, fname);
            break;
        }
        if (line.empty() || line[0] != '>')
            continue;
        cut_at_line_end(&line);
        if (is_blank_close(line))
            findings.push_back({LIB_BLANK_CLOSE, lineno, 0, ""});
        if (parse_inc(fp, line.c_str() + 1, &lineno) != 0)
            break;
    }
    // A library that opens but cannot be read (a directory, an I/O error) must not pass for
    // an empty one; the macros read before the error stay defined.
    if (std::ferror(fp)) {
        findings.push_back({LIB_READ, 0, 0, std::strerror(errno)});
        inc_failure(FAULT_READ, fname);
    }
    std::fclose(fp);
    if (tracing(TRACE_ALL))
        list_macros();
}
