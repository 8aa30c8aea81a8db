#include "engine/bld_html.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "support/read_line.h"
#include "support/splitfld.h"
#include "support/util.h"

ProdAPtrList *incs = nullptr;
ProdAPtrList *vars = nullptr;

namespace {

constexpr int minc = 500;  // initial capacity of incs and vars
constexpr int delta = 500; // growth step of incs and vars

constexpr int max_include_fields = 100;
constexpr int max_assign_fields = 3;
constexpr int max_include_depth = 100;
// Bounds on what one include from a page or the driver may grow into, so that a library
// whose macros include themselves more than once, or double a variable on every level,
// ends with a message instead of running for ever or exhausting memory.
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr long max_expansions = 100000;             // macro expansions below one outer include
constexpr size_t max_text_len = 16ul * 1024 * 1024; // bytes in one evaluated text
#else
// Fuzz builds keep the same limits at a size reached in milliseconds, so runs are spent on
// new inputs rather than on libraries that use up the whole budget.
constexpr long max_expansions = 1000;
constexpr size_t max_text_len = 64 * 1024;
#endif
constexpr size_t htmlsafe_max_len = 512;

int verbose = 0;       // the engine's own verbosity, set by set_verbose_inc only
int lastnargs = 0;     // field count of the most recent include whose macro was found
int include_depth = 0; // levels of do_include currently open
long expansions = 0;   // macro expansions since the outer include began

const char *or_null(const char *str)
{
    return str ? str : "(null)";
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

// Lower-cases 'A' to 'Z' only; every other byte stays as it is.
std::string lower_ascii(const char *str)
{
    std::string out(str);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// True when the n bytes at str spell word, ignoring the case of 'A' to 'Z'.
bool equals_nocase(const char *str, size_t n, const char *word)
{
    if (std::strlen(word) != n)
        return false;
    for (size_t i = 0; i < n; i++) {
        char c = str[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != word[i])
            return false;
    }
    return true;
}

// A work area for a text the caller cuts in place: the first len bytes of str, copied into
// local (of local_size bytes) when they fit, else into *heap. Most texts are short, so most
// copies cost no allocation.
char *copy_text(const char *str, size_t len, char *local, size_t local_size, std::string *heap)
{
    if (len < local_size) {
        std::memcpy(local, str, len);
        local[len] = '\0';
        return local;
    }
    heap->assign(str, len);
    return heap->data();
}

// ---------------------------------------------------------------- the stores and the library

void init_ndx()
{
    if (verbose > 9)
        std::printf("Initializing ndx\n");
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

// Position of the macro name in incs (case of 'A' to 'Z' ignored), or -1.
int find_inc(const char *name)
{
    if (!name)
        return -1;
    return bsearch_aptr_prodlist(incs, lower_ascii(name).c_str());
}

// Reads body lines up to the closing line (a lone '>') into body.
// Returns 0 when the closing line ended it, 1 at end of file.
int read_macro_body(FILE *fp, ProdAlphaList *body, const std::string &name)
{
    std::string line;
    while (read_whole_line(&line, fp)) {
        cut_at_line_end(&line);
        if (line.size() == 1 && line[0] == '>') {
            if (verbose > 9)
                std::fprintf(stderr, "Macro (%s) w/ %d lines\n", name.c_str(), body->nitems);
            return 0;
        }
        append_alpha_prodlist(body, xstrdup(line.c_str()));
    }
    return 1;
}

// Macros read by bld_inc and not yet in incs. Putting each at its sorted place at once
// would shift the later names for every macro, so they are sorted in when loading ends.
// The views point at the names held in list.
std::vector<std::pair<char *, ProdAlphaList *>> pending_macros;
std::unordered_map<std::string_view, size_t> pending_slots;

// Stores body under name; a replaced definition is released with a message.
void store_macro(const std::string &name, ProdAlphaList *body)
{
    if (verbose > 5)
        std::fprintf(stderr, "Storing macro [%s]\n", name.c_str());
    ProdAlphaList *old;
    int pos = bsearch_aptr_prodlist(incs, name.c_str());
    auto pending = pending_slots.find(name);
    if (pos >= 0) {
        old = static_cast<ProdAlphaList *>(incs->item[pos]);
        incs->item[pos] = body;
    } else if (pending != pending_slots.end()) {
        old = pending_macros[pending->second].second;
        pending_macros[pending->second].second = body;
    } else {
        char *key = xstrdup(name.c_str());
        pending_macros.emplace_back(key, body);
        pending_slots.emplace(key, pending_macros.size() - 1);
        return;
    }
    std::fprintf(stderr, "Macro %s overridden by new version\n", name.c_str());
    std::fflush(stderr);
    free_alpha_prodlist(old);
}

// Puts the pending macros into incs, all in sorted order, in one pass.
void merge_pending_macros()
{
    if (pending_macros.empty())
        return;
    using Entry = std::pair<char *, ProdAlphaList *>;
    auto key_less = [](const Entry &a, const Entry &b) {
        return std::strcmp(a.first, b.first) < 0;
    };
    std::sort(pending_macros.begin(), pending_macros.end(), key_less);
    std::vector<Entry> stored;
    stored.reserve(static_cast<size_t>(incs->nitems));
    for (int i = 0; i < incs->nitems; i++)
        stored.emplace_back(incs->key[i], static_cast<ProdAlphaList *>(incs->item[i]));
    std::vector<Entry> merged(stored.size() + pending_macros.size());
    std::merge(stored.begin(), stored.end(), pending_macros.begin(), pending_macros.end(),
               merged.begin(), key_less);
    int total = static_cast<int>(merged.size());
    if (total > incs->maxitems) { // the capacity growing by delta would have reached
        int step = incs->delta > 0 ? incs->delta : 10;
        resize_aptr_prodlist(incs,
                             incs->maxitems + (total - incs->maxitems + step - 1) / step * step);
    }
    for (int i = 0; i < total; i++) {
        incs->key[i] = merged[static_cast<size_t>(i)].first;
        incs->item[i] = merged[static_cast<size_t>(i)].second;
    }
    incs->nitems = total;
    pending_macros.clear();
    pending_slots.clear();
}

// Reads one macro body from fp (just after its opening line) and stores it under iname.
// Returns 0 when a closing line ended the body, 1 at end of file, -1 for a null iname.
int parse_inc(FILE *fp, const char *iname)
{
    if (verbose > 9) {
        if (iname)
            std::printf("Parsing include macro (%s) ...\n", iname);
        else
            std::printf("Invalid iname (NULL) to parse_inc\n");
    }
    if (!iname)
        return -1;
    if (!incs)
        init_ndx();
    std::string name = lower_ascii(iname);
    ProdAlphaList *body = create_alpha_prodlist(10);
    if (!body)
        die_out_of_memory();
    int result = read_macro_body(fp, body, name);
    if (verbose > 9 && name == "sublink")
        display_alpha_prodlist(body);
    store_macro(name, body);
    return result;
}

void list_macros()
{
    std::fprintf(stderr, "%d macros defined:\n", incs ? incs->nitems : 0);
    for (int i = 0; incs && i < incs->nitems; i++) {
        auto *body = static_cast<const ProdAlphaList *>(incs->item[i]);
        std::fprintf(stderr, "[%d] %s, %d lines\n", i, incs->key[i], body->nitems);
    }
}

// ---------------------------------------------------------------- variables

// The slot of every name in vars. With it a name is found without a search and a new name
// is appended without shifting the others, so a run that sets many distinct variables does
// not slow down as the store grows. The views point at the keys vars owns.
std::unordered_map<std::string_view, int> var_slots;
// The store var_slots was built for, and how many names it held then. A store replaced or
// freed outside the engine (a caller starting afresh) must never be searched through views
// of its old keys.
const ProdAPtrList *indexed_store = nullptr;
int indexed_names = 0;

// Builds var_slots again when vars is not the store it indexes.
void sync_var_slots()
{
    int names = vars ? vars->nitems : 0;
    if (vars == indexed_store && names == indexed_names)
        return;
    var_slots.clear();
    for (int i = 0; i < names; i++)
        var_slots.emplace(vars->key[i], i);
    indexed_store = vars;
    indexed_names = names;
}

// Slot of the variable name in vars, or -1.
int find_var(const char *name)
{
    sync_var_slots();
    auto it = var_slots.find(name);
    return it == var_slots.end() ? -1 : it->second;
}

// Appends a new variable to vars; the store takes ownership of key and val.
void append_var(char *key, char *val)
{
    if (vars->nitems >= vars->maxitems) // grow by half at least, so copying stays linear
        resize_aptr_prodlist(vars, vars->maxitems + std::max(vars->delta, vars->maxitems / 2));
    int slot = vars->nitems++;
    vars->key[slot] = key;
    vars->item[slot] = val;
    var_slots.emplace(key, slot);
    indexed_names = vars->nitems;
}

// Gives the variable in slot pos the value (null or empty: blank); value stays the caller's.
// An old value at least as long, and not much longer, is overwritten in place: the arguments
// of every include are set this way, so this saves an allocation for most of them.
void replace_var(int pos, const char *value)
{
    char *old = static_cast<char *>(vars->item[pos]);
    size_t len = value ? std::strlen(value) : 0;
    if (verbose > 9) {
        const char *shown = len > 0 ? value : nullptr;
        if (old)
            std::fprintf(stderr, "Variable [%s] changed from [%s] to [%s]\n", vars->key[pos], old,
                         or_null(shown));
        else
            std::fprintf(stderr, "Variable [%s] set to [%s]\n", vars->key[pos], or_null(shown));
    }
    size_t old_len = old ? std::strlen(old) : 0;
    if (len > 0 && old_len >= len && old_len <= 2 * len + 64) { // not holding on to much
        std::memcpy(old, value, len + 1);
        return;
    }
    vars->item[pos] = len > 0 ? xstrdup(value) : nullptr;
    std::free(old);
}

// Stores value (null or empty: blank) under name; name and value stay the caller's.
void store_var(const char *name, const char *value)
{
    int pos = find_var(name);
    if (pos >= 0) {
        replace_var(pos, value);
        return;
    }
    char *val = (value && *value) ? xstrdup(value) : nullptr;
    if (verbose > 9)
        std::fprintf(stderr, "Variable [%s] set to [%s]\n", name, or_null(val));
    if (!vars) { // no library loaded: nothing can be stored
        std::free(val);
        return;
    }
    append_var(xstrdup(name), val);
}

// Assigns the assignment text name|value (a second '|' ends the value; no '|' at all means
// a blank value). nargs and args are not used: the text is stored as given.
void do_set(const char *str, int /*nargs*/, char ** /*args*/)
{
    if (verbose > 9 && str[0] != 'a')
        std::fprintf(stderr, "do_set:%s\n", str);
    char local[256];
    std::string heap;
    char *copy = copy_text(str, std::strlen(str), local, sizeof local, &heap);
    char *flds[max_assign_fields];
    int n = split_flds(copy, flds, '|', 0, max_assign_fields);
    if (n == 0) // an empty text names nothing
        return;
    store_var(flds[0], n >= 2 ? flds[1] : nullptr);
}

void do_clear()
{
    var_slots.clear();
    indexed_names = 0;
    clear_aptr_prodlist(vars);
}

} // namespace

const char *get_val(const char *var)
{
    int pos = find_var(var);
    return pos >= 0 ? static_cast<const char *>(vars->item[pos]) : nullptr;
}

namespace {

// ---------------------------------------------------------------- references

// The value of argument reference name (which begins with a digit): "" when out of range.
const char *arg_value(const char *name, int nargs, char **args)
{
    long n = 0;
    for (const char *p = name; *p >= '0' && *p <= '9'; p++) {
        n = n * 10 + (*p - '0');
        if (n > INT_MAX) // far beyond any argument count
            return "";
    }
    if (n < 1 || n >= nargs || !args)
        return "";
    return args[n];
}

// Appends the value of the reference name to out.
void resolve_reference(std::string *out, const std::string &name, int nargs, char **args)
{
    const char *value;
    if (name[0] >= '0' && name[0] <= '9')
        value = arg_value(name.c_str(), nargs, args);
    else
        value = get_val(name.c_str());
    if (verbose > 9)
        std::fprintf(stderr, "get_val(%s)=%s.\n", name.c_str(), or_null(value));
    if (!value)
        return;
    size_t len = std::strlen(value);
    if (out->size() + len > max_text_len) {
        std::fprintf(stderr, "Expanded text too long, $[%s] not inserted\n", name.c_str());
        return;
    }
    out->append(value, len);
}

// Cuts the condition text in place into its five fields; the fifth ends at the next '|'.
// Returns 0, or 1 to 4 when the separator after that field is missing.
int cut_condition(char *text, char *fld[5])
{
    for (int i = 0; i < 4; i++) {
        char *bar = std::strchr(text, '|');
        if (!bar)
            return i + 1;
        *bar = '\0';
        fld[i] = text;
        text = bar + 1;
    }
    fld[4] = text;
    if (char *bar = std::strchr(text, '|'))
        *bar = '\0';
    return 0;
}

} // namespace

// ---------------------------------------------------------------- public: library

void set_verbose_inc(int val)
{
    verbose = val;
}

void bld_inc(const char *fname)
{
    FILE *fp = fname ? std::fopen(fname, "r") : nullptr;
    if (!fp) {
        std::fprintf(stderr, "Can't open include file (%s)\n", or_null(fname));
        return;
    }
    std::string line;
    bool first = true;
    while (read_whole_line(&line, fp)) {
        if (first && has_only_cr_line_ends(line)) { // it would read as one line: refuse it
            std::fprintf(stderr, "Include file has only CR line ends (%s)\n", fname);
            break;
        }
        first = false;
        if (line.empty() || line[0] != '>')
            continue;
        cut_at_line_end(&line);
        if (parse_inc(fp, line.c_str() + 1) != 0)
            break;
    }
    // A library that opens but cannot be read (a directory, an I/O error) must not pass for
    // an empty one; the macros read before the error stay defined.
    if (std::ferror(fp))
        std::fprintf(stderr, "Can't read include file (%s)\n", fname);
    std::fclose(fp);
    merge_pending_macros();
    if (verbose > 9)
        list_macros();
}

void reset_vars_inc()
{
    if (vars)
        do_clear();
    lastnargs = 0;
}

void reset_inc()
{
    for (int i = 0; incs && i < incs->nitems; i++) {
        free_alpha_prodlist(static_cast<ProdAlphaList *>(incs->item[i]));
        incs->item[i] = nullptr;
    }
    free_aptr_prodlist(incs);
    free_aptr_prodlist(vars);
    incs = vars = nullptr;
    var_slots.clear();
    indexed_store = nullptr;
    indexed_names = 0;
    lastnargs = include_depth = 0;
    expansions = 0;
}

// ---------------------------------------------------------------- public: evaluation

char *evalstr(const char *str, int nargs, char **args)
{
    if (!str)
        str = "";
    // Not reentrant, so one pair of work strings serves every call without allocating.
    static std::string out;
    static std::string name;
    out.clear();
    const char *p = str;
    while (*p) {
        const char *ref = std::strstr(p, "$[");
        if (!ref) {
            out.append(p);
            break;
        }
        out.append(p, ref);
        const char *start = ref + 2;
        const char *end = std::strchr(start, ']');
        name.assign(start, end ? end : start + std::strlen(start));
        resolve_reference(&out, name, nargs, args);
        p = end ? end + 1 : start + name.size();
    }
    char *result = static_cast<char *>(xmalloc(out.size() + 1));
    std::memcpy(result, out.c_str(), out.size() + 1);
    if (out.capacity() > 65536) // a rare huge text: do not hold on to its memory
        std::string().swap(out);
    return result;
}

int evalrelop(const char *str)
{
    static const struct {
        const char *op;
        int code;
    } ops[] = {{"<", 4}, {"<=", 6}, {"==", 2}, {"=", 2}, {">", 1}, {">=", 3}, {"!=", 5}, {"<>", 5}};
    if (!str)
        return 0;
    for (const auto &entry : ops)
        if (std::strcmp(str, entry.op) == 0)
            return entry.code;
    return 0;
}

int do_if(FILE *fp, const char *str, int nargs, char **args)
{
    if (!str)
        return 1;
    if (verbose > 0)
        std::fprintf(stderr, "do_if(%s)\n", str);
    char local[256];
    std::string heap;
    char *copy = copy_text(str, std::strlen(str), local, sizeof local, &heap);
    char *fld[5];
    if (int missing = cut_condition(copy, fld))
        return missing;

    // A field without a reference is used as it stands; the others are evaluated copies.
    char *evaluated[5] = {};
    auto value = [&](int i) -> const char * {
        if (std::strstr(fld[i], "$["))
            evaluated[i] = evalstr(fld[i], nargs, args);
        return evaluated[i] ? evaluated[i] : fld[i];
    };
    const char *s1 = value(0);
    const char *s2 = value(2);
    const char *t = value(3);
    const char *f = value(4);
    int rval = evalrelop(fld[1]);
    if (verbose > 0)
        std::fprintf(stderr, "do_if: str1=%s, str2=%s, s1=%s, s2=%s, t=%s, f=%s, rval=%d\n", fld[0],
                     fld[2], s1, s2, t, f, rval);
    int cmp = std::strcmp(s1, s2); // compares bytes as unsigned char
    bool holds = (cmp < 0 && (rval & 4)) || (cmp == 0 && (rval & 2)) || (cmp > 0 && (rval & 1));
    std::fputs(holds ? t : f, fp ? fp : stdout);
    for (char *field : evaluated)
        std::free(field);
    return 0;
}

// ---------------------------------------------------------------- expansion

namespace {

// Runs the command text str (set, clear or if, then '|' and the rest); if writes to fp.
void do_exec(FILE *fp, const char *str, int nargs, char **args)
{
    if (verbose > 9)
        std::fprintf(stderr, "do_exec:%s.\n", str);
    const char *bar = std::strchr(str, '|');
    size_t wordlen = bar ? static_cast<size_t>(bar - str) : std::strlen(str);
    const char *rest = bar ? bar + 1 : "";
    if (equals_nocase(str, wordlen, "set")) {
        do_set(rest, nargs, args);
    } else if (equals_nocase(str, wordlen, "clear")) {
        do_clear();
    } else if (equals_nocase(str, wordlen, "if")) {
        int result = do_if(fp, rest, nargs, args);
        if (verbose > 9)
            std::fprintf(stderr, "do_if returned %d\n", result);
    } else {
        std::fprintf(stderr, "Invalid command (%s)\n", str);
    }
}

// Writes prefix and the decimal n into buf (which holds 32) as a C string; snprintf's
// format parsing shows in every include otherwise.
const char *numbered_name(char *buf, const char *prefix, int n)
{
    size_t len = 0;
    for (; prefix[len] != '\0'; len++)
        buf[len] = prefix[len];
    char *end = std::to_chars(buf + len, buf + 31, n).ptr;
    *end = '\0';
    return buf;
}

// Publishes the arguments of one include as arg1.. and nargs, and blanks the argument
// variables a previous include with more fields left behind.
void publish_args(int nargs, char **args)
{
    char name[32];
    for (int n = 1; n < nargs; n++) {
        numbered_name(name, "arg", n);
        if (verbose > 9)
            std::fprintf(stderr, "Setting arg: %s|%s.\n", name, args[n]);
        store_var(name, args[n]);
    }
    if (nargs >= 1) {
        char count[32];
        numbered_name(count, "", nargs);
        if (verbose > 9)
            std::fprintf(stderr, "do_set:nargs|%s\n", count);
        store_var("nargs", count);
    }
    for (int n = nargs; n < lastnargs; n++)
        store_var(numbered_name(name, "arg", n), nullptr);
    lastnargs = nargs;
}

} // namespace

void do_include(FILE *outf, const char *str)
{
    if (!str)
        return;
    if (verbose > 9)
        std::fprintf(stderr, "do_include(%s)\n", str);
    char local[256];
    std::string heap;
    char *copy = copy_text(str, std::strcspn(str, "\r\n"), local, sizeof local, &heap);
    char *args[max_include_fields];
    int nargs = split_flds(copy, args, '|', 0, max_include_fields);
    const char *name = copy; // the split left the name alone in copy

    int pos = find_inc(name);
    if (pos < 0) {
        std::fprintf(stderr, "unknown include (%s)\n", name);
        return;
    }
    if (include_depth == 0)
        expansions = 0;
    if (expansions >= max_expansions) {
        if (expansions++ == max_expansions) // said once for each outer include
            std::fprintf(stderr, "Include expansion too large (%s)\n", name);
        return;
    }
    if (include_depth >= max_include_depth) {
        std::fprintf(stderr, "Include nesting too deep (%s)\n", name);
        return;
    }
    expansions++;
    auto *body = static_cast<ProdAlphaList *>(incs->item[pos]);
    publish_args(nargs, args);
    include_depth++;
    process_include(outf, name, body, nargs, args);
    include_depth--;
}

void process_include(FILE *outf, const char *name, ProdAlphaList *body, int nargs, char **args)
{
    if (verbose > 0) {
        std::fprintf(stderr, "process_include(%s), nargs=%d ", or_null(name), nargs);
        for (int i = 0; args && i < nargs; i++)
            std::fprintf(stderr, " [%s]", args[i] ? args[i] : "null");
        std::fprintf(stderr, "\n");
    }
    if (!outf)
        outf = stdout;
    for (int i = 0; body && i < body->nitems; i++) {
        const char *stored = body->item[i];
        // A line without a reference needs no evaluated copy.
        char *expanded = std::strstr(stored, "$[") ? evalstr(stored, nargs, args) : nullptr;
        const char *line = expanded ? expanded : stored;
        if (line[0] == '>' && line[1] == '!') {
            if (verbose > 9)
                std::fprintf(stderr, "Executing: [%s]\n", line);
            do_exec(outf, line + 2, nargs, args);
        } else if (line[0] == '>') {
            if (verbose > 9)
                std::fprintf(stderr, "Embedded: [%s]\n", line);
            do_include(outf, line + 1);
        } else {
            if (verbose > 9)
                std::fprintf(stderr, "Copy: [%s]\n", line);
            std::fputs(line, outf);
            std::putc('\n', outf);
        }
        std::free(expanded);
    }
}

// ---------------------------------------------------------------- pages

namespace {

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

// ---------------------------------------------------------------- escaping

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
