// Batch (-a) and incremental (-u) builds over the input directory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_tovrel.h"

TEST(BuildAll, BuildsEveryPageEntryInListingOrder)
{
    // The announcements of exec lines, the engine's traces and a failure on standard error
    // keep the order the pages met them in.
    Sandbox box;
    make_site(box);
    for (const char *name : {"b.html", "a.html", "index.html", "index.html.bak", "Z.html"})
        write_file(box.site + "/in/" + name,
                   std::string(name) + "\n\nbody\n>!set|v|" + name + "\n");
    write_file(box.site + "/in/notes.txt", "not a page\n");
    write_file(box.site + "/in/UPPER.HTML", "not a page\n");
    write_file(box.site + "/in/.hidden.html", "never listed\n");
    write_file(box.site + "/in/y.html", "y\n\n>!set|v|y\n");
    std::filesystem::create_directories(box.site + "/in/x.html");
    RunResult r = run_tovrel(box, {"-v", "1", "-all"});
    EXPECT_EQ(r.out, "Building page Z ...\nBuilding page a ...\nBuilding page b ...\n"
                     "Building page index ...\nBuilding page index ...\n"
                     "Building page x ...\nBuilding page y ...\ntovrel: Terminating\n");
    std::string announced;
    for (const char *name : {"Z.html", "a.html", "b.html", "index.html", "index.html"})
        announced += "Executing include (>!set|v|" + std::string(name) + "\n)\n";
    EXPECT_LT(r.err.find("Executing include (>!set|v|Z.html"),
              r.err.find("process_include(SubMenuStart"));
    EXPECT_EQ(without_traces(r.err), announced + "tovrel: Can't open input file (in/x.html)!\n"
                                                 "Executing include (>!set|v|y\n)\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(dir_names(box.site + "/out"),
              (std::vector<std::string>{"Z.html", "a.html", "b.html", "index.html", "y.html"}));
    EXPECT_EQ(read_file(box.site + "/out/a.html"), framed_page("a.html", "", "body\n"));
    EXPECT_EQ(read_file(box.site + "/out/index.html"), framed_page("index.html", "", "body\n"));
}

TEST(BuildAll, EmptyMissingAndEqualDirectories)
{
    Sandbox box;
    make_site(box);
    RunResult r = run_tovrel(box, {"-a"});
    EXPECT_EQ(r.out, "tovrel: Terminating\n");
    EXPECT_EQ(r.err, "");
    r = run_tovrel(box, {"-i", "nowhere", "-a", "-u"});
    EXPECT_EQ(r.err, "tovrel: No files found in input directory!\n"
                     "tovrel: No files found in input directory!\n");
    write_file(box.site + "/in/a.html", "A\n");
    r = run_tovrel(box, {"-o", "in", "-v", "1", "-a", "-u"});
    EXPECT_EQ(r.out, "tovrel: Terminating\n");
    EXPECT_EQ(r.err, "tovrel: Input & Output Directories must be different!\n(in) and (in)\n"
                     "tovrel: Input & Output Directories must be different!\n(in) and (in)\n");
    EXPECT_EQ(dir_names(box.site + "/in"), std::vector<std::string>{"a.html"});
    EXPECT_EQ(r.status, 2);
}

TEST(BuildUpdated, RebuildsOnlyMissingOrOlderPages)
{
    Sandbox box;
    make_site(box);
    struct Case {
        const char *name;
        time_t in_time;
        time_t out_time; // 0: no output yet
        bool rebuilt;
    } cases[] = {
        {"newer", 1000, 2000, false}, {"same", 2000, 2000, false},  {"older", 3000, 2999, true},
        {"none", 1000, 0, true},      {"within", 4000, 4000, true}, // saved later within the second
                                                                    // of its build
    };
    for (const Case &c : cases) {
        std::string in = box.site + "/in/" + c.name + ".html";
        std::string out = box.site + "/out/" + c.name + ".html";
        // Times are compared to the nanosecond: "within" is 0.9 s newer, "same" exactly equal.
        long in_ns = c.name == std::string("within") ? 900000000 : 500;
        write_file(in, std::string(c.name) + "\n");
        set_mtime(in, c.in_time, in_ns);
        if (c.out_time != 0) {
            write_file(out, "old\n");
            set_mtime(out, c.out_time, 500);
        }
    }
    ASSERT_EQ(symlink("nothing", (box.site + "/in/dangling.html").c_str()), 0);
    // Listed after older.html, it names the same page, which is then up to date.
    write_file(box.site + "/in/older.html.bak", "older\n");
    RunResult r = run_tovrel(box, {"-v", "1", "-u"});
    EXPECT_EQ(r.out, "Building page none ...\nBuilding page older ...\nBuilding page within ...\n"
                     "tovrel: Terminating\n");
    EXPECT_EQ(without_traces(r.err), "Can't stat input file (in/dangling.html)\n");
    EXPECT_EQ(r.status, 2);
    for (const Case &c : cases) {
        std::string out = read_file(box.site + "/out/" + c.name + ".html");
        EXPECT_EQ(out, c.rebuilt ? framed_page(c.name, "", "") : "old\n") << c.name;
    }
    // Built pages are now newer than their page files: nothing more to do.
    r = run_tovrel(box, {"-v", "1", "-u"});
    EXPECT_EQ(r.out, "tovrel: Terminating\n");
}

TEST(BuildUpdated, MissingOrUnreadableOutputDirectoryMeansEveryPageIsOutOfDate)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/a.html", "a\n");
    write_file(box.site + "/in/b.html", "b\n");
    RunResult r = run_tovrel(box, {"-o", "missing", "-u"});
    EXPECT_EQ(r.err, "tovrel: Can't open output file (missing/a.html)!\n"
                     "tovrel: Can't open output file (missing/b.html)!\n");
    EXPECT_EQ(r.out, "tovrel: Terminating\n");

    // An output directory that can be searched but not listed is judged page by page.
    if (!file_modes_obeyed(box.root))
        GTEST_SKIP() << "permission bits do not deny this user access";
    write_file(box.site + "/out/a.html", "old\n");
    set_mtime(box.site + "/in/a.html", 1000);
    set_mtime(box.site + "/in/b.html", 1000);
    ASSERT_EQ(chmod((box.site + "/out").c_str(), 0300), 0);
    RunSpec job;
    job.args = {"-v", "1", "-u"};
    job.obey_file_modes = true;
    r = run_tovrel(box, job);
    ASSERT_EQ(chmod((box.site + "/out").c_str(), 0755), 0);
    EXPECT_EQ(r.out, "Building page b ...\ntovrel: Terminating\n");
    EXPECT_EQ(without_traces(r.err), "");
    EXPECT_EQ(read_file(box.site + "/out/a.html"), "old\n");
    EXPECT_EQ(read_file(box.site + "/out/b.html"), framed_page("b", "", ""));
}

TEST(BuildAll, APageFileLeadingToAPageBuiltBeforeItReadsItAsBuilt)
{
    // b.html leads to the page a.html becomes, first where none stood, then where an earlier
    // one is replaced: the batch builds b from the new page, as a build of b alone does.
    Sandbox box;
    make_site(box);
    ASSERT_EQ(symlink("../out/a.html", (box.site + "/in/b.html").c_str()), 0);
    for (const char *text : {"A\n\nfirst\n", "A2\n\nsecond\n"}) {
        write_file(box.site + "/in/a.html", text);
        RunResult r = run_tovrel(box, {"-a"});
        EXPECT_EQ(r.err, "");
        std::string batch = read_file(box.site + "/out/b.html");
        EXPECT_NE(batch.find(text + 3), std::string::npos) << batch;
        run_tovrel(box, {"b"});
        EXPECT_EQ(read_file(box.site + "/out/b.html"), batch);
    }
}
