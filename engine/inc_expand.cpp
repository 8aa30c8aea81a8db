// Expansion: $[...] references, conditions, the commands of exec lines, and includes with
// their arguments and the runaway limits. These call each other, so they live together.
#include "engine/bld_html.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/bld_html_internal.h"
#include "support/splitfld.h"
#include "support/util.h"

namespace {

// True when the n bytes at str spell word, ignoring the case of 'A' to 'Z'.
bool equals_nocase(const char *str, size_t n, const char *word)
{
    if (std::strlen(word) != n)
        return false;
    for (size_t i = 0; i < n; i++)
        if (to_lower_ascii(str[i]) != word[i])
            return false;
    return true;
}

// Drops the memory of a work string that held a rare huge text.
void release_if_huge(std::string *work)
{
    if (work->capacity() > 65536)
        std::string().swap(*work);
}

// Cuts the condition text into its five fields; the fifth ends at the next '|'. Returns 0,
// or 1 to 4 when the separator after that field is missing.
int cut_condition(std::string_view text, std::string_view fld[5])
{
    for (int i = 0; i < 4; i++) {
        size_t bar = text.find('|');
        if (bar == std::string_view::npos)
            return i + 1;
        fld[i] = text.substr(0, bar);
        text.remove_prefix(bar + 1);
    }
    fld[4] = text.substr(0, text.find('|'));
    return 0;
}

// The value of a condition's field that holds a reference: its evaluated copy in *work.
std::string_view evaluated_field(std::string_view field, std::string *work, int nargs, char **args)
{
    static std::string text; // the field as a C string
    text.assign(field);
    eval_into(work, text.c_str(), nargs, args);
    return *work;
}

// The work strings of a condition's evaluated fields: no condition starts another, so these
// serve them all.
std::string condition_work[4];

// Evaluates the fields of a condition in their order (str1, str2, the true and the false
// text), each into its work string.
void evaluate_fields(std::string_view *fld[4], int nargs, char **args)
{
    for (int i = 0; i < 4; i++)
        *fld[i] = evaluated_field(*fld[i], &condition_work[i], nargs, args);
}

// The relation code of the comparison operator op, as evalrelop gives it.
int relop_code(std::string_view op)
{
    static const struct {
        char op[3];
        int code;
    } ops[] = {{"<", 4}, {"<=", 6}, {"==", 2}, {"=", 2}, {">", 1}, {">=", 3}, {"!=", 5}, {"<>", 5}};
    if (op.empty() || op.size() > 2) // every operator has one or two characters
        return 0;
    char second = op.size() == 2 ? op[1] : '\0';
    for (const auto &entry : ops)
        if (entry.op[0] == op[0] && entry.op[1] == second)
            return entry.code;
    return 0;
}

// True when the include of name may go ahead; otherwise the limit it met is reported (the
// expansion budget once for each outer include).
bool within_limits(const char *name)
{
    if (inc_state.include_depth == 0) {
        inc_state.expansions = 0;
        inc_state.nesting_reported = false;
    }
    if (inc_state.expansions >= max_expansions) {
        if (inc_state.expansions++ == max_expansions)
            inc_failure(FAULT_EXPANSION, name);
        return false;
    }
    if (inc_state.include_depth >= max_include_depth) {
        if (!inc_state.nesting_reported)
            inc_failure(FAULT_NESTING, name);
        inc_state.nesting_reported = true;
        return false;
    }
    return true;
}

// do_if's work. The fields are read where they stand in str, without a copy.
int run_condition(FILE *fp, const char *str, int nargs, char **args)
{
    if (!str)
        return 1;
    if (tracing(TRACE_EXPAND))
        trace(TRACE_EXPAND, "do_if(%s)\n", str);
    std::string_view fld[5];
    if (int missing = cut_condition(str, fld)) {
        if (inc_state.checking)
            check_short_condition(missing);
        return missing;
    }

    // The fields are used as they stand when no reference can be in them, as in most.
    std::string_view s1 = fld[0], s2 = fld[2], t = fld[3], f = fld[4];
    if (std::strchr(str, '$') && std::strstr(str, "$[")) {
        std::string_view *values[4] = {&s1, &s2, &t, &f};
        evaluate_fields(values, nargs, args);
    }
    int rval = relop_code(fld[1]);
    if (rval == 0 && inc_state.checking)
        check_unknown_operator(fld[1]);
    if (tracing(TRACE_EXPAND)) {
        auto n = [](std::string_view v) { return static_cast<int>(v.size()); };
        trace(TRACE_EXPAND,
              "do_if: str1=%.*s, str2=%.*s, s1=%.*s, s2=%.*s, t=%.*s, f=%.*s, rval=%d\n", n(fld[0]),
              fld[0].data(), n(fld[2]), fld[2].data(), n(s1), s1.data(), n(s2), s2.data(), n(t),
              t.data(), n(f), f.data(), rval);
    }
    int cmp = s1.compare(s2); // compares bytes as unsigned char, as strcmp does
    bool holds = (cmp < 0 && (rval & 4)) || (cmp == 0 && (rval & 2)) || (cmp > 0 && (rval & 1));
    std::string_view chosen = holds ? t : f;
    count_page_output(chosen.size());
    write_output(fp ? fp : stdout, chosen.data(), chosen.size());
    if (inc_state.checking)
        check_text(chosen.data(), chosen.size());
    for (std::string &work : condition_work)
        release_if_huge(&work);
    return 0;
}

} // namespace

char *evalstr(const char *str, int nargs, char **args)
{
    static std::string out; // not reentrant, so one work string serves every call
    eval_into(&out, str, nargs, args);
    char *result = static_cast<char *>(xmalloc(out.size() + 1));
    std::memcpy(result, out.c_str(), out.size() + 1);
    release_if_huge(&out);
    return result;
}

int evalrelop(const char *str)
{
    return str ? relop_code(str) : 0;
}

int do_if(FILE *fp, const char *str, int nargs, char **args)
{
    begin_output();
    int result = run_condition(fp, str, nargs, args);
    end_output();
    return result;
}

void do_exec(FILE *fp, const char *str, int nargs, char **args)
{
    if (tracing(TRACE_ALL))
        trace(TRACE_ALL, "do_exec:%s.\n", str);
    const char *bar = std::strchr(str, '|');
    size_t wordlen = bar ? static_cast<size_t>(bar - str) : std::strlen(str);
    const char *rest = bar ? bar + 1 : "";
    if (equals_nocase(str, wordlen, "set")) {
        do_set(rest);
    } else if (equals_nocase(str, wordlen, "clear")) {
        do_clear();
    } else if (equals_nocase(str, wordlen, "if")) {
        int result = do_if(fp, rest, nargs, args);
        if (tracing(TRACE_ALL))
            trace(TRACE_ALL, "do_if returned %d\n", result);
    } else {
        inc_failure(FAULT_COMMAND, str);
    }
}

void do_include(FILE *outf, const char *str)
{
    if (!str)
        return;
    begin_output();
    include_text(outf, str, std::strlen(str), nullptr);
    end_output();
}

void include_text(FILE *outf, const char *str, size_t len, MacroHint *hint)
{
    if (inc_state.page_stopped)
        return;
    if (tracing(TRACE_ALL)) // the text as received, up to its end or its line's end
        trace(TRACE_ALL, "do_include(%.*s)\n", static_cast<int>(std::min<size_t>(len, INT_MAX)),
              str);
    char local[256];
    std::string heap;
    char *copy =
        copy_text(str, std::min(len, std::strcspn(str, "\r\n")), local, sizeof local, &heap);
    char *args[max_include_fields];
    int nargs = split_flds(copy, args, '|', 0, max_include_fields);
    include_fields(outf, copy, nargs, args, hint); // the split left the name alone in copy
}

void include_fields(FILE *outf, const char *name, int nargs, char **args, MacroHint *hint)
{
    if (inc_state.checking)
        check_include_fields(name, nargs);
    int pos = hint ? find_inc_hinted(name, hint) : find_inc(name);
    if (pos < 0) {
        inc_failure(FAULT_UNKNOWN, name);
        return;
    }
    if (!within_limits(name))
        return;
    inc_state.expansions++;
    auto *body = static_cast<ProdAlphaList *>(incs->item[pos]);
    publish_args(nargs, args);
    ParsedBody *parsed = parsed_form(body);
    if (inc_state.checking) {
        check_written_arguments(name, nargs, parsed);
        check_enter(name, body);
    }
    inc_state.include_depth++;
    expand_body(outf, name, parsed, nargs, args);
    inc_state.include_depth--;
    if (inc_state.checking)
        check_leave();
}
