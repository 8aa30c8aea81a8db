// The include engine through its interface: every scenario runs in a child process (fresh
// macro index, variable store and remembered argument count) with a small library written
// to a temporary file; its output stream, standard output and standard error are compared
// byte for byte.
#include "engine/bld_html.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "child_run.h"
#include "engine_fixture.h"
#include "support/util.h"
#include "text_lines.h"

namespace {

// Writes evalstr(text) to out.
void put_eval(FILE *out, const char *text, int nargs = 0, char **args = nullptr)
{
    char *value = evalstr(text, nargs, args);
    std::fputs(value, out);
    std::free(value);
}

// Runs the page text through bld_html into out.
void run_page(FILE *out, const std::string &page)
{
    FILE *in = stream_with(page);
    bld_html(out, in);
    std::fclose(in);
}

// Walks a body made of lines, as a macro called nargs/args would.
void run_body(FILE *out, const std::vector<const char *> &lines, int nargs = 0,
              char **args = nullptr)
{
    ProdAlphaList *body = create_alpha_prodlist(10);
    for (const char *line : lines)
        append_alpha_prodlist(body, xstrdup(line));
    process_include(out, "t", body, nargs, args);
    free_alpha_prodlist(body);
}

const char *const arg_probe = "[$[arg1]|$[arg2]|$[arg3]|$[arg4]|$[nargs]]\n";

} // namespace

TEST(LibraryLoading, NamesCaseClosingLinesAndRedefinition)
{
    ChildRun run = run_child([](FILE *out) {
        load_library("Page parts: ignored\n >Indented\n>Footer\nold\n>\n"
                     ">FOOTER\n> x\n>y\nnew\n>\n>trail \nT\n>\n>a|b\nAB\n>\n"
                     ">\nempty-named\n>\n>Crlf\r\none\r\n>\r\n"
                     ">\xC9t\nE1\n>\n>\xE9t\nE2\n>\n" +
                     repeat("t", 511) + ">Hidden\n>Long" + repeat("n", 600) + "\n" +
                     repeat("b", 1000) + "\n>\n>Last\nl1\nl2");
        for (const char *name : {"fOoTeR", "trail", "TRAIL ", "a|b", "", "crlf", "\xC9T", "\xE9t",
                                 "Indented", "Hidden", "LAST"})
            do_include(out, name);
        do_include(out, ("long" + repeat("N", 600)).c_str());
    });
    EXPECT_EQ(run.out, "new\nT\nempty-named\none\nE1\nE2\nl1\nl2\n" + repeat("b", 1000) + "\n");
    EXPECT_EQ(run.std_err, "Macro footer overridden by new version\nunknown include ( x)\n"
                           "unknown include (y)\nunknown include (trail)\nunknown include (a)\n"
                           "unknown include (Indented)\nunknown include (Hidden)\n");
    EXPECT_EQ(run.status, 0);
}

TEST(LibraryLoading, MissingOrEmptyLibraryLeavesStoresAbsent)
{
    ChildRun run = run_child([](FILE *out) {
        bld_inc("/nonexistent/include.txt");
        do_include(out, "PageStart|t");
        run_body(out, {">!set|v|1", "[$[v]]", ">!clear"});
        std::fputs(incs || vars ? "stores\n" : "absent\n", out);
    });
    EXPECT_EQ(run.out, "[]\nabsent\n");
    EXPECT_EQ(run.std_err,
              "Can't open include file (/nonexistent/include.txt)\nunknown include (PageStart)\n");

    run = run_child([](FILE *) {
        set_verbose_inc(10);
        load_library("text only\n  >not a macro\n");
        run_body(nullptr, {">!set|v|1"});
    });
    EXPECT_EQ(run.std_err, "0 macros defined:\nprocess_include(t), nargs=0 \n"
                           "Executing: [>!set|v|1]\ndo_exec:set|v|1.\ndo_set:v|1\n"
                           "Variable [v] set to [1]\n");
}

TEST(NullArguments, GiveTheEmptyResultAndWriteNothing)
{
    ChildRun run = run_child([](FILE *out) {
        put_eval(out, nullptr);
        std::fprintf(out, "relop %d, if %d, safe %s\n", evalrelop(nullptr),
                     do_if(out, nullptr, 0, nullptr), htmlsafe(nullptr) ? "text" : "null");
        bld_html(out, nullptr);
        find_smenu(out, nullptr);
        do_include(out, nullptr);
        FILE *page = stream_with("to standard output\n");
        bld_html(nullptr, page); // no output stream: standard output
        std::fclose(page);
    });
    EXPECT_EQ(run.out, "relop 0, if 1, safe null\n");
    EXPECT_EQ(run.std_out, "to standard output\n");
    EXPECT_EQ(run.std_err, "");
}

TEST(LibraryLoading, MessagesAtVerbosityThresholds)
{
    struct Case {
        int verbose;
        const char *std_out;
        const char *std_err;
    } cases[] = {
        {5, "", ""},
        {6, "", "Storing macro [sublink]\nStoring macro [b]\n"},
        {10,
         "Parsing include macro (SubLink) ...\nInitializing ndx\n1 Items in list:\n"
         "Item   1: A\nParsing include macro (B) ...\n",
         "Macro (sublink) w/ 1 lines\nStoring macro [sublink]\nStoring macro [b]\n"
         "2 macros defined:\n[0] b, 1 lines\n[1] sublink, 1 lines\n"},
    };
    for (const Case &c : cases) {
        ChildRun run = run_child([&c](FILE *) {
            set_verbose_inc(c.verbose);
            load_library("x\n>SubLink\nA\n>\n>B\nb");
        });
        EXPECT_EQ(run.std_out, c.std_out) << c.verbose;
        EXPECT_EQ(run.std_err, c.std_err) << c.verbose;
    }
}

TEST(Variables, AssignReplaceBlankAndClear)
{
    ChildRun run = run_child([](FILE *out) {
        load_library(">x\n>\n");
        set_verbose_inc(10);
        run_body(out,
                 {">!set|title|Home", ">!set|title|Start", ">!set|Title|x", ">!set|b|", ">!set|b",
                  ">!set|b|1", ">!set|c|a|b", ">!set||v", ">!set| x |1", ">!set|abc|1", ">!set"});
        set_verbose_inc(0);
        const char *probe = "$[title],$[Title],$[b],$[c],$[],$[ x ],$[abc]\n";
        put_eval(out, probe);
        run_body(out, {">!clear"});
        put_eval(out, probe);
    });
    EXPECT_EQ(run.out, "Start,x,1,a,v,1,1\n,,,,,,\n");
    EXPECT_EQ(lines_starting(run.std_err, {"Variable", "do_set"}),
              "do_set:title|Home\nVariable [title] set to [Home]\n"
              "do_set:title|Start\nVariable [title] changed from [Home] to [Start]\n"
              "do_set:Title|x\nVariable [Title] set to [x]\n"
              "do_set:b|\nVariable [b] set to [(null)]\n"
              "do_set:b\nVariable [b] set to [(null)]\n"
              "do_set:b|1\nVariable [b] set to [1]\n"
              "do_set:c|a|b\nVariable [c] set to [a]\n"
              "do_set:|v\nVariable [] set to [v]\n"
              "do_set: x |1\nVariable [ x ] set to [1]\n"
              "Variable [abc] set to [1]\n"
              "do_set:\n");
}

TEST(References, ArgumentsVariablesAndOddTexts)
{
    ChildRun run = run_child([](FILE *out) {
        load_library(">x\n>\n");
        // Page exec lines store their values unevaluated.
        run_page(out, ">!set|x|$[x]\n>!set|a$[b|Q\n>!set| 1|sp\n>!set||E\n>!set|title|T\n");
        char footer[] = "footer", a[] = "a", b[] = "b";
        char *args[] = {footer, a, b};
        for (const char *text :
             {"x$[1]y$[2]z", "$[3]$[0]", "$[2nd]", "$5 and $", "$$[1]", "$[]", "$[a$[b]]", "$[x]",
              "$[ 1]", "$[99999999999999999999]", "$[nope]", "<$[title"}) {
            put_eval(out, text, 3, args);
            std::fputc('\n', out);
        }
        set_verbose_inc(10);
        put_eval(out, "$[1]$[5]$[nope]", 3, args);
    });
    EXPECT_EQ(run.out, "xaybz\n\nb\n$5 and $\n$a\nE\nQ]\n$[x]\nsp\n\n\n<T\na");
    EXPECT_EQ(lines_starting(run.std_err, {"get_val"}),
              "get_val(1)=a.\nget_val(5)=.\nget_val(nope)=(null).\n");
}

TEST(Conditions, OperatorsByteOrderAndIncompleteTexts)
{
    struct Case {
        const char *cond;
        const char *written;
        int result;
    } cases[] = {
        {"a|==|a|yes|no", "yes", 0},
        {"abc|==|ABC|yes|no", "no", 0},
        {"10|<|9|yes|no", "yes", 0},
        {"abc|<|abcd|yes|no", "yes", 0},
        {"b|<=|b|yes|no", "yes", 0},
        {"a|=|a|yes|no", "yes", 0},
        {"b|>|a|yes|no", "yes", 0},
        {"a|>=|b|yes|no", "no", 0},
        {"a|<>|b|yes|no", "yes", 0},
        {"a|=<|b|yes|no", "no", 0},
        {"a| == |a|yes|no", "no", 0},
        {"a|!=|b|yes|", "yes", 0},
        {"a|!=|a|yes|", "", 0},
        {"\xE9|>|z|yes|no", "yes", 0},
        {"a|==|b|yes|no|more", "no", 0},
        {"$[1]|==||empty|given", "empty", 0},
        {"a|==|b|yes|no\n", "no\n", 0},
        {"a|==|a|yes\n", "", 4},
        {"a|==|a", "", 3},
        {"a|==", "", 2},
        {"a", "", 1},
    };
    for (const Case &c : cases) {
        ChildRun run = run_child([&c](FILE *out) {
            char name[] = "m", empty[] = "";
            char *args[] = {name, empty};
            int result = do_if(out, c.cond, 2, args);
            std::fprintf(out, ":%d", result);
        });
        std::string expected = c.written;
        expected += ':' + std::to_string(c.result);
        EXPECT_EQ(run.out, expected) << c.cond;
    }
    struct Op {
        const char *op;
        int code;
    } ops[] = {{"<", 4},  {"<=", 6}, {"==", 2}, {"=", 2},  {">", 1},
               {">=", 3}, {"!=", 5}, {"<>", 5}, {"=<", 0}, {"", 0}};
    for (const Op &o : ops)
        EXPECT_EQ(evalrelop(o.op), o.code) << o.op;

    ChildRun run = run_child([](FILE *out) {
        char name[] = "m", x[] = "x";
        char *args[] = {name, x};
        do_if(out, "a|<|b|$[1]|n", 2, args);
        set_verbose_inc(1);
        do_if(out, "a|<|b|$[1]|n", 2, args);
        do_if(out, "a|<", 2, args);
    });
    EXPECT_EQ(run.out, "xx");
    EXPECT_EQ(run.std_err, "do_if(a|<|b|$[1]|n)\n"
                           "do_if: str1=a, str2=b, s1=a, s2=b, t=x, f=n, rval=4\ndo_if(a|<)\n");
}

TEST(Expansion, ArgumentVariablesAndLastnargs)
{
    ChildRun run = run_child([](FILE *out) {
        load_library(">Five\n>\n>Two\n>\n>Footer\n$[arg1] $[arg2] $[nargs] $[1]\n>\n");
        const char *steps[] = {"Five|1|2|3|4", "Two|x",  "Footer|2024|index.html",
                               "Footer\n",     "Two|",   "Footer||x",
                               "Five|1|2|3|4", "Nope|a", "Two|x|y|z"};
        for (const char *step : steps) {
            do_include(out, step);
            put_eval(out, arg_probe);
        }
        do_include(out, ("Footer" + repeat("|v", 150)).c_str());
    });
    EXPECT_EQ(run.out, "[1|2|3|4|5]\n[x||||2]\n2024 index.html 3 2024\n[2024|index.html|||3]\n"
                       "  1 \n[||||1]\n[||||2]\n x 3 \n[|x|||3]\n[1|2|3|4|5]\n[1|2|3|4|5]\n"
                       "[x|y|z||4]\nv v 100 v\n");
    EXPECT_EQ(run.std_err, "unknown include (Nope)\n");
}

TEST(Expansion, NestedIncludesCommandsAndBodyLines)
{
    auto scenario = [](FILE *out, bool to_null) {
        load_library(">M\n>N|b|c\n$[arg1] $[1]\n>!if|$[1]|==|a|yes|no\n tail\n$[x]|1\n"
                     " >not include\n]not include\n\n>!SET|color|red\n[$[color]]\n>!Clear\n"
                     "[$[arg1]|$[1]|$[color]]\n>!set color red\n>!unset|x\n>\n"
                     ">N\nn:$[1]$[2]\n>\n>Sub\nsub:$[1]\n>\n");
        run_page(out, ">!set|x|>Sub\n");
        do_include(to_null ? nullptr : out, "M|a");
    };
    const std::string expanded =
        "n:bc\nb a\nyes tail\nsub:1\n >not include\n]not include\n\n[red]\n[|a|]\n";
    const std::string errors = "Executing include (>!set|x|>Sub\n)\n"
                               "Invalid command (set color red)\nInvalid command (unset|x)\n";
    ChildRun run = run_child([&](FILE *out) { scenario(out, false); });
    EXPECT_EQ(run.out, expanded);
    EXPECT_EQ(run.std_err, errors);
    run = run_child([&](FILE *out) { scenario(out, true); });
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.std_out, expanded);
    EXPECT_EQ(run.std_err, errors);
}

TEST(Expansion, TracesAtVerbosityThresholds)
{
    auto scenario = [](int level) {
        return run_child([level](FILE *out) {
            load_library(">T\n>!if|a|==|$[1]|y|n\nc\n>U\n>\n");
            set_verbose_inc(level);
            do_include(out, "T|a");
            char a[] = "a";
            char *args[] = {a, nullptr};
            run_body(out, {}, 2, args);
        });
    };
    EXPECT_EQ(scenario(0).std_err, "unknown include (U)\n");
    EXPECT_EQ(scenario(1).std_err,
              "process_include(T), nargs=2  [T] [a]\ndo_if(a|==|a|y|n)\n"
              "do_if: str1=a, str2=a, s1=a, s2=a, t=y, f=n, rval=2\n"
              "unknown include (U)\nprocess_include(t), nargs=2  [a] [null]\n");
    ChildRun run = scenario(10);
    EXPECT_EQ(run.out, "yc\n");
    EXPECT_EQ(run.std_err, "do_include(T|a)\nSetting arg: arg1|a.\nVariable [arg1] set to [a]\n"
                           "do_set:nargs|2\nVariable [nargs] set to [2]\n"
                           "process_include(T), nargs=2  [T] [a]\nget_val(1)=a.\n"
                           "Executing: [>!if|a|==|a|y|n]\ndo_exec:if|a|==|a|y|n.\n"
                           "do_if(a|==|a|y|n)\n"
                           "do_if: str1=a, str2=a, s1=a, s2=a, t=y, f=n, rval=2\n"
                           "do_if returned 0\nCopy: [c]\nEmbedded: [>U]\ndo_include(U)\n"
                           "unknown include (U)\nprocess_include(t), nargs=2  [a] [null]\n");
}

TEST(Expansion, NestingStopsAtLevel100)
{
    ChildRun run = run_child([](FILE *out) {
        load_library(">Self\nL\n>Self\nE\n>\n>Ping\n>Pong\n>\n>Pong\n>PING\n>\n");
        do_include(out, "Self");
        do_include(out, "Ping");
        do_include(out, "Self|again");
    });
    std::string self = repeat("L\n", 100) + repeat("E\n", 100);
    EXPECT_EQ(run.out, self + self);
    EXPECT_EQ(run.std_err, "Include nesting too deep (Self)\nInclude nesting too deep (PING)\n"
                           "Include nesting too deep (Self)\n");
    EXPECT_EQ(run.status, 0);
}

TEST(Expansion, LongTextsAreNeverCut)
{
    const std::string a = repeat("q", 600);
    ChildRun run = run_child([&a](FILE *out) {
        load_library(">Echo\n[$[1]][$[arg1]]\n>Inner|$[1]|$[1]\n>!set|long|$[1]\n{$[long]}\n>\n"
                     ">Inner\n<$[2]>\n>\n");
        do_include(out, ("Echo|" + a).c_str());
    });
    EXPECT_EQ(run.out, "[" + a + "][" + a + "]\n<" + a + ">\n{" + a + "}\n");
    EXPECT_EQ(run.std_err, "");
}

TEST(Page, TextIncludeAndExecLines)
{
    const std::string longline = repeat("x", 511) + ">Footer|z\n";
    const std::string nul_line("a\0b\n", 4);
    ChildRun run = run_child([&](FILE *out) {
        load_library(">Footer\nF[$[1]]\n>\n>SubLink\nS[$[1]|$[2]]\n>\n");
        run_page(out, "<p>Welcome $[x]</p>\n>SubLink|News|news.html\n  ]Footer|2024\n"
                      "\t>Footer|x\r\n\f>Footer|no\n>\n>!set|colour|blue\n"
                      "]!if|$[colour]|==|blue|is-blue|not\nafter\n>!clear\n"
                      "]!if|$[colour]|==||cleared|kept\n\n>!set|c|v\r\n"
                      ">!if|$[c]|==|v|ok|bad\r\n\n" +
                          nul_line + longline + "end");
    });
    EXPECT_EQ(run.out, "<p>Welcome $[x]</p>\nS[News|news.html]\nF[2024]\nF[x]\n\f>Footer|no\n"
                       "is-blueafter\ncleared\nok\n" +
                           nul_line + longline + "end");
    EXPECT_EQ(run.std_err, "unknown include ()\nExecuting include (>!set|colour|blue\n)\n"
                           "Executing include (]!if|$[colour]|==|blue|is-blue|not\n)\n"
                           "Executing include (>!clear\n)\n"
                           "Executing include (]!if|$[colour]|==||cleared|kept\n)\n"
                           "Executing include (>!set|c|v\r\n)\n"
                           "Executing include (>!if|$[c]|==|v|ok|bad\r\n)\n");
}

TEST(Page, SubMenuFromSubLinkLines)
{
    const std::string y = repeat("y", 700);
    ChildRun run = run_child([&y](FILE *out) {
        load_library(">SubMenuStart\n<ul>\n>\n>SubMenuItem\n<li>$[1]:$[2]</li>\n>\n"
                     ">SubMenuEnd\n</ul>\n>\n");
        FILE *in = stream_with("Title\n>SubLink|Home|index.html\n>sublink|Low|x\n"
                               ">SubLinkNew|New\n>SubLinks|x\n>SubLink\n>SubLinkN\n"
                               " \f\v]SubLink|Ws|w\n\t>SubLink|Tab|t\r\nSubLink|none\n"
                               ">SubLink|" +
                               y + "|z\n>SubLink");
        std::fgetc(in); // find_smenu starts from the beginning whatever the position
        find_smenu(out, in);
        std::fputs(std::fgetc(in) == EOF ? "at end\n" : "not at end\n", out);
        std::fclose(in);
        in = stream_with("no links\n");
        find_smenu(out, in);
        std::fclose(in);
    });
    EXPECT_EQ(run.out, "<ul>\n<li>Home:index.html</li>\n<li>New:</li>\n<li>Ws:w</li>\n"
                       "<li>Tab:t</li>\n<li>" +
                           y + ":z</li>\n</ul>\nat end\n<ul>\n</ul>\n");
    EXPECT_EQ(run.std_err, "");

    run = run_child([](FILE *out) {
        FILE *in = stream_with(">SubLink|a\n");
        find_smenu(out, in);
        std::fclose(in);
    });
    EXPECT_EQ(run.std_err, "unknown include (SubMenuStart)\nunknown include (SubMenuItem)\n"
                           "unknown include (SubMenuEnd)\n");
}

TEST(Page, HeldTextBuildsWhatTheStreamBuilds)
{
    // Sub-link lines in the header and after the body's includes, behind white space the body
    // pass does not skip, with a CR, after a NUL byte; a last line without line end.
    const std::string page("Title\n>SubLink|Head|h\n\n<p>a</p>\n  >SubLink|In|i\n"
                           "\v>SubLink|Vt|v\n\f]SubLink|Ff|f\r\n\r>SubLink|Cr|c\n>Nope\n"
                           ">!set|x|1\nx\0y\n>SubLink|Nul|n\n>SubLinkN|Nn\nend >SubLink|no",
                           157);
    const size_t body = page.find("<p>");
    auto build = [&](FILE *out, bool held) {
        load_library(">SubLink\n<a>$[1]</a>\n>\n>SubMenuStart\n<ul>\n>\n"
                     ">SubMenuItem\n<li>$[1]:$[2]:$[nargs]</li>\n>\n>SubMenuEnd\n</ul>\n>\n");
        if (held) { // page.c_str() ends in the NUL byte the held text needs
            TextLines rest{page.c_str() + body, page.c_str() + page.size()};
            bld_html_text(out, &rest);
            find_smenu_text(out, TextLines{page.c_str(), page.c_str() + page.size()});
            return;
        }
        FILE *in = stream_with(page);
        std::fseek(in, static_cast<long>(body), SEEK_SET);
        bld_html(out, in);
        find_smenu(out, in);
        std::fclose(in);
    };
    ChildRun stream = run_child([&](FILE *out) { build(out, false); });
    ChildRun held = run_child([&](FILE *out) { build(out, true); });
    EXPECT_EQ(held.out, stream.out);
    EXPECT_EQ(held.std_err, stream.std_err);
    EXPECT_NE(stream.out.find("<ul>\n<li>Head:h:3</li>\n<li>In:i:3</li>\n<li>Vt:v:3</li>\n"
                              "<li>Ff:f:3</li>\n<li>Cr:c:3</li>\n<li>Nul:n:3</li>\n"
                              "<li>Nn::2</li>\n</ul>\n"),
              std::string::npos)
        << stream.out;
}

TEST(Page, OutputKeepsItsPlaceAmongMessagesOnTheSameStream)
{
    ChildRun run = run_child([](FILE *) {
        load_library(">M\nbefore $[1]\n>Nope\nafter\n>\n");
        do_include(stderr, "M|x");
        std::fputs("then\n", stderr);
        run_page(stderr, "line\n>M|y\n");
    });
    EXPECT_EQ(run.std_err, "before x\nunknown include (Nope)\nafter\nthen\n"
                           "line\nbefore y\nunknown include (Nope)\nafter\n");
}

TEST(Expansion, LookupsFollowClearedStoresAndAnotherLibrary)
{
    ChildRun run = run_child([](FILE *out) {
        load_library(">Show\n>!set|k|K\n[$[a]|$[b]|$[k]]\n>\n>Zed\nz\n>\n");
        run_page(out, ">!set|b|B\n>!set|a|A\n>Show\n>!clear\n>!set|a|A2\n>Show\n");
        reset_inc();
        do_include(out, "Show"); // no library now
        load_library(">Aaa\naaa\n>\n>Show\nshow $[k]\n>\n>Zed\nzed\n>\n");
        run_page(out, ">Show\n>Zed\n");
    });
    EXPECT_EQ(run.out, "[A|B|K]\n[A2||K]\nshow \nzed\n");
    EXPECT_EQ(run.std_err, "Executing include (>!set|b|B\n)\nExecuting include (>!set|a|A\n)\n"
                           "Executing include (>!clear\n)\nExecuting include (>!set|a|A2\n)\n"
                           "unknown include (Show)\n");
}

TEST(Htmlsafe, EscapesAmpersandsUpTo512Characters)
{
    struct Case {
        std::string in, out;
    } cases[] = {{"", ""},
                 {"a&b", "a&amp;b"},
                 {"&amp;", "&amp;amp;"},
                 {"1 < 2 \"x\" \x01\xff", "1 < 2 \"x\" \x01\xff"},
                 {repeat("&", 512), repeat("&amp;", 512)}};
    for (const Case &c : cases) {
        char *got = htmlsafe(c.in.c_str());
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(got, c.out);
        std::free(got);
    }
    ChildRun run = run_child(
        [](FILE *out) { std::fputs(htmlsafe(repeat("a", 513).c_str()) ? "copy" : "null", out); });
    EXPECT_EQ(run.out, "null");
    EXPECT_EQ(run.std_err, "htmlsafe: Input string too long (513)\n");
}

TEST(Expansion, RunawayLibrariesEndWithAMessage)
{
    // Two self-includes per level would mean 2^100 expansions: the outer include stops at its
    // budget (1000 expansions in this build), says so once, and the next outer include starts
    // afresh.
    ChildRun twice = run_child([](FILE *out) {
        load_library(">Twice\n>Twice\n>TWICE\n>\n>Once\nok\n>\n");
        do_include(out, "Twice");
        do_include(out, "Once");
    });
    EXPECT_EQ(twice.out, "ok\n");
    const std::string last = "Include expansion too large (Twice)\n";
    const std::string &err = twice.std_err;
    ASSERT_GT(err.size(), last.size());
    EXPECT_EQ(err.substr(err.size() - last.size()), last);
    EXPECT_TRUE(lines_starting(err, {"Include nesting too deep ("}) + last == err);
    EXPECT_EQ(twice.status, 0);

    // A variable that doubles on every level stops growing before the text limit (64 KiB in
    // this build).
    ChildRun doubling = run_child([](FILE *out) {
        load_library(">Init\n>!set|x|ab\n>\n>Dbl\n>!set|x|$[x]$[x]\n>Dbl\n>\n");
        do_include(out, "Init");
        do_include(out, "Dbl");
        const char *x = get_val("x");
        std::fprintf(out, "|%zu", x ? std::strlen(x) : 0);
    });
    EXPECT_EQ(doubling.out, "|32768");
    std::string dropped;
    for (int level = 15; level <= 100; level++)
        dropped += "Expanded text too long, $[x] not inserted\n";
    EXPECT_EQ(doubling.std_err, dropped + "Include nesting too deep (Dbl)\n");
    EXPECT_EQ(doubling.status, 0);
}
