// Macro bodies parsed once, when the library is loaded: runs of plain text lines joined into
// one piece each, include and exec lines without references split or kept ready to run, and
// the lines that hold references cut into literal text and references. Expanding a macro
// then rescans nothing; what it writes and reports is what process_include's line-by-line
// reading of the same body gives (that reading still serves the most detailed traces and
// bodies the loader never saw).
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

// A reference $[name] and the literal text before it.
struct Piece {
    std::string literal;
    bool has_ref = false; // false only for the text after the last reference
    std::string name;
    bool is_arg = false;    // a name that begins with a digit: an argument
    int arg = 0;            // its number, -1 beyond any argument count
    VarHint var_hint;       // for a variable: where the store last had it
    std::string_view value; // write_text_pieces: the value found for this line
};

enum LineKind {
    LINE_TEXT,      // lines copied as they stand, each with its line feed, joined
    LINE_INCLUDE,   // an include line without references, its fields split
    LINE_EXEC,      // an exec line without references
    LINE_SET,       // an exec line without references that sets a variable
    LINE_EVALUATED, // a line with references: what it is shows once they are resolved
};

struct ParsedLine {
    LineKind kind = LINE_TEXT;
    int source = 0;                 // index of the (first) body line it came from
    std::string text;               // TEXT: the lines; EXEC: the command after ">!"; SET: the name
    std::unique_ptr<char[]> fields; // INCLUDE: the text after '>', cut at each '|'
    std::vector<char *> args;       // INCLUDE: the fields, pointing into fields
    std::vector<Piece> pieces;      // EVALUATED
    MacroHint macro_hint;           // INCLUDE, EVALUATED: where the macro was found last
    bool text_only = false;         // EVALUATED: a text line whatever its references hold
    std::string value;              // SET: the value (text holds the name)
    VarHint var_hint;               // SET: where the store had the name last
};

} // namespace

struct ParsedBody {
    std::vector<ParsedLine> lines;
};

namespace {

ParsedLine new_line(LineKind kind, int source)
{
    ParsedLine line;
    line.kind = kind;
    line.source = source;
    return line;
}

// The argument number a reference name beginning with a digit stands for, as arg_value reads
// it; -1 for a number beyond any argument count.
int arg_number(const std::string &name)
{
    long n = 0;
    for (size_t i = 0; i < name.size() && name[i] >= '0' && name[i] <= '9'; i++) {
        n = n * 10 + (name[i] - '0');
        if (n > INT_MAX)
            return -1;
    }
    return static_cast<int>(n);
}

// Cuts line into literal texts and references, as evalstr reads them: a reference runs from
// "$[" to the next ']' or to the end of the line.
std::vector<Piece> cut_pieces(const char *line)
{
    std::vector<Piece> pieces;
    const char *p = line;
    for (;;) {
        Piece piece;
        const char *ref = std::strstr(p, "$[");
        if (!ref) {
            piece.literal = p;
            pieces.push_back(std::move(piece));
            return pieces;
        }
        piece.literal.assign(p, ref);
        const char *start = ref + 2;
        const char *end = std::strchr(start, ']');
        piece.name.assign(start, end ? end : start + std::strlen(start));
        piece.has_ref = true;
        piece.is_arg = piece.name[0] >= '0' && piece.name[0] <= '9';
        if (piece.is_arg)
            piece.arg = arg_number(piece.name);
        p = end ? end + 1 : start + piece.name.size();
        pieces.push_back(std::move(piece));
        if (*p == '\0')
            return pieces;
    }
}

ParsedLine include_line(const char *text, int source)
{
    ParsedLine line = new_line(LINE_INCLUDE, source);
    line.macro_hint.fixed = true; // the line names the same macro every time
    size_t len = std::strlen(text);
    line.fields = std::make_unique<char[]>(len + 1);
    std::memcpy(line.fields.get(), text, len + 1);
    line.args.resize(max_include_fields);
    int n = split_flds(line.fields.get(), line.args.data(), '|', 0, max_include_fields);
    line.args.resize(static_cast<size_t>(n));
    return line;
}

// The value of the reference in piece, as resolve_reference finds it, or null.
const char *reference_value(Piece *piece, int nargs, char **args)
{
    if (piece->is_arg)
        return (piece->arg < 1 || piece->arg >= nargs || !args) ? "" : args[piece->arg];
    return get_val_hinted(piece->name.c_str(), &piece->var_hint);
}

// An exec line without references: text is its command. A set with a name is kept split
// into name and value, as do_set splits it.
ParsedLine exec_line(const char *text, int source)
{
    ParsedLine line = new_line(LINE_EXEC, source);
    line.text = text;
    const char *bar = std::strchr(text, '|');
    bool set = bar && bar - text == 3 && to_lower_ascii(text[0]) == 's' &&
               to_lower_ascii(text[1]) == 'e' && to_lower_ascii(text[2]) == 't';
    if (!set || bar[1] == '\0') // an empty assignment names nothing: do_exec says so
        return line;
    std::string_view rest(bar + 1);
    size_t end = rest.find('|');
    line.kind = LINE_SET;
    line.text.assign(rest.substr(0, end));
    if (end != std::string_view::npos) {
        std::string_view value = rest.substr(end + 1);
        line.value.assign(value.substr(0, value.find('|')));
    }
    return line;
}

// Appends the value of the reference in piece to out, as resolve_reference does.
void append_reference(std::string *out, Piece *piece, int nargs, char **args)
{
    const char *value = reference_value(piece, nargs, args);
    if (!value)
        return;
    size_t len = std::strlen(value);
    if (out->size() + len > max_text_len) {
        inc_failure(FAULT_TOO_LONG, piece->name.c_str());
        return;
    }
    out->append(value, len);
}

// Work strings for evaluated lines, one for each include level, so a line is never
// overwritten by the lines of the includes it starts (do_include allows levels up to
// max_include_depth below the one it starts from).
std::string work[max_include_depth + 2];

// Includes the macro the evaluated include text names, as do_include does, but cut into
// fields in place: the text is this level's own work string.
void include_evaluated(FILE *outf, char *text, MacroHint *hint)
{
    if (inc_state.page_stopped) // as do_include does
        return;
    text[std::strcspn(text, "\r\n")] = '\0';
    char *args[max_include_fields];
    int nargs = split_flds(text, args, '|', 0, max_include_fields);
    include_fields(outf, text, nargs, args, hint);
}

// Runs a line whose references resolved to the text in *line, the way process_include runs
// any line. The text holds no NUL byte: its pieces and values are all C strings.
void run_evaluated(FILE *outf, std::string *line, int nargs, char **args, MacroHint *hint)
{
    char *text = line->data();
    if (text[0] == '>' && text[1] == '!') {
        do_exec(outf, text + 2, nargs, args);
    } else if (text[0] == '>') {
        include_evaluated(outf, text + 1, hint);
    } else {
        line->push_back('\n');
        count_page_output(line->size());
        write_output(outf, line->data(), line->size());
    }
}

// Writes the joined text lines: at once, unless they would take the page past its bound; then
// one by one, as process_include does, up to the line that passes it.
void write_text_lines(FILE *outf, const std::string &text)
{
    if (inc_state.page_output + text.size() <= max_page_output) {
        count_page_output(text.size());
        write_output(outf, text.data(), text.size());
        return;
    }
    for (size_t at = 0; at < text.size() && !inc_state.page_stopped;) {
        size_t len = text.find('\n', at) - at + 1; // every joined line ends in '\n'
        count_page_output(len);
        write_output(outf, text.data() + at, len);
        at += len;
    }
}

// Writes a line that is text whatever its references hold (its first piece begins with a byte
// other than '>') straight into the page: its references resolved first, in order, as
// run_pieces resolves them (with the same failures), then its pieces and values written.
void write_text_pieces(FILE *outf, ParsedLine *line, int nargs, char **args, const size_t *lens)
{
    size_t total = 0;
    for (Piece &piece : line->pieces) {
        total += piece.literal.size();
        const char *value = piece.has_ref ? reference_value(&piece, nargs, args) : nullptr;
        bool known = piece.is_arg && value && *value; // an argument's length is known
        size_t len = known ? lens[piece.arg] : value ? std::strlen(value) : 0;
        if (value && total + len > max_text_len) {
            inc_failure(FAULT_TOO_LONG, piece.name.c_str());
            len = 0;
        }
        total += len;
        piece.value = std::string_view(value ? value : "", len);
    }
    count_page_evaluated(total);
    count_page_output(total + 1);
    for (const Piece &piece : line->pieces) {
        if (!piece.literal.empty())
            write_output(outf, piece.literal.data(), piece.literal.size());
        if (!piece.value.empty())
            write_output(outf, piece.value.data(), piece.value.size());
    }
    write_output(outf, "\n", 1);
}

void run_pieces(FILE *outf, ParsedLine *line, int nargs, char **args, const size_t *lens)
{
    if (line->text_only) {
        write_text_pieces(outf, line, nargs, args, lens);
        return;
    }
    std::vector<Piece> *pieces = &line->pieces;
    int level = std::min(std::max(inc_state.include_depth, 0), max_include_depth + 1);
    std::string &out = work[level];
    out.clear();
    for (Piece &piece : *pieces) {
        out.append(piece.literal);
        if (piece.has_ref)
            append_reference(&out, &piece, nargs, args);
    }
    count_page_evaluated(out.size());
    run_evaluated(outf, &out, nargs, args, &line->macro_hint);
    if (out.capacity() > 65536) // a rare huge text: do not hold on to its memory
        std::string().swap(out);
}

} // namespace

ParsedBody *parse_body(const ProdAlphaList *body)
{
    auto *parsed = new ParsedBody;
    for (int i = 0; body && i < body->nitems; i++) {
        const char *line = body->item[i];
        auto &lines = parsed->lines;
        if (std::strstr(line, "$[")) {
            lines.push_back(new_line(LINE_EVALUATED, i));
            lines.back().pieces = cut_pieces(line);
            lines.back().text_only = line[0] != '$' && line[0] != '>';
        } else if (line[0] == '>' && line[1] == '!') {
            lines.push_back(exec_line(line + 2, i));
        } else if (line[0] == '>') {
            lines.push_back(include_line(line + 1, i));
        } else {
            if (lines.empty() || lines.back().kind != LINE_TEXT)
                lines.push_back(new_line(LINE_TEXT, i));
            lines.back().text.append(line).push_back('\n');
        }
    }
    return parsed;
}

void free_parsed_body(ParsedBody *parsed)
{
    delete parsed;
}

void run_parsed_body(FILE *outf, ParsedBody *parsed, int nargs, char **args, const size_t *lens)
{
    for (ParsedLine &line : parsed->lines) {
        if (inc_state.page_stopped) // as process_include stops
            break;
        switch (line.kind) {
        case LINE_TEXT:
            write_text_lines(outf, line.text);
            break;
        case LINE_INCLUDE:
            include_fields(outf, line.fields.get(), static_cast<int>(line.args.size()),
                           line.args.data(), &line.macro_hint);
            break;
        case LINE_SET:
            store_var_hinted(line.text.c_str(), line.value.c_str(), &line.var_hint);
            break;
        case LINE_EXEC:
            do_exec(outf, line.text.c_str(), nargs, args);
            break;
        case LINE_EVALUATED:
            run_pieces(outf, &line, nargs, args, lens);
            break;
        }
    }
}
