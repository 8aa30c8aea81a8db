// Expansion writes the same page and the same failures whatever the verbosity: traces only
// add their own lines to standard error.
#include "engine/bld_html.h"

#include <gtest/gtest.h>

#include <string>

#include "child_run.h"
#include "engine_fixture.h"

namespace {

// Lines that become include or exec lines only once their references are resolved, an
// include line whose name a variable gives (and that includes its own macro down to the
// nesting limit), references that never close or name no argument, a text too long to
// insert, joined text lines, names in another case, and a clear in the middle.
const char *const tricky_library =
    ">Init\n>!set|lead|>\n>!set|big|$[1]\n>!set|self|>Frame|deeper\n>\n"
    ">Frame\nplain one\nplain two\n$[lead]tail|$[1]\n$[lead]!set|made|$[2]\n[$[made]]\n"
    ">Leaf|$[2]|$[1]|x\n>Leaf|fixed|args\n>LEAF\nafter $[1\n"
    "$[99999999999]$[0]$[3]$[]end\n>!if|$[1]|==|a|$[big]$[big]|no\n"
    ">!set|big|$[big]$[big]\n>!if|$[made]|<|m|lt|ge\n$[self]\n>Done\n>\n"
    ">Leaf\nleaf:$[1]:$[2]:$[nargs]:$[arg3]\n>\n>Done\n>!clear\n>\n";

// Expands the library's Frame from a page at the given verbosity.
void expand(FILE *out, int verbosity)
{
    set_verbose_inc(verbosity);
    load_library(tricky_library);
    do_include(out, ("Init|" + std::string(40 * 1024, 'x')).c_str());
    FILE *page = stream_with(">Frame|a|b\n]frame|c\n >!set|lead|>\n>Frame\n");
    bld_html(out, page);
    std::fclose(page);
}

// text without the lines of the traces verbosity 1 adds.
std::string without_traces(const std::string &text)
{
    std::string kept;
    for (size_t at = 0, end; at < text.size(); at = end) {
        end = std::min(text.find('\n', at), text.size() - 1) + 1;
        std::string line = text.substr(at, end - at);
        if (!line.starts_with("process_include(") && !line.starts_with("do_if"))
            kept += line;
    }
    return kept;
}

} // namespace

TEST(ParsedBodies, ExpandAlikeWithAndWithoutTraces)
{
    ChildRun quiet = run_child([](FILE *out) { expand(out, 0); });
    ChildRun traced = run_child([](FILE *out) { expand(out, 1); });
    EXPECT_EQ(quiet.out, traced.out);
    EXPECT_EQ(quiet.std_err, without_traces(traced.std_err));
    EXPECT_NE(traced.std_err, quiet.std_err); // the second run did trace
    // The cases above were met: a line that became an include, a text too long, and the
    // self-inclusion that runs until a bound of the page ends it.
    for (const char *seen :
         {"unknown include (tail)", "Expanded text too long, $[big] not inserted"})
        EXPECT_NE(quiet.std_err.find(seen), std::string::npos) << seen;
    EXPECT_NE(quiet.out.find("leaf:b:a:4:x\n"), std::string::npos);
}
