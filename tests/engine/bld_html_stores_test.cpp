// The engine's two stores under load: many variables set in scattered order, and libraries
// of many macros defined in scattered order, again and in two loads. Every scenario runs in
// a child process with fresh stores.
#include "engine/bld_html.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "child_run.h"

namespace {

void load_library(const std::string &text)
{
    std::string path = file_with(text);
    bld_inc(path.c_str());
    unlink(path.c_str());
}

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

TEST(VariableStore, AStoreReplacedByTheCallerIsNeverSearchedThroughOldNames)
{
    // A caller starting afresh frees both stores and loads a library again (as a long-running
    // harness does); names of the freed store must not be found, nor their memory read.
    ChildRun run = run_child([](FILE *out) {
        load_library(">Set\n>!set|$[1]|$[2]\n>\n");
        do_include(out, "Set|colour|red");
        do_include(out, "Set|size|big");
        free_aptr_prodlist(vars);
        vars = nullptr;
        for (int i = 0; i < incs->nitems; i++) {
            free_alpha_prodlist(static_cast<ProdAlphaList *>(incs->item[i]));
            incs->item[i] = nullptr;
        }
        free_aptr_prodlist(incs);
        incs = nullptr;
        load_library(">Set\n>!set|$[1]|$[2]\n>\n");
        std::fprintf(out, "%s|", get_val("colour") ? "stale" : "gone");
        do_include(out, "Set|colour|blue");
        std::fprintf(out, "%s|%d\n", get_val("colour"), vars->nitems);
    });
    EXPECT_EQ(run.out, "gone|blue|4\n");
    EXPECT_EQ(run.status, 0);
}
