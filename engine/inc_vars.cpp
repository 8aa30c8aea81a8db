// The variable store: vars holds the variables in the order their names were first set; an
// index of the names beside it finds a name without a search.
#include "engine/bld_html.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/bld_html_internal.h"
#include "support/util.h"

namespace {

// The slot of every name in vars. With it a name is found without a search and a new name
// is appended without shifting the others, so a run that sets many distinct variables does
// not slow down as the store grows. The views point at the keys vars owns; only this file
// changes vars, and reset_inc replaces it through free_vars.
std::unordered_map<std::string_view, int> var_slots;

// Check mode: the page and site that last set the variable in each slot (page 0: not during
// the check). Kept only while checking, so a build pays nothing for it.
struct VarOrigin {
    int page = 0;
    IncSite site;
};
std::vector<VarOrigin> origins;

// Notes that the variable in slot was set at the current site of the check.
void note_origin(int slot)
{
    if (!inc_state.checking)
        return;
    if (origins.size() <= static_cast<size_t>(slot))
        origins.resize(static_cast<size_t>(slot) + 1);
    origins[static_cast<size_t>(slot)] = {check_page_number(), *check_here()};
}

// The slot where a name was found last, by a few bytes of the name, checked against the key
// before use: most names are looked up again and again, and this costs less than hashing.
int recent_slots[256];

int &recent_slot(std::string_view name)
{
    size_t len = name.size();
    size_t first = len ? static_cast<unsigned char>(name[0]) : 0;
    size_t last = len ? static_cast<unsigned char>(name[len - 1]) : 0;
    return recent_slots[(len * 131 + first * 31 + last) & 255];
}

// Slot of the variable name in vars, or -1.
int find_var(std::string_view name)
{
    int &cached = recent_slot(name);
    if (vars && cached < vars->nitems) {
        const char *key = vars->key[cached];
        if (std::strncmp(key, name.data(), name.size()) == 0 && key[name.size()] == '\0')
            return cached;
    }
    auto it = var_slots.find(name);
    if (it == var_slots.end())
        return -1;
    return cached = it->second;
}

// Counts the clearings of the store, so a VarHint knows whether its slot still holds its name.
unsigned store_generation = 1;

// Beside each slot of vars: the size of the buffer its value lives in, and that buffer while
// the variable is blank (the store's item is null then). A variable set again and again, as
// every include's arguments are, so keeps one buffer instead of a new one each time.
struct FreeBuffer {
    void operator()(char *buffer) const
    {
        std::free(buffer);
    }
};
struct ValueRoom {
    size_t size = 0;
    std::unique_ptr<char, FreeBuffer> blank_buffer;
};
std::vector<ValueRoom> rooms;

// Appends a new variable to vars; the store takes ownership of key and val.
void append_var(char *key, char *val)
{
    rooms.push_back({val ? std::strlen(val) + 1 : 0, nullptr});
    if (vars->nitems >= vars->maxitems) // grow by half at least, so copying stays linear
        resize_aptr_prodlist(vars, vars->maxitems + std::max(vars->delta, vars->maxitems / 2));
    int slot = vars->nitems++;
    vars->key[slot] = key;
    vars->item[slot] = val;
    var_slots.emplace(key, slot);
}

// Traces the change of the variable in slot pos from old to value (empty: blank).
[[gnu::cold, gnu::noinline]] void trace_change(int pos, const char *old, std::string_view value)
{
    int len = value.empty() ? 6 : static_cast<int>(value.size());
    const char *shown = value.empty() ? "(null)" : value.data();
    if (old)
        trace(TRACE_ALL, "Variable [%s] changed from [%s] to [%.*s]\n", vars->key[pos], old, len,
              shown);
    else
        trace(TRACE_ALL, "Variable [%s] set to [%.*s]\n", vars->key[pos], len, shown);
}

// replace_var for a value that needs another buffer, or none.
void move_var(int pos, char *old, std::string_view value)
{
    size_t len = value.size();
    ValueRoom &room = rooms[static_cast<size_t>(pos)];
    char *buffer = old ? old : room.blank_buffer.release();
    if (len == 0) { // blank: the buffer waits for the next value
        vars->item[pos] = nullptr;
        room.blank_buffer.reset(buffer);
        return;
    }
    if (!buffer || room.size <= len || room.size > 2 * len + 64) { // not holding on to much
        std::free(buffer);
        buffer = static_cast<char *>(xmalloc(len + 1));
        room.size = len + 1;
    }
    std::memcpy(buffer, value.data(), len);
    buffer[len] = '\0';
    vars->item[pos] = buffer;
}

// Gives the variable in slot pos the value (null or empty: blank); value stays the caller's.
// An old value at least as long, and not much longer, is overwritten in place: the arguments
// of every include are set this way, so this saves an allocation for most of them.
inline void replace_var(int pos, std::string_view value)
{
    char *old = static_cast<char *>(vars->item[pos]);
    size_t len = value.size();
    if (tracing(TRACE_ALL))
        trace_change(pos, old, value);
    size_t room = rooms[static_cast<size_t>(pos)].size;
    if (old && len > 0 && len < room && room <= 2 * len + 64) {
        std::memcpy(old, value.data(), len);
        old[len] = '\0';
    } else if (old || len > 0) { // (a blank staying blank needs nothing)
        move_var(pos, old, value);
    }
}

// store_var for a name and a value (empty: blank) that need not end in a NUL byte.
void store_text(std::string_view name, std::string_view value)
{
    int pos = find_var(name);
    if (pos >= 0) {
        replace_var(pos, value);
        note_origin(pos);
        return;
    }
    std::string key(name);
    char *val = value.empty() ? nullptr : xstrdup(std::string(value).c_str());
    if (tracing(TRACE_ALL))
        trace(TRACE_ALL, "Variable [%s] set to [%s]\n", key.c_str(), or_null(val));
    if (!vars) { // no library loaded: nothing can be stored
        std::free(val);
        return;
    }
    append_var(xstrdup(key.c_str()), val);
    note_origin(vars->nitems - 1);
}

} // namespace

void store_var(const char *name, const char *value)
{
    store_text(name, value ? value : "");
}

void do_set(const char *str)
{
    if (str[0] != 'a' && tracing(TRACE_ALL))
        trace(TRACE_ALL, "do_set:%s\n", str);
    std::string_view text(str);
    if (text.empty()) // an empty text names nothing
        return;
    size_t bar = text.find('|');
    if (bar == std::string_view::npos) {
        store_text(text, {});
        return;
    }
    std::string_view value = text.substr(bar + 1);
    store_text(text.substr(0, bar), value.substr(0, value.find('|')));
}

void do_clear()
{
    store_generation++;
    rooms.clear();
    var_slots.clear();
    origins.clear();
    clear_aptr_prodlist(vars);
}

void free_vars()
{
    store_generation++;
    rooms.clear();
    var_slots.clear();
    origins.clear();
    free_aptr_prodlist(vars);
    vars = nullptr;
}

namespace {

int find_var_hinted(const char *name, VarHint *hint)
{
    if (hint->generation == store_generation && hint->slot >= 0)
        return hint->slot;
    hint->generation = store_generation;
    return hint->slot = find_var(name);
}

// store_var_hinted's work, inlined where every include calls it.
inline void set_hinted(const char *name, std::string_view value, VarHint *hint)
{
    int pos = find_var_hinted(name, hint);
    if (pos < 0) {
        store_text(name, value);
        return;
    }
    replace_var(pos, value);
    note_origin(pos);
}

} // namespace

const char *get_val_hinted(const char *name, VarHint *hint)
{
    int pos = find_var_hinted(name, hint);
    return pos >= 0 ? static_cast<const char *>(vars->item[pos]) : nullptr;
}

void store_var_hinted(const char *name, const char *value, VarHint *hint)
{
    set_hinted(name, value ? value : "", hint);
}

void publish_args(int nargs, char **args, size_t *lens)
{
    // Where the store had each name last time: these are set for every include.
    static VarHint arg_hints[max_include_fields];
    static VarHint nargs_hint;
    static char names[max_include_fields][8];      // "arg1" to "arg99", written once
    static char counts[max_include_fields + 1][4]; // "0" to "100"
    if (names[1][0] == '\0') {
        for (int n = 1; n < max_include_fields; n++) // names[0] stays ""
            *std::to_chars(std::copy_n("arg", 3, names[n]), std::end(names[n]) - 1, n).ptr = '\0';
        for (int n = 0; n <= max_include_fields; n++)
            *std::to_chars(std::begin(counts[n]), std::end(counts[n]) - 1, n).ptr = '\0';
    }
    for (int n = 1; n < nargs; n++) {
        if (tracing(TRACE_ALL)) // the test first: a trace call costs even when it is quiet
            trace(TRACE_ALL, "Setting arg: %s|%s.\n", names[n], args[n]);
        std::string_view value(args[n] ? args[n] : "");
        lens[n] = value.size();
        set_hinted(names[n], value, &arg_hints[n]);
    }
    if (nargs >= 1) {
        if (tracing(TRACE_ALL))
            trace(TRACE_ALL, "do_set:nargs|%s\n", counts[nargs]);
        set_hinted("nargs", counts[nargs], &nargs_hint);
    }
    for (int n = nargs; n < inc_state.lastnargs; n++)
        set_hinted(names[n], {}, &arg_hints[n]);
    inc_state.lastnargs = nargs;
}

const char *get_val(const char *var)
{
    int pos = var ? find_var(var) : -1;
    return pos >= 0 ? static_cast<const char *>(vars->item[pos]) : nullptr;
}

bool var_origin(const char *name, int *page, IncSite *site)
{
    int pos = find_var(name);
    if (pos < 0)
        return false;
    bool known = static_cast<size_t>(pos) < origins.size();
    *page = known ? origins[static_cast<size_t>(pos)].page : 0;
    *site = known ? origins[static_cast<size_t>(pos)].site : IncSite();
    return true;
}

void forget_var_origins()
{
    origins.clear();
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
            append_var(xstrdup(name.c_str()), value.empty() ? nullptr : xstrdup(value.c_str()));
    inc_state.lastnargs = save->lastnargs;
    delete save;
}
