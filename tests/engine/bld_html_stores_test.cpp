// The engine's two stores under load: many variables set in scattered order, and libraries
// of many macros defined in scattered order, again and in two loads. Every scenario runs in
// a child process with fresh stores.
#include "engine/bld_html.h"

#include <algorithm>
#include <cstdlib>
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

// A new macro body of the given lines.
ProdAlphaList *body_of(std::initializer_list<const char *> lines)
{
    ProdAlphaList *body = create_alpha_prodlist(10);
    for (const char *line : lines)
        append_alpha_prodlist(body, strdup(line));
    return body;
}

// Stores value (null: blank) under name in list as a caller of the list operations does:
// the list keeps its own key, so a key not stored and a replaced item are freed here.
void caller_update(ProdAPtrList *list, const char *name, void *value, void (*free_item)(void *))
{
    char *key = strdup(name);
    bool present = bsearch_aptr_prodlist(list, key) >= 0;
    free_item(bupdate_aptr_prodlist(list, key, value));
    if (present)
        std::free(key);
}

void free_body(void *body)
{
    free_alpha_prodlist(static_cast<ProdAlphaList *>(body));
}

// "" when every key of list is found at its slot by the halving search and the keys ascend.
std::string store_faults(const ProdAPtrList *list)
{
    std::string faults;
    for (int i = 0; list && i < list->nitems; i++) {
        if (bsearch_aptr_prodlist(list, list->key[i]) != i)
            faults += std::string(" missed ") + list->key[i];
        if (i > 0 && std::strcmp(list->key[i - 1], list->key[i]) >= 0)
            faults += std::string(" unsorted ") + list->key[i];
    }
    return faults;
}

} // namespace

TEST(StoresSharedWithCallers, ListOperationsBetweenIncludesAreSeenByEveryReading)
{
    // A caller of the engine reads and changes vars and incs with the list operations; every
    // include, check and trace after that must see exactly what the stores hold.
    ChildRun run = run_child([](FILE *out) {
        load_library(">Show\n[$[title]|$[aaa]|$[arg1]|$[nargs]]\n>\n>Footer\nold $[1]\n>\n"
                     ">Call\n>Footer|x\n>Added|y\n>\n>Page\n>!set|title|Home\n>\n");
        do_include(out, "Page");
        do_include(out, "Show|abc");
        std::fprintf(out, "%s\n", store_faults(vars).c_str());
        caller_update(vars, "aaa", strdup("new"), std::free); // shifts every later slot
        do_include(out, "Show|abcdefghijklmnopqrstuvwxyz");
        caller_update(vars, "title", strdup("Changed"), std::free);
        std::fprintf(out, "%s %s|", get_val("title"), get_val("arg1"));
        caller_update(incs, "added", body_of({"added $[1]"}), free_body);
        caller_update(incs, "footer", body_of({"new $[1]", "second"}), free_body); // old freed
        do_include(out, "Call");
        auto *call = static_cast<ProdAlphaList *>(incs->item[bsearch_aptr_prodlist(incs, "call")]);
        std::free(call->item[0]); // the same body, a line changed in place
        call->item[0] = strdup(">Footer|z");
        do_include(out, "Call");
        clear_aptr_prodlist(vars);
        do_include(out, "Show");
        std::fprintf(out, "%s%s|", store_faults(vars).c_str(), store_faults(incs).c_str());
        set_verbose_inc(10);
        caller_update(vars, "title", strdup("Traced"), std::free);
        do_include(out, "Show");
        set_verbose_inc(0);
        begin_check_inc(nullptr);
        check_page_inc("p.html", 2);
        caller_update(incs, "footer", body_of({"checked $[1]"}), free_body);
        do_include(out, "Call");
        do_include(out, "Gone");
        int errors, warnings;
        end_check_inc(&errors, &warnings);
        std::fprintf(out, "%d %d\n", errors, warnings);
    });
    EXPECT_EQ(run.out, "[Home||abc|2]\n\n[Home|new|abcdefghijklmnopqrstuvwxyz|2]\n"
                       "Changed abcdefghijklmnopqrstuvwxyz|new x\nsecond\nadded y\nnew z\nsecond\n"
                       "added y\n[|||1]\n|[Traced|||1]\nchecked z\nadded y\n1 0\n");
    EXPECT_EQ(run.std_err,
              "do_include(Show)\ndo_set:nargs|1\nVariable [nargs] changed from [1] to [1]\n"
              "process_include(Show), nargs=1  [Show]\nget_val(title)=Traced.\n"
              "get_val(aaa)=(null).\nget_val(arg1)=(null).\nget_val(nargs)=1.\n"
              "Copy: [[Traced|||1]]\n"
              "p.html:1: error: unknown include 'Gone': the library defines no "
              "such macro\n");
    EXPECT_EQ(run.status, 0);
}

TEST(StoresSharedWithCallers, SeededRandomOperationsNeverPartStoreAndEngine)
{
    // Includes, sets and clears through the engine mixed with list operations on both stores;
    // after each step every variable a macro shows must be what the store holds.
    ChildRun run = run_child([](FILE *out) {
        load_library(">Set\n>!set|$[1]|$[2]\n>\n>Clear\n>!clear\n>\n"
                     ">Show\n$[v0]:$[v1]:$[v2]:$[v3]\n>Part|$[v4]\n>\n>Part\n[$[1]$[v5]]\n>\n");
        std::mt19937 rng(11);
        auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
        auto value = [&pick] { return std::string(static_cast<size_t>(pick(12)), 'a' + pick(3)); };
        int wrong = 0;
        for (int step = 0; step < 3000; step++) {
            std::string name = "v" + std::to_string(pick(6));
            switch (pick(7)) {
            case 0:
                do_include(out, ("Set|" + name + "|" + value()).c_str());
                break;
            case 1:
                caller_update(vars, name.c_str(), pick(4) ? strdup(value().c_str()) : nullptr,
                              std::free);
                break;
            case 2:
                caller_update(vars, ("w" + value()).c_str(), nullptr, std::free);
                break;
            case 3:
                if (pick(10) == 0)
                    do_include(out, pick(2) ? "Clear" : "Clear|a|b|c|d|e");
                break;
            case 4:
                caller_update(incs, "part", body_of({"[$[1]$[v5]]", "<$[v0]>"}), free_body);
                break;
            default:
                break;
            }
            auto val = [](const char *n) {
                int pos = bsearch_aptr_prodlist(vars, n);
                const char *v = pos >= 0 ? static_cast<const char *>(vars->item[pos]) : nullptr;
                return std::string(v ? v : "");
            };
            int pos = bsearch_aptr_prodlist(incs, "part");
            auto *part = static_cast<ProdAlphaList *>(incs->item[pos]);
            std::string want = val("v0") + ":" + val("v1") + ":" + val("v2") + ":" + val("v3") +
                               "\n[" + val("v4") + val("v5") + "]\n";
            if (part->nitems == 2)
                want.append("<").append(val("v0")).append(">\n");
            FILE *shown = std::tmpfile();
            if (step % 2 == 0) { // from a page, or straight
                FILE *page = stream_with("x\n]show\n");
                bld_html(shown, page);
                std::fclose(page);
                want = "x\n" + want;
            } else {
                do_include(shown, "Show");
            }
            wrong += read_stream(shown) != want;
            std::fclose(shown);
            wrong += !store_faults(vars).empty() || !store_faults(incs).empty();
        }
        std::fprintf(out, "wrong=%d", wrong);
    });
    EXPECT_NE(run.out.find("wrong=0"), std::string::npos) << run.out.substr(run.out.size() - 40);
    EXPECT_EQ(run.status, 0);
}

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
