// Macro bodies and references: the one scanner of $[...] references, the values they stand
// for, and the parsed form of a body (each line knowing its source line, the lines that hold
// references cut into literal text and references) that every expansion runs, with its
// traces and its check. A parsed form is kept for each body of the macro index and checked
// against the body's own lines before each use, so a body changed or replaced behind the
// engine's back is parsed again, never run from a stale form.
#include "engine/bld_html.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/bld_html_internal.h"
#include "support/splitfld.h"
#include "support/util.h"

namespace {

// A reference as written between "$[" and "]".
struct Reference {
    std::string name;
    int arg = -1;   // a name that begins with a digit: the argument number (0: none); else -1
    VarHint hint{}; // a variable: where the store had it last
};

// The argument number of a name that begins with a digit, from its leading digits; 0 (which
// names no argument) beyond any argument count.
int arg_number(std::string_view name)
{
    long n = 0;
    for (size_t i = 0; i < name.size() && name[i] >= '0' && name[i] <= '9'; i++) {
        n = n * 10 + (name[i] - '0');
        if (n > INT_MAX)
            return 0;
    }
    return static_cast<int>(n);
}

void read_reference(Reference *ref, std::string_view name)
{
    ref->name.assign(name);
    ref->arg = !name.empty() && name[0] >= '0' && name[0] <= '9' ? arg_number(name) : -1;
}

// The one reference scanner. Returns where the next "$[" in text stands (null: none); *name
// receives the reference's name, which runs to the next ']' or to the end of the text, and
// *resume the text after the reference.
const char *next_reference(const char *text, std::string_view *name, const char **resume)
{
    const char *ref = std::strstr(text, "$[");
    if (!ref)
        return nullptr;
    const char *start = ref + 2;
    const char *end = std::strchr(start, ']');
    *name = end ? std::string_view(start, static_cast<size_t>(end - start)) : start;
    *resume = end ? end + 1 : start + name->size();
    return ref;
}

// The value of the reference: an argument ("" out of range) or a variable (null: blank).
const char *reference_value(Reference *ref, int nargs, char **args)
{
    const char *value;
    if (ref->arg >= 0) {
        value = ref->arg >= 1 && ref->arg < nargs && args ? args[ref->arg] : "";
    } else {
        value = get_val_hinted(ref->name.c_str(), &ref->hint);
        if (value && inc_state.checking)
            check_reference(ref->name.c_str());
        else if (inc_state.checking)
            check_blank_reference(ref->name.c_str());
    }
    if (tracing(TRACE_ALL))
        trace(TRACE_ALL, "get_val(%s)=%s.\n", ref->name.c_str(), or_null(value));
    return value;
}

// Appends the value of the reference to out, unless the text would grow too long.
void append_reference(std::string *out, Reference *ref, int nargs, char **args)
{
    const char *value = reference_value(ref, nargs, args);
    if (!value)
        return;
    size_t len = std::strlen(value);
    if (text_fits(out->size(), len, ref->name.c_str()))
        out->append(value, len);
}

// A literal text and the reference after it (none after the last one).
struct Piece {
    std::string literal;
    bool has_ref = false;
    Reference ref;
};

struct ParsedLine {
    int source = 0;            // index of the body line it comes from
    std::string text;          // the body line as it was parsed
    std::vector<Piece> pieces; // the line cut at its references; empty when it holds none
    bool plain = false;        // a text line whatever happens: no reference, no leading '>'
    MacroHint hint;            // an include line: where the macro was found last
    // A fixed include line ('>', no '!', no reference): its text cut at the line end and
    // split at '|' once, as include_text would on every run (fields point into split).
    std::unique_ptr<char[]> split;
    std::vector<char *> fields;
};

std::vector<Piece> cut_pieces(const char *line)
{
    std::vector<Piece> pieces;
    std::string_view name;
    const char *resume = nullptr;
    for (const char *p = line;;) {
        const char *ref = next_reference(p, &name, &resume);
        Piece &piece = pieces.emplace_back();
        if (!ref) {
            piece.literal = p;
            return pieces;
        }
        piece.literal.assign(p, ref);
        piece.has_ref = true;
        read_reference(&piece.ref, name);
        p = resume;
    }
}

} // namespace

struct ParsedBody {
    std::vector<ParsedLine> lines;
    MacroSite site;               // where the library defines it (line 0: not from the library)
    int written_arg = 0;          // the highest $[n] a text line writes (not a command or include)
    int written_at = 0;           // the index of the first line that writes it
    unsigned long checked_in = 0; // the engine call that last found it equal to its body
};

namespace {

void split_include(ParsedLine *line, const char *text)
{
    size_t len = std::strcspn(text, "\r\n");
    line->split.reset(new char[len + 1]);
    std::memcpy(line->split.get(), text, len);
    line->split[len] = '\0';
    line->fields.resize(max_include_fields);
    int nargs = split_flds(line->split.get(), line->fields.data(), '|', 0, max_include_fields);
    line->fields.resize(static_cast<size_t>(nargs));
}

ParsedBody *parse_body(const ProdAlphaList *body, const MacroSite &site)
{
    auto *parsed = new ParsedBody;
    parsed->site = site;
    for (int i = 0; body && i < body->nitems; i++) {
        ParsedLine &line = parsed->lines.emplace_back();
        line.source = i;
        const char *text = body->item[i] ? body->item[i] : ""; // a null line reads as empty
        line.text = text;
        if (std::strstr(text, "$["))
            line.pieces = cut_pieces(text);
        line.plain = line.pieces.empty() && line.text[0] != '>';
        for (const Piece &piece : line.pieces)
            if (line.text[0] != '>' && piece.has_ref && piece.ref.arg > parsed->written_arg) {
                parsed->written_arg = piece.ref.arg;
                parsed->written_at = i;
            }
        if (line.pieces.empty() && text[0] == '>' && text[1] != '!')
            split_include(&line, text + 1);
        if (line.plain) // written with its line feed in one piece
            line.text.push_back('\n');
    }
    return parsed;
}

// True when parsed was made from lines equal to body's current ones.
bool parse_matches(const ParsedBody *parsed, const ProdAlphaList *body)
{
    if (static_cast<size_t>(body->nitems) != parsed->lines.size())
        return false;
    for (int i = 0; i < body->nitems; i++) {
        const ParsedLine &line = parsed->lines[static_cast<size_t>(i)];
        size_t len = line.text.size() - line.plain; // without the line feed added
        const char *text = body->item[i] ? body->item[i] : "";
        if (std::strncmp(text, line.text.data(), len) != 0 || text[len] != '\0')
            return false;
    }
    return true;
}

using ParsedPtr = std::unique_ptr<ParsedBody>;
// The parsed form of the bodies met in the macro index, by body. An entry is a hint: it is
// used only after parse_matches, since a freed body's address is soon another body's.
std::unordered_map<const ProdAlphaList *, ParsedPtr> parsed_bodies;

// Drops the entries of bodies no longer in incs, once there are many more than incs holds:
// bodies replaced from outside the engine leave theirs behind. Only between includes, since
// a body being expanded must stay.
void prune_parsed_bodies()
{
    size_t held = incs ? static_cast<size_t>(incs->nitems) : 0;
    if (parsed_bodies.size() <= 2 * held + 64 || inc_state.include_depth > 0)
        return;
    std::unordered_map<const ProdAlphaList *, ParsedPtr> kept;
    for (size_t i = 0; i < held; i++) {
        auto it = parsed_bodies.find(static_cast<ProdAlphaList *>(incs->item[i]));
        if (it != parsed_bodies.end())
            kept.insert(parsed_bodies.extract(it));
    }
    parsed_bodies.swap(kept);
}

// Work strings for evaluated lines, one for each include level, so a line is never
// overwritten by the lines of the includes it starts.
std::string work[max_include_depth + 2];

// Writes a text line (len bytes, its line feed included) into the page.
void write_text_line(FILE *outf, const char *text, size_t len)
{
    if (tracing(TRACE_ALL))
        trace(TRACE_ALL, "Copy: [%.*s]\n", static_cast<int>(std::min<size_t>(len - 1, INT_MAX)),
              text);
    count_page_output(len);
    write_output(outf, text, len);
    if (inc_state.checking)
        check_text(text, len - 1);
}

// Runs an expanded body line that begins with '>' (text: len bytes, a NUL after them) as an
// exec line or an embedded include.
void run_marked_line(FILE *outf, const char *text, size_t len, int nargs, char **args,
                     MacroHint *hint)
{
    int shown = static_cast<int>(std::min<size_t>(len, INT_MAX));
    if (text[1] == '!') {
        if (tracing(TRACE_ALL))
            trace(TRACE_ALL, "Executing: [%.*s]\n", shown, text);
        do_exec(outf, text + 2, nargs, args);
    } else {
        if (tracing(TRACE_ALL))
            trace(TRACE_ALL, "Embedded: [%.*s]\n", shown, text);
        include_text(outf, text + 1, len - 1, hint);
    }
}

// Runs one body line: its references resolved first (get_val traces), then written as a
// text line or run as an exec line or an embedded include, by what it begins with then.
void run_line(FILE *outf, ParsedLine *line, int nargs, char **args)
{
    if (inc_state.checking)
        check_body_line(line->source);
    if (line->plain) {
        write_text_line(outf, line->text.data(), line->text.size());
        return;
    }
    if (line->split) { // include_text's work, its split done when the body was parsed
        if (tracing(TRACE_ALL))
            trace(TRACE_ALL, "Embedded: [%s]\n", line->text.c_str());
        if (inc_state.page_stopped)
            return;
        if (tracing(TRACE_ALL))
            trace(TRACE_ALL, "do_include(%s)\n", line->text.c_str() + 1);
        include_fields(outf, line->split.get(), static_cast<int>(line->fields.size()),
                       line->fields.data(), &line->hint);
        return;
    }
    if (line->pieces.empty()) {
        run_marked_line(outf, line->text.c_str(), line->text.size(), nargs, args, &line->hint);
        return;
    }
    int level = std::min(std::max(inc_state.include_depth, 0), max_include_depth + 1);
    std::string &out = work[level];
    out.clear();
    for (Piece &piece : line->pieces) {
        out.append(piece.literal);
        if (piece.has_ref)
            append_reference(&out, &piece.ref, nargs, args);
    }
    count_page_evaluated(out.size());
    if (out[0] == '>') {
        run_marked_line(outf, out.c_str(), out.size(), nargs, args, &line->hint);
    } else {
        out.push_back('\n');
        write_text_line(outf, out.data(), out.size());
    }
    if (out.capacity() > 65536) // a rare huge text: do not hold on to its memory
        std::string().swap(out);
}

} // namespace

bool text_fits(size_t have, size_t more, const char *name)
{
    if (have + more <= max_text_len)
        return true;
    inc_failure(FAULT_TOO_LONG, name);
    return false;
}

void eval_into(std::string *out, const char *str, int nargs, char **args)
{
    static Reference ref; // nothing a reference calls evaluates another text
    std::string_view name;
    const char *resume = nullptr;
    out->clear();
    const char *p = str ? str : "";
    for (const char *at; (at = next_reference(p, &name, &resume)) != nullptr; p = resume) {
        out->append(p, at);
        read_reference(&ref, name);
        append_reference(out, &ref, nargs, args);
    }
    out->append(p);
    count_page_evaluated(out->size());
}

ParsedBody *parsed_form(const ProdAlphaList *body)
{
    // Within one engine call a form found equal to its body stays so: the body cannot be
    // changed, freed or replaced before the call returns (open_entry). Outside any call
    // (open_entry 0, which no form holds) it is compared every time.
    auto it = parsed_bodies.find(body);
    if (it != parsed_bodies.end()) {
        ParsedBody *parsed = it->second.get();
        if ((open_entry != 0 && parsed->checked_in == open_entry) || parse_matches(parsed, body)) {
            parsed->checked_in = open_entry;
            return parsed;
        }
    }
    prune_parsed_bodies();
    ParsedPtr &slot = parsed_bodies[body];
    slot.reset(parse_body(body, MacroSite()));
    slot->checked_in = open_entry;
    return slot.get();
}

void note_library_macro(const ProdAlphaList *body, const MacroSite &site)
{
    parsed_bodies[body].reset(parse_body(body, site));
}

void forget_parsed(const ProdAlphaList *body)
{
    parsed_bodies.erase(body);
}

void forget_all_parsed()
{
    parsed_bodies.clear();
}

MacroSite *macro_site(const ProdAlphaList *body)
{
    MacroSite *site = &parsed_form(body)->site;
    return site->line > 0 ? site : nullptr;
}

void expand_body(FILE *outf, const char *name, ParsedBody *parsed, int nargs, char **args)
{
    if (tracing(TRACE_EXPAND)) {
        trace(TRACE_EXPAND, "process_include(%s), nargs=%d ", or_null(name), nargs);
        for (int i = 0; args && i < nargs; i++)
            trace(TRACE_EXPAND, " [%s]", args[i] ? args[i] : "null");
        trace(TRACE_EXPAND, "\n");
    }
    if (!outf)
        outf = stdout;
    for (ParsedLine &line : parsed->lines) {
        if (inc_state.page_stopped)
            break;
        run_line(outf, &line, nargs, args);
    }
}

void check_written_arguments(const char *name, int nargs, const ParsedBody *parsed)
{
    if (parsed->written_arg < nargs)
        return;
    int line = parsed->site.line > 0 ? parsed->site.line + 1 + parsed->written_at : 0;
    check_arguments(name, nargs, parsed->written_arg, line);
}

void process_include(FILE *outf, const char *name, ProdAlphaList *body, int nargs, char **args)
{
    // A body from outside the macro index is parsed for this call alone.
    std::unique_ptr<ParsedBody> parsed(parse_body(body, MacroSite()));
    begin_output();
    expand_body(outf, name, parsed.get(), nargs, args);
    end_output();
}
