// The engine's two stores under load: many variables set in scattered order, and libraries
// of many macros defined in scattered order, again and in two loads. Every scenario runs in
// a child process with fresh stores.
#include "engine/bld_html.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

#include "child_run.h"
#include "engine_fixture.h"

namespace {

// 0 .. count-1 in a fixed scattered order.
std::vector<int> scattered(int count)
{
    std::vector<int> ids(static_cast<size_t>(count));
    for (int i = 0; i < count; i++)
        ids[static_cast<size_t>(i)] = i;
    std::shuffle(ids.begin(), ids.end(), std::mt19937(7));
    return ids;
}

} // namespace

TEST(VariableStore, ManyNamesStayReadableReplaceableAndClearable)
{
    ChildRun run = run_child([](FILE *out) {
        load_library(">Mark\n>!set|seen $[1]|$[2]\n>\n>Reset\n>!clear\n>\n");
        char text[64];
        for (int id : scattered(5000)) {
            std::snprintf(text, sizeof text, "Mark|p%d|v%d", id, id);
            do_include(out, text);
        }
        int wrong = 0;
        for (int id = 0; id < 5000; id++) {
            std::snprintf(text, sizeof text, "seen p%d", id);
            const char *value = get_val(text);
            std::snprintf(text, sizeof text, "v%d", id);
            wrong += value == nullptr || std::strcmp(value, text) != 0;
        }
        // 5000 marks, arg1, arg2 and nargs, each stored once.
        std::fprintf(out, "wrong=%d stored=%d\n", wrong, vars->nitems);
        do_include(out, "Mark|p17|again");
        do_include(out, "Mark|p18|");
        std::fprintf(out, "%s %s\n", get_val("seen p17"), get_val("seen p18") ? "set" : "blank");
        do_include(out, "Reset");
        std::fprintf(out, "%s %d\n", get_val("seen p17") ? "kept" : "cleared", vars->nitems);
        do_include(out, "Mark|p17|new");
        std::fprintf(out, "%s %s\n", get_val("seen p17"), get_val("seen p4") ? "kept" : "gone");
    });
    EXPECT_EQ(run.out, "wrong=0 stored=5003\nagain blank\ncleared 0\nnew gone\n");
    EXPECT_EQ(run.std_err, "");
    EXPECT_EQ(run.status, 0);
}

TEST(VariableStore, ChangeMessagesKnowEveryEarlierName)
{
    ChildRun run = run_child([](FILE *) {
        load_library(">M\n>!set|$[1]|$[2]\n>\n");
        for (int i = 0; i < 40; i++)
            do_include(nullptr, ("M|n" + std::to_string(i) + "|a").c_str());
        set_verbose_inc(10);
        do_include(nullptr, "M|n7|b");
    });
    EXPECT_NE(run.std_err.find("Variable [n7] changed from [a] to [b]\n"), std::string::npos);
    EXPECT_EQ(run.std_err.find("Variable [n7] set to"), std::string::npos);
}

TEST(MacroIndex, ManyMacrosInAnyOrderAreSortedAndFound)
{
    ChildRun run = run_child([](FILE *out) {
        std::string library;
        for (int id : scattered(1200))
            library += ">M" + std::to_string(id) + "\nm" + std::to_string(id) + "\n>\n";
        library += ">m5\nnew5\n>\n"; // redefines a macro read earlier
        load_library(library);
        load_library(">M7\nnew7\n>\n>Extra\nextra\n>\n"); // a second load: one old, one new
        bool sorted = true;
        for (int i = 1; i < incs->nitems; i++)
            sorted = sorted && std::strcmp(incs->key[i - 1], incs->key[i]) < 0;
        std::fprintf(out, "%d %d %s\n", incs->nitems, incs->maxitems,
                     sorted ? "sorted" : "unsorted");
        for (const char *name : {"M0", "m5", "M7", "M1199", "extra", "M1200"})
            do_include(out, name);
    });
    EXPECT_EQ(run.out, "1201 1500 sorted\nm0\nnew5\nnew7\nm1199\nextra\n");
    EXPECT_EQ(run.std_err, "Macro m5 overridden by new version\n"
                           "Macro m7 overridden by new version\nunknown include (M1200)\n");
    EXPECT_EQ(run.status, 0);
}

TEST(MacroIndex, StoringMessagesComeInReadingOrder)
{
    ChildRun run = run_child([](FILE *) {
        set_verbose_inc(6);
        load_library(">B\n>\n>a\n>\n>b\n>\n");
    });
    EXPECT_EQ(run.std_err, "Storing macro [b]\nStoring macro [a]\nStoring macro [b]\n"
                           "Macro b overridden by new version\n");
}

TEST(EngineReset, ForgetsMacrosVariablesArgumentsAndFailures)
{
    // A caller starting afresh (a watch loop reloading the library) resets the engine: old
    // names must not be found nor their memory read, and the old argument count must not
    // blank arguments the next include never had. reset_vars_inc keeps the macros.
    ChildRun run = run_child([](FILE *out) {
        load_library(">Set\n>!set|$[1]|$[2]\n>\n>Five\n>\n>Probe\n[$[arg3]|$[nargs]]\n>\n");
        do_include(out, "Set|colour|red");
        do_include(out, "Five|1|2|3|4");
        do_include(out, "Nope");
        std::fprintf(out, "%d|", inc_failures());
        reset_vars_inc();
        std::fprintf(out, "%s %d|", get_val("colour") ? "kept" : "gone", vars->nitems);
        do_include(out, "Set|colour|blue");
        do_include(out, "Set|size|big");
        reset_inc();
        std::fprintf(out, "%s %s %d|", incs || vars ? "stores" : "none",
                     get_val("colour") ? "stale" : "gone", inc_failures());
        load_library(">Set\n>!set|$[1]|$[2]\n>\n>Probe\n[$[arg3]|$[nargs]]\n>\n");
        do_include(out, "Set|colour|green");
        do_include(out, "Probe");
        std::fprintf(out, "%s|%d\n", get_val("colour"), vars->nitems);
    });
    // After the reset only arg1, arg2, nargs and colour exist: no blanked arg3 or arg4.
    EXPECT_EQ(run.out, "1|gone 0|none gone 0|[|1]\ngreen|4\n");
    EXPECT_EQ(run.status, 0);
}

TEST(EngineReset, EveryFailureMessageIsCountedAndWarningsAreNot)
{
    // Each scenario's standard error holds failure messages only, besides the override
    // warning: the count must match them line for line.
    const std::string dbl = ">Init\n>!set|x|ab\n>\n>Dbl\n>!set|x|$[x]$[x]\n>Dbl\n>\n";
    struct Case {
        const char *library; // a path when it starts with '/'
        const char *includes[2];
    } cases[] = {
        {">A\n>\n>A\n>\n", {"A", nullptr}},                  // overridden: a warning only
        {"/nonexistent/include.txt", {"A", nullptr}},        // can't open; unknown include
        {"/", {"A", nullptr}},                               // can't read (a directory)
        {"a\r>A\r>\r", {"A", nullptr}},                      // only CR line ends
        {">A\n>!bogus\n>!set|x\n>!If\n>\n", {"A", "A"}},     // invalid command
        {">Twice\n>Twice\n>TWICE\n>\n", {"Twice", "Twice"}}, // nesting, then the budget
        {dbl.c_str(), {"Init", "Dbl"}},                      // texts too long, nesting
    };
    for (const Case &c : cases) {
        ChildRun run = run_child([&c](FILE *out) {
            if (c.library[0] == '/')
                bld_inc(c.library);
            else
                load_library(c.library);
            for (const char *name : c.includes)
                do_include(out, name);
            std::fprintf(out, "%d", inc_failures());
        });
        int lines = 0;
        for (size_t at = 0; (at = run.std_err.find('\n', at)) != std::string::npos; at++)
            lines++;
        bool warned = run.std_err.find(" overridden by new version\n") != std::string::npos;
        EXPECT_EQ(run.out, std::to_string(lines - warned)) << c.library << "\n" << run.std_err;
        EXPECT_EQ(run.out == "0", warned) << c.library; // only the first case has no failure
    }
}
