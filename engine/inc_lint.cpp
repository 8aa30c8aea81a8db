// The library's own problems in check mode: what the loader noted while reading it, and the
// lines '>Name' that show a macro left open before them, all reported at their lines.
#include "engine/bld_html.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/bld_html_internal.h"
#include "support/util.h"

namespace {

// One diagnostic to give, with an optional note after it.
struct LibDiag {
    int line;
    IncDiag kind;
    std::string text;
    int note_line = 0;
    std::string note;
};

LibDiag describe(const LibFinding &f)
{
    std::string name = clip_text(f.name);
    switch (f.problem) {
    case LIB_OPEN:
        return {0, DIAG_ERROR, "can't open the include library: " + f.name, 0, ""};
    case LIB_READ:
        return {0, DIAG_ERROR, "can't read the include library: " + f.name, 0, ""};
    case LIB_CR_ONLY:
        return {0, DIAG_ERROR, "the include library's lines end in CR alone: it reads as one line",
                0, ""};
    case LIB_UNCLOSED:
        return {f.line, DIAG_WARNING,
                "macro '" + name + "' has no closing line: it runs to the end of the file", 0, ""};
    case LIB_BLANK_CLOSE:
        return {f.line, DIAG_WARNING,
                "'>' followed by blanks does not close a macro; only '>' alone does", 0, ""};
    case LIB_TWICE:
        return {f.line, DIAG_WARNING, "macro '" + name + "' is defined twice", f.first_line,
                "'" + name + "' is first defined here"};
    }
    return {0, DIAG_ERROR, "", 0, ""};
}

// The name of a body line '>Name' that names no defined macro and has no arguments, or "".
std::string stray_opening(const char *line)
{
    if (line[0] != '>' || line[1] == '!' || line[1] == '\0' || std::strchr(line, '|'))
        return "";
    if (std::strspn(line + 1, " \t") == std::strlen(line + 1) || find_inc(line + 1) >= 0)
        return "";
    return line + 1;
}

// A macro closed by a closing line that comes after a stray '>Name' body line was probably
// meant to end before it: '>Name' opens the next definition.
void find_macros_left_open(std::vector<LibDiag> *out)
{
    for (int i = 0; incs && i < incs->nitems; i++) {
        auto *body = static_cast<const ProdAlphaList *>(incs->item[i]);
        const MacroSite *site = macro_site(body);
        bool warned = !site || !site->closed; // an open macro has a warning of its own
        for (int j = 0; site && j < body->nitems; j++) {
            std::string name = stray_opening(body->item[j]);
            if (name.empty())
                continue;
            int line = site->line + 1 + j;
            check_swallowed(name.c_str(), line); // for the notes of includes of name
            if (warned)
                continue;
            warned = true;
            std::string macro = clip_text(site->name), stray = clip_text(name);
            out->push_back({site->line, DIAG_WARNING,
                            "macro '" + macro + "' is probably missing its closing line: '>" +
                                stray + "' at line " + std::to_string(line) +
                                " names no macro and was meant to open a definition",
                            line, "'>" + stray + "' is read as a line of '" + macro + "'"});
        }
    }
}

} // namespace

void check_library_inc()
{
    std::vector<LibDiag> diags;
    for (const LibFinding &f : library_findings())
        diags.push_back(describe(f));
    find_macros_left_open(&diags);
    std::stable_sort(diags.begin(), diags.end(),
                     [](const LibDiag &a, const LibDiag &b) { return a.line < b.line; });
    for (const LibDiag &d : diags) {
        diag_inc(d.kind, library_path(), d.line, "%s", d.text.c_str());
        if (!d.note.empty())
            diag_inc(DIAG_NOTE, library_path(), d.note_line, "%s", d.note.c_str());
    }
}
