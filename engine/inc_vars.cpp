// The variable store: vars, kept in ascending order of names and changed through the list
// operations only, so a caller may search and update it with them as well. Where a name was
// found last is kept as a hint, used only once the name stored there is seen to be the same.
#include "engine/bld_html.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <malloc.h>

#include "engine/bld_html_internal.h"
#include "support/util.h"

namespace {

// Check mode: the page and site that last set each variable (page 0: not during the check),
// by name. Kept only while checking, so a build pays nothing for it.
struct VarOrigin {
    int page = 0;
    IncSite site;
};
std::unordered_map<std::string, VarOrigin> origins;
// Every name set while checking, kept through clear: what no page or macro ever sets is
// always blank.
std::unordered_set<std::string> ever_set;

void note_origin(const char *name)
{
    if (!inc_state.checking)
        return;
    auto [it, added] = origins.try_emplace(name);
    it->second = {check_page_number(), *check_here()};
    if (added)
        ever_set.insert(it->first);
}

// Slot of the variable name in vars, or -1: the slot *hint names when its key is name, else
// the halving search (and *hint is updated).
int find_var(const char *name, VarHint *hint)
{
    if (!vars)
        return -1;
    int pos = hint->slot;
    if (pos >= 0 && pos < vars->nitems && std::strcmp(vars->key[pos], name) == 0)
        return pos;
    return hint->slot = bsearch_aptr_prodlist(vars, name);
}

// Hints for get_val: the slot where a name was found last, by a few bytes of the name.
VarHint recent_slots[256];

VarHint *recent_slot(const char *name)
{
    size_t len = std::strlen(name);
    size_t first = len ? static_cast<unsigned char>(name[0]) : 0;
    size_t last = len ? static_cast<unsigned char>(name[len - 1]) : 0;
    return &recent_slots[(len * 131 + first * 31 + last) & 255];
}

// Traces the change of the variable name from old to value (empty: blank).
[[gnu::cold, gnu::noinline]] void trace_change(const char *name, const char *old,
                                               std::string_view value)
{
    int len = value.empty() ? 6 : static_cast<int>(value.size());
    const char *shown = value.empty() ? "(null)" : value.data();
    if (old)
        trace(TRACE_ALL, "Variable [%s] changed from [%s] to [%.*s]\n", name, old, len, shown);
    else
        trace(TRACE_ALL, "Variable [%s] set to [%.*s]\n", name, len, shown);
}

// A new heap copy of value, or null for an empty one (a blank variable).
char *copy_value(std::string_view value)
{
    if (value.empty())
        return nullptr;
    auto *copy = static_cast<char *>(xmalloc(value.size() + 1));
    std::memcpy(copy, value.data(), value.size());
    copy[value.size()] = '\0';
    return copy;
}

// True when a block of size bytes suits a value of len bytes: large enough, and not so much
// larger that it holds on to memory.
bool suits(size_t size, size_t len)
{
    return len < size && size <= 2 * len + 96;
}

// A buffer for a value of len bytes: the spare *hint keeps when it suits, else a new one
// (with a little room, so the next values of about that length fit in it).
char *value_buffer(size_t len, VarHint *hint)
{
    char *buffer = hint->spare;
    if (buffer && suits(hint->spare_size, len)) {
        hint->spare = nullptr;
        return buffer;
    }
    return static_cast<char *>(xmalloc(std::max<size_t>(len + 1, 32)));
}

// Gives the variable in slot pos the value (empty: blank); value stays the caller's. An old
// value's block that suits the new one is overwritten in place: whoever stored it, it is a
// heap block, which tells its own size. The arguments of every include are set this way.
void replace_var(int pos, std::string_view value, VarHint *hint)
{
    char *old = static_cast<char *>(vars->item[pos]);
    size_t len = value.size();
    if (tracing(TRACE_ALL))
        trace_change(vars->key[pos], old, value);
    if (!old && len == 0) // blank, and blank it stays
        return;
    size_t room = old ? malloc_usable_size(old) : 0;
    if (len > 0 && suits(room, len)) {
        std::memcpy(old, value.data(), len);
        old[len] = '\0';
        return;
    }
    if (old && hint->keeps_spare) {
        std::free(hint->spare);
        hint->spare = old;
        hint->spare_size = room;
    } else {
        std::free(old);
    }
    char *buffer = len > 0 ? value_buffer(len, hint) : nullptr;
    if (buffer) {
        std::memcpy(buffer, value.data(), len);
        buffer[len] = '\0';
    }
    vars->item[pos] = buffer;
}

// Stores value (empty: blank) under name, trying the slot *hint names first.
void store_text(const char *name, std::string_view value, VarHint *hint)
{
    int pos = find_var(name, hint);
    if (pos >= 0) {
        replace_var(pos, value, hint);
        note_origin(name);
        return;
    }
    char *val = copy_value(value);
    if (tracing(TRACE_ALL))
        trace(TRACE_ALL, "Variable [%s] set to [%s]\n", name, or_null(val));
    if (!vars) { // no library loaded: nothing can be stored
        std::free(val);
        return;
    }
    bupdate_aptr_prodlist(vars, xstrdup(name), val);
    note_origin(name);
}

} // namespace

void store_var(const char *name, const char *value)
{
    store_var_hinted(name, value, recent_slot(name));
}

void store_var_hinted(const char *name, const char *value, VarHint *hint)
{
    store_text(name, value ? value : "", hint);
}

const char *get_val_hinted(const char *name, VarHint *hint)
{
    int pos = find_var(name, hint);
    return pos >= 0 ? static_cast<const char *>(vars->item[pos]) : nullptr;
}

const char *get_val(const char *var)
{
    return var ? get_val_hinted(var, recent_slot(var)) : nullptr;
}

void do_set(const char *str)
{
    if (str[0] != 'a' && tracing(TRACE_ALL))
        trace(TRACE_ALL, "do_set:%s\n", str);
    std::string_view text(str);
    if (text.empty()) // an empty text names nothing
        return;
    size_t bar = text.find('|');
    std::string_view value;
    if (bar != std::string_view::npos) {
        value = text.substr(bar + 1);
        value = value.substr(0, value.find('|'));
    }
    static std::string name; // the name as a C string; storing it calls nothing back here
    name.assign(text.substr(0, bar));
    store_text(name.c_str(), value, recent_slot(name.c_str()));
}

void do_clear()
{
    origins.clear();
    clear_aptr_prodlist(vars);
}

void free_vars()
{
    origins.clear();
    free_aptr_prodlist(vars);
    vars = nullptr;
}

void publish_args(int nargs, char **args)
{
    // Where the store had each name last time: these are set for every include.
    static VarHint arg_hints[max_include_fields];
    static VarHint nargs_hint;
    static bool keeping = [] {
        for (VarHint &hint : arg_hints)
            hint.keeps_spare = true;
        return true;
    }();
    (void)keeping;
    static char names[max_include_fields][8];      // "arg0" to "arg99", written once
    static char counts[max_include_fields + 1][4]; // "0" to "100"
    if (names[0][0] == '\0') {
        for (int n = 0; n < max_include_fields; n++)
            *std::to_chars(std::copy_n("arg", 3, names[n]), std::end(names[n]) - 1, n).ptr = '\0';
        for (int n = 0; n <= max_include_fields; n++)
            *std::to_chars(std::begin(counts[n]), std::end(counts[n]) - 1, n).ptr = '\0';
    }
    for (int n = 1; n < nargs; n++) {
        if (tracing(TRACE_ALL)) // the test first: a trace call costs even when it is quiet
            trace(TRACE_ALL, "Setting arg: %s|%s.\n", names[n], args[n]);
        store_text(names[n], args[n] ? args[n] : "", &arg_hints[n]);
    }
    if (nargs >= 1) {
        if (tracing(TRACE_ALL))
            trace(TRACE_ALL, "do_set:nargs|%s\n", counts[nargs]);
        store_text("nargs", counts[nargs], &nargs_hint);
    }
    for (int n = std::max(nargs, 0); n < inc_state.lastnargs; n++)
        store_text(names[n], {}, &arg_hints[n]);
    inc_state.lastnargs = nargs;
}

const std::unordered_set<std::string> &names_set_in_check()
{
    return ever_set;
}

bool var_origin(const char *name, int *page, IncSite *site)
{
    if (find_var(name, recent_slot(name)) < 0)
        return false;
    auto it = origins.find(name);
    *page = it != origins.end() ? it->second.page : 0;
    *site = it != origins.end() ? it->second.site : IncSite();
    return true;
}

void forget_var_origins()
{
    origins.clear();
    ever_set.clear();
}

// A copy of the variables in their order, and the argument count.
struct IncVarsSave {
    std::vector<std::pair<std::string, std::string>> vars; // a blank variable: an empty value
    int lastnargs = 0;
};

IncVarsSave *save_vars_inc()
{
    auto *save = new IncVarsSave;
    for (int i = 0; vars && i < vars->nitems; i++) {
        const char *value = static_cast<const char *>(vars->item[i]);
        save->vars.emplace_back(vars->key[i], value ? value : "");
    }
    save->lastnargs = inc_state.lastnargs;
    return save;
}

void restore_vars_inc(IncVarsSave *save)
{
    do_clear();
    for (const auto &[name, value] : save->vars)
        if (vars)
            bupdate_aptr_prodlist(vars, xstrdup(name.c_str()), copy_value(value));
    inc_state.lastnargs = save->lastnargs;
    delete save;
}
