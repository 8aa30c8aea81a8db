// Check mode: where the expansion stands (page line, or library line inside the includes that
// led there), the diagnostics it gives instead of the build's messages, and the library's
// own problems as the loader noted them.
#include "engine/bld_html.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/bld_html_internal.h"
#include "support/util.h"

namespace {

// One include being expanded: the name it was written with and where it was written.
struct Frame {
    const char *name; // the include text's own copy, alive while the include runs
    IncSite site;
    int opening_line; // of the macro's definition; 0 when unknown
};

// Copies of the page paths, packed into blocks that never move, so sites may point into them
// and a check of many pages keeps little more than the paths' own bytes.
struct PathStore {
    std::vector<std::unique_ptr<char[]>> blocks;
    size_t used = 0, size = 0;
};

// Returns a copy of path kept in store until the store goes.
const char *keep_path(PathStore *store, const char *path)
{
    size_t len = std::strlen(path) + 1;
    if (store->used + len > store->size) {
        store->size = std::max<size_t>(len, 16384);
        store->blocks.push_back(std::make_unique<char[]>(store->size));
        store->used = 0;
    }
    char *copy = store->blocks.back().get() + store->used;
    std::memcpy(copy, path, len);
    store->used += len;
    return copy;
}

struct CheckState {
    IncTextHook hook = nullptr;
    IncSite here;
    std::vector<Frame> frames;
    PathStore paths; // every page path of the check: sites point into them
    int page = 0;
    int first_body_line = 1;
    int errors = 0;
    int warnings = 0;
    bool runaway_said = false;                          // for the current outer include
    bool in_item = false;                               // a sub-menu item is being expanded
    std::unordered_set<size_t> said;                    // errors and warnings written, hashed
    bool lead_said = true;                              // the last of them was written
    std::unordered_set<std::string> blank_seen;         // names of blank references met
    std::vector<std::pair<std::string, IncSite>> blank; // the same, each at its first site
    std::unordered_set<std::string> order_warned;       // variables warned of on this page
    std::unordered_map<std::string, IncSite> swallowed; // lower-cased >Name -> its line
};
CheckState check;

const char *const frame_macros[] = {"pagestart",    "pagehdr",     "pageend",
                                    "submenustart", "submenuitem", "submenuend"};

// Writes one diagnostic. While checking, an error or warning already written (the same text
// at the same place) is not written again, nor are the engine's notes that follow it
// (own_note); the notes a caller gives through diag_inc are always written.
[[gnu::format(printf, 3, 0)]] void write_diag(IncDiag kind, const IncSite &site, const char *fmt,
                                              va_list ap, bool own_note = true)
{
    static const char *const kinds[] = {"error", "warning", "note"};
    // One write for the whole line: standard error is unbuffered, and a check may say a lot.
    std::string text = site.line > 0 ? strprintf("%s:%d: %s: ", site.path, site.line, kinds[kind])
                                     : strprintf("%s: %s: ", site.path, kinds[kind]);
    text.append(vstrprintf(fmt, ap)).push_back('\n');
    if (inc_state.checking && kind != DIAG_NOTE)
        check.lead_said = check.said.insert(std::hash<std::string>()(text)).second;
    if (inc_state.checking && !check.lead_said && (kind != DIAG_NOTE || own_note))
        return;
    flush_output();
    std::fwrite(text.data(), 1, text.size(), stderr);
    if (inc_state.checking && kind == DIAG_ERROR)
        check.errors++;
    else if (inc_state.checking && kind == DIAG_WARNING)
        check.warnings++;
}

[[gnu::format(printf, 3, 4)]] void diag_at(IncDiag kind, IncSite site, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    write_diag(kind, site, fmt, ap);
    va_end(ap);
}

// One note per include open, innermost first, back to the page line that led there.
void note_include_chain()
{
    for (size_t i = check.frames.size(); i-- > 0;)
        diag_at(DIAG_NOTE, check.frames[i].site, "'%s' is included here",
                clip_text(check.frames[i].name).c_str());
}

// " (A -> B -> A)" when name closes a cycle of the includes open, else "".
std::string cycle_of(const char *name)
{
    std::string key = lower_ascii(name);
    for (size_t i = check.frames.size(); i-- > 0;) {
        if (lower_ascii(check.frames[i].name) != key)
            continue;
        std::string chain = " (";
        for (size_t j = i; j < check.frames.size(); j++)
            chain.append(clip_text(check.frames[j].name)).append(" -> ");
        return chain.append(clip_text(name)).append(")");
    }
    return "";
}

// A runaway limit: said once for each outer include, at the include that set it off, with
// a note at the line where it was met.
void report_runaway(IncFault fault, const char *subject)
{
    if (check.runaway_said && !check.frames.empty()) // a page's own exec line: always said
        return;
    check.runaway_said = true;
    IncSite start = check.frames.empty() ? check.here : check.frames.front().site;
    std::string top = clip_text(check.frames.empty() ? subject : check.frames.back().name);
    if (fault == FAULT_NESTING)
        diag_at(DIAG_ERROR, start, "include nesting too deep (over %d levels)%s", max_include_depth,
                cycle_of(subject).c_str());
    else if (fault == FAULT_EXPANSION)
        diag_at(DIAG_ERROR, start, "include expansion too large (over %ld macro expansions)%s",
                max_expansions, cycle_of(subject).c_str());
    else
        diag_at(DIAG_ERROR, start, "expanded text too long (over %zu bytes): $[%s] not inserted",
                max_text_len, clip_text(subject).c_str());
    if (!check.frames.empty())
        diag_at(DIAG_NOTE, check.here, "the limit is met here, in '%s'", top.c_str());
}

// The number of edits (insert, delete or replace a byte) that turn a into b, the case of 'A'
// to 'Z' ignored; 3 for any number above two.
size_t edits_up_to_two(std::string_view a, std::string_view b)
{
    if (a.size() > b.size() + 2 || b.size() > a.size() + 2)
        return 3;
    std::vector<size_t> row(b.size() + 1), next(b.size() + 1);
    for (size_t j = 0; j <= b.size(); j++)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); i++) {
        next[0] = i;
        size_t best = next[0];
        for (size_t j = 1; j <= b.size(); j++) {
            bool same = to_lower_ascii(a[i - 1]) == to_lower_ascii(b[j - 1]);
            next[j] = std::min({row[j] + 1, next[j - 1] + 1, row[j - 1] + (same ? 0 : 1)});
            best = std::min(best, next[j]);
        }
        if (best > 2) // every way on is already longer
            return 3;
        row.swap(next);
    }
    return std::min<size_t>(row[b.size()], 3);
}

// "; did you mean 'X'?" for the name of names nearest to name (the first in byte order of
// the nearest) when it is at most two edits away, else "".
template <typename Names> std::string suggestion(std::string_view name, const Names &names)
{
    const std::string *best = nullptr;
    size_t best_edits = 3;
    for (const std::string &candidate : names) {
        size_t edits = edits_up_to_two(name, candidate);
        if (edits < best_edits || (edits == best_edits && best && candidate < *best)) {
            best = &candidate;
            best_edits = edits;
        }
    }
    return best ? "; did you mean '" + clip_text(*best) + "'?" : "";
}

// The names of the macros as the library spells them, in the order of the index.
std::vector<std::string> macro_names()
{
    std::vector<std::string> names;
    for (int i = 0; incs && i < incs->nitems; i++) {
        const MacroSite *site = macro_site(static_cast<ProdAlphaList *>(incs->item[i]));
        names.emplace_back(site ? site->name : std::string(incs->key[i]));
    }
    return names;
}

// True when name is an argument variable (arg followed by digits) or nargs.
bool is_argument_variable(std::string_view name)
{
    if (name == "nargs")
        return true;
    return name.size() > 3 && name.starts_with("arg") &&
           name.find_first_not_of("0123456789", 3) == std::string_view::npos;
}

} // namespace

IncSite *check_here()
{
    return &check.here;
}

int check_page_number()
{
    return check.page;
}

int check_first_body_line()
{
    return check.first_body_line;
}

void check_enter(const char *name, const ProdAlphaList *body)
{
    if (check.frames.empty())
        check.runaway_said = false;
    MacroSite *site = macro_site(body);
    if (site)
        site->reached = true;
    check.frames.push_back({name, check.here, site ? site->line : 0});
}

void check_leave()
{
    check.here = check.frames.back().site;
    check.frames.pop_back();
}

void check_body_line(int i)
{
    int opening = check.frames.empty() ? 0 : check.frames.back().opening_line;
    check.here = {library_path(), opening > 0 ? opening + 1 + i : 0};
}

void check_text(const char *text, size_t len)
{
    if (check.hook)
        check.hook(text, len, check.here.path, check.here.line);
}

void check_reference(const char *name)
{
    int page;
    IncSite origin;
    if (!var_origin(name, &page, &origin) || page == 0 || page == check.page)
        return;
    if (!check.order_warned.insert(name).second)
        return;
    diag_at(DIAG_WARNING, check.here,
            "$[%s] is set by an earlier page, not by this one: its value depends on the build "
            "order (-u or a one-page build gives another)",
            clip_text(name).c_str());
    diag_at(DIAG_NOTE, origin, "$[%s] is set here", clip_text(name).c_str());
}

void check_fault(IncFault fault, const char *subject)
{
    switch (fault) {
    case FAULT_UNKNOWN: {
        if (check.frames.empty() && check.here.line == 1) { // the build's own, on every page
            diag_at(DIAG_ERROR, {library_path(), 0},
                    "the library defines no macro '%s', which the build includes on every page",
                    clip_text(subject).c_str());
            break;
        }
        diag_at(DIAG_ERROR, check.here, "unknown include '%s': the library defines no such macro%s",
                clip_text(subject).c_str(), suggestion(subject, macro_names()).c_str());
        note_include_chain();
        auto it = check.swallowed.find(lower_ascii(subject));
        if (it != check.swallowed.end())
            diag_at(DIAG_NOTE, it->second, "'>%s' here is a line of the macro before it",
                    clip_text(subject).c_str());
        break;
    }
    case FAULT_COMMAND:
        diag_at(DIAG_ERROR, check.here, "invalid command '%s' (set, clear or if)",
                clip_text(subject).c_str());
        note_include_chain();
        break;
    case FAULT_NESTING:
    case FAULT_EXPANSION:
    case FAULT_TOO_LONG:
        report_runaway(fault, subject);
        break;
    default: // the library is loaded before any check
        diag_at(DIAG_ERROR, {subject, 0}, "the include library cannot be used");
        break;
    }
}

void check_short_condition(int fields)
{
    diag_at(DIAG_WARNING, check.here,
            "'if' has only %d of its five fields (value|operator|value|true text|false text): a "
            "build writes nothing for it",
            fields);
    note_include_chain();
}

void check_unknown_operator(std::string_view op)
{
    diag_at(DIAG_WARNING, check.here,
            "unknown operator '%s' in 'if' (<, <=, ==, =, >, >=, !=, <>): the condition never "
            "holds, so the false text is always written",
            clip_text(op).c_str());
    note_include_chain();
}

void check_include_fields(const char *name, int nargs)
{
    // A page's sub-link line starts a sub-menu item; the same line in a macro is an include.
    if (check.frames.empty() || std::strncmp(name, "SubLink", 7) != 0 ||
        (name[7] != '\0' && name[7] != 'N') || nargs < 2)
        return;
    diag_at(DIAG_WARNING, check.here,
            "'>%s' in a macro adds no sub-menu item: only a page's own sub-link lines do",
            clip_text(name).c_str());
    note_include_chain();
}

void check_arguments(const char *name, int nargs, int written, int written_line)
{
    int given = std::max(nargs - 1, 0);
    if (check.frames.empty() && check.here.line == 1 && written_line > 0) {
        // An include the build makes itself (a page's first line is its title): the same on
        // every page, so said once, at the library line.
        diag_at(DIAG_WARNING, {library_path(), written_line},
                "the build includes '%s' with %d argument%s, but the macro writes $[%d]: it is "
                "always written empty",
                clip_text(name).c_str(), given, given == 1 ? "" : "s", written);
        return;
    }
    diag_at(DIAG_WARNING, check.here,
            "include '%s' gives %d argument%s, but the macro writes $[%d]: it is written empty",
            clip_text(name).c_str(), given, given == 1 ? "" : "s", written);
    if (written_line > 0)
        diag_at(DIAG_NOTE, {library_path(), written_line}, "'%s' writes $[%d] here",
                clip_text(name).c_str(), written);
}

void check_blank_reference(const char *name)
{
    if (is_argument_variable(name) || names_set_in_check().count(name) > 0)
        return;
    if (check.blank_seen.insert(name).second)
        check.blank.emplace_back(name, check.here);
}

void check_submenu_item(bool on)
{
    check.in_item = on;
}

int check_sublink_line_inc(const char **path)
{
    if (!inc_state.checking || !check.in_item || check.frames.empty())
        return 0;
    *path = check.frames.front().site.path;
    return check.frames.front().site.line;
}

void check_unset_inc()
{
    const auto &set = names_set_in_check();
    for (const auto &[name, site] : check.blank) {
        if (set.count(name) > 0)
            continue;
        diag_at(DIAG_WARNING, site,
                "$[%s] is never set: no page or macro sets it, so it is always empty%s",
                clip_text(name).c_str(), suggestion(name, set).c_str());
    }
}

void begin_check_inc(IncTextHook text_hook)
{
    check = CheckState();
    check.hook = text_hook;
    for (int i = 0; incs && i < incs->nitems; i++)
        if (MacroSite *site = macro_site(static_cast<ProdAlphaList *>(incs->item[i])))
            site->reached = false;
    forget_var_origins();
    inc_state.checking = true;
}

void check_page_inc(const char *path, int body_line)
{
    check.page++;
    check.first_body_line = body_line;
    check.here = {keep_path(&check.paths, path), 1};
    check.order_warned.clear();
}

void check_swallowed(const char *name, int line)
{
    check.swallowed.emplace(lower_ascii(name), IncSite{library_path(), line});
}

void check_unreached_inc()
{
    std::vector<const MacroSite *> unused;
    for (int i = 0; incs && i < incs->nitems; i++) {
        const MacroSite *site = macro_site(static_cast<ProdAlphaList *>(incs->item[i]));
        auto is_frame = [&](const char *name) { return std::strcmp(incs->key[i], name) == 0; };
        if (site && !site->reached &&
            std::none_of(std::begin(frame_macros), std::end(frame_macros), is_frame))
            unused.push_back(site);
    }
    std::sort(unused.begin(), unused.end(),
              [](const MacroSite *a, const MacroSite *b) { return a->line < b->line; });
    for (const MacroSite *site : unused)
        diag_at(DIAG_WARNING, {library_path(), site->line}, "macro '%s' is never included",
                clip_text(site->name).c_str());
}

void end_check_inc(int *errors, int *warnings)
{
    *errors = check.errors;
    *warnings = check.warnings;
    inc_state.checking = false;
    forget_var_origins();
    check = CheckState();
}

void diag_inc(IncDiag kind, const char *path, int line, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    write_diag(kind, {path, line}, fmt, ap, false);
    va_end(ap);
}
