// Fuzzes reference evaluation and conditions. The input is lines: the first is the argument
// vector (fields at '|', the first the macro name; empty: no arguments at all; a field of the
// single byte 0x7f is a null entry). A later line "=name|value" sets a variable, "=" alone
// clears the store; every other line goes through evalstr, evalrelop and do_if (the line
// "\x7f" stands for a null text). Results are checked against what the texts promise: a
// text without "$[" evaluates to itself, a condition writes nothing when a separator is
// missing and otherwise one of its two evaluated texts.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/bld_html.h"
#include "fuzz_common.h"

namespace {

const char library[] = ">setvar\n>!set|$[1]|$[2]\n>\n>clearvars\n>!clear\n>\n";
constexpr int max_args = 100;

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

// Fills args from the fields of line; returns nargs.
int make_args(const std::string &line, std::vector<std::string> *fields, char **args)
{
    fields->clear();
    if (line.empty())
        return 0;
    size_t at = 0;
    while (fields->size() < max_args) {
        size_t bar = line.find('|', at);
        fields->push_back(line.substr(at, bar == std::string::npos ? bar : bar - at));
        if (bar == std::string::npos)
            break;
        at = bar + 1;
    }
    for (size_t i = 0; i < fields->size(); i++)
        args[i] = (*fields)[i] == "\x7f" ? nullptr : (*fields)[i].data();
    return static_cast<int>(fields->size());
}

void check_evalstr(const char *text, int nargs, char **args)
{
    char *value = evalstr(text, nargs, args);
    if (!value)
        std::abort();
    if (!text && *value)
        std::abort(); // a null text evaluates to nothing
    if (text && !std::strstr(text, "$[") && std::strcmp(value, text) != 0)
        std::abort();
    std::free(value);
}

// The fields of a condition text: four cut at '|', the fifth up to the next '|'.
bool condition_fields(const char *text, std::string fld[5])
{
    std::string rest(text);
    for (int i = 0; i < 4; i++) {
        size_t bar = rest.find('|');
        if (bar == std::string::npos)
            return false;
        fld[i] = rest.substr(0, bar);
        rest.erase(0, bar + 1);
    }
    fld[4] = rest.substr(0, rest.find('|'));
    return true;
}

std::string evaluated(const std::string &text, int nargs, char **args)
{
    char *value = evalstr(text.c_str(), nargs, args);
    std::string out(value);
    std::free(value);
    return out;
}

void check_do_if(const char *text, int nargs, char **args)
{
    char *written = nullptr;
    size_t len = 0;
    FILE *out = open_memstream(&written, &len);
    if (!out)
        std::abort();
    int result = do_if(out, text, nargs, args);
    std::fclose(out);
    std::string fld[5];
    bool complete = text && condition_fields(text, fld);
    if (result < 0 || result > 4 || (result == 0) != complete)
        std::abort();
    if (result != 0 && len != 0)
        std::abort(); // an incomplete condition writes nothing
    if (result == 0) {
        std::string got(written, len);
        std::string when_false = evaluated(fld[4], nargs, args);
        if (got != when_false &&
            (evalrelop(fld[1].c_str()) == 0 || got != evaluated(fld[3], nargs, args)))
            std::abort();
    }
    std::free(written);
}

void check_line(const std::string &line, int nargs, char **args)
{
    const char *text = line == "\x7f" ? nullptr : line.c_str();
    check_evalstr(text, nargs, args);
    int relop = evalrelop(text);
    if (relop < 0 || relop > 6)
        std::abort();
    check_do_if(text, nargs, args);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    reset_engine();
    bld_inc(scratch_file_with(0, library, sizeof library - 1));
    std::vector<std::string> lines =
        lines_of(std::string(reinterpret_cast<const char *>(data), size));
    std::vector<std::string> fields;
    char *args[max_args];
    int nargs = make_args(lines[0], &fields, args);
    for (size_t i = 1; i < lines.size(); i++) {
        const std::string &line = lines[i];
        if (line == "=")
            do_include(sink_stream(), "clearvars");
        else if (!line.empty() && line[0] == '=')
            do_include(sink_stream(), ("setvar|" + line.substr(1)).c_str());
        else
            check_line(line, nargs, nargs ? args : nullptr);
    }
    reset_engine();
    return 0;
}
