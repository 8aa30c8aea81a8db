// The command line: program name, options and their values, usage, help, page arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_tovrel.h"

namespace {

std::string usage_text(const std::string &prog)
{
    return "Usage:\t" + prog + " [options] files ...\n\t" + prog +
           " [-a] [options]\n-OR- for help, type:\n\t" + prog +
           " -h\nwhere options are:\n\t[-i indir]\tinput directory\n"
           "\t[-o outdir]\toutput directory\n"
           "\t[-s sitename]\tsite name (preceeds title)\n"
           "\t[-v val]\tset verbose switch to 'val'\n"
           "\t-a\t\tprocess all .html files in indir\n";
}

const char help_text[] = "\nThis program will build HTML pages.\n"
                         "The program will read files from the input directory,\n"
                         "merge them with any include segments that are present,\n"
                         "and write the resulting page to the output directory.\n"
                         "The name of the output file will be the same as the input file.\n"
                         "Therefore, either the input or output directory must be specified.\n"
                         "\t(i.e. you cannot default both directories)\n"
                         "If a directory is not specified, then the current directory is "
                         "assumed.\n"
                         "\n"
                         "An include segment is signified with a line:\n"
                         "\t>segname\n"
                         "where 'segname' is the name of the include segment.\n";

std::string page(const std::string &title, const std::string &body = "")
{
    return title + "\n\n" + body;
}

} // namespace

TEST(ProgramName, DerivedFromArgv0)
{
    struct Case {
        const char *argv0;
        const char *prog;
    } cases[] = {
        {"D:\\TOOLS\\MyProg.EXE", "myprog"},
        {"/opt/Make.exe.bak", "make.exe.bak"},
        {"d:/bin\\tool.exe", "bin\\tool"},
        {"TOVREL", "tovrel"},
        {"/usr/local/bin/Site.Exe", "site"},
        {"./.exe", ""},
        {"ÄB.EXE", "Äb"},
    };
    Sandbox box;
    for (const Case &c : cases) {
        RunSpec job;
        job.argv0 = c.argv0;
        job.args = {"-v", "0"};
        RunResult r = run_tovrel(box, job);
        EXPECT_EQ(r.out, std::string(c.prog) + ": Terminating\n") << c.argv0;
        EXPECT_EQ(r.err, "Can't open include file (include/include.txt)\n") << c.argv0;
        EXPECT_EQ(r.status, 2); // no library here
    }
}

TEST(ProgramName, RunThroughASymlinkShowsTheLinkName)
{
    Sandbox box;
    std::string link = box.root + "/MyTool.EXE";
    ASSERT_EQ(symlink(TOVREL_BIN, link.c_str()), 0);
    RunSpec job;
    job.program = link;
    job.argv0 = link;
    job.args = {"-x"};
    RunResult r = run_tovrel(box, job);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "Can't open include file (include/include.txt)\nmytool: Invalid option (-x)\n");
    EXPECT_EQ(r.out, usage_text("mytool"));
}

TEST(Usage, HelpPrintsUsageAndHelpAndIgnoresTheRest)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/a.html", page("A"));
    for (const char *h : {"-h", "-help"}) {
        RunResult r = run_tovrel(box, {h, "-x", "a.html"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, usage_text("tovrel") + help_text);
        EXPECT_EQ(r.err, "");
    }
    EXPECT_FALSE(file_exists(box.site + "/out/a.html"));
}

TEST(Usage, LongHelpAndVersionNeedNoSiteFirstAndActInPlaceLater)
{
    Sandbox box; // no library: as the first argument neither loads it
    RunResult r = run_tovrel(box, {"--version", "-x"});
    EXPECT_EQ(r.out, "tovrel " TOVREL_VERSION "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    r = run_tovrel(box, {"--help", "-x"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Usage: tovrel [OPTION]... [FILE]...\n", 0), 0u) << r.out;
    for (const char *text :
         {"\n  -a ", "\n  -u ", "\n  -i DIR ", "\n  -o DIR ", "\n  -s NAME ", "\n  -v N ",
          "\n  -d ", "\n  -h ", "\n  --help ", "\n  --version ", "(default: in)", "(default: out)",
          "include/include.txt", "left to right", "\n 2  if a page", "\n 3  if memory",
          "\n  or:  tovrel [-i in] [-o out] [-p PORT] -w\n", "\n  -p PORT ", "\n  -w "})
        EXPECT_NE(r.out.find(text), std::string::npos) << text;

    make_site(box);
    write_file(box.site + "/in/a.html", page("A"));
    write_file(box.site + "/in/b.html", page("B"));
    r = run_tovrel(box, {"a.html", "--version", "b.html"});
    EXPECT_EQ(r.out, "tovrel " TOVREL_VERSION "\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(file_exists(box.site + "/out/a.html"));
    EXPECT_FALSE(file_exists(box.site + "/out/b.html"));
}

TEST(Usage, InvalidOptionStopsWithStatus1AfterEarlierArgumentsActed)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/a.html", page("A"));
    write_file(box.site + "/in/b.html", page("B"));
    for (const char *bad : {"-x", "-A", "-", "-H", "--", "--helpx", "--Version", "--version=1"}) {
        RunResult r = run_tovrel(box, {"a.html", bad, "b.html"});
        EXPECT_EQ(r.status, 1) << bad;
        EXPECT_EQ(r.err, std::string("tovrel: Invalid option (") + bad + ")\n");
        EXPECT_EQ(r.out, usage_text("tovrel"));
    }
    EXPECT_EQ(read_file(box.site + "/out/a.html"), framed_page("A", "", ""));
    EXPECT_FALSE(file_exists(box.site + "/out/b.html"));
}

TEST(Options, OptionsAloneTerminateWithoutMenu)
{
    Sandbox box;
    make_site(box);
    for (std::vector<std::string> args :
         {std::vector<std::string>{"-v", "2"}, {"-d"}, {"-dx"}, {"-s", "My Site"}, {"-sX"}}) {
        RunResult r = run_tovrel(box, args, "q\ny\n");
        EXPECT_EQ(r.out, "tovrel: Terminating\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
    }
}

TEST(Options, ValueOptionLastWithoutValueChangesNothing)
{
    Sandbox box;
    make_site(box);
    for (const char *opt : {"-i", "-o", "-s", "-v"}) {
        RunResult r = run_tovrel(box, {opt});
        EXPECT_EQ(r.out, "tovrel: Terminating\n") << opt;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
    }
    // -v with nothing after it keeps the verbosity set before.
    write_file(box.site + "/in/a.html", page("A"));
    RunResult r = run_tovrel(box, {"-v1", "a", "-v"});
    EXPECT_EQ(r.out, "Building page a ...\ntovrel: Terminating\n");
}

TEST(Options, InputAndOutputDirectoryValueForms)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/src/a.html", page("From src"));
    write_file(box.site + "/other/b.html", page("From other"));
    std::filesystem::create_directories(box.site + "/dst");
    RunResult r = run_tovrel(box, {"-i", "src", "a.html", "-iother", "b.html", "-odst", "a"});
    EXPECT_EQ(r.err, "tovrel: Can't open input file (other/a.html)!\n");
    EXPECT_EQ(r.out, "tovrel: Terminating\n");
    EXPECT_EQ(read_file(box.site + "/out/a.html"), framed_page("From src", "", ""));
    EXPECT_EQ(read_file(box.site + "/out/b.html"), framed_page("From other", "", ""));
    EXPECT_FALSE(file_exists(box.site + "/dst/a.html"));

    // The argument after a bare -i is its value, even when it begins with '-'.
    r = run_tovrel(box, {"-i", "-x", "p", "-o", "-y", "-s", "q.html"});
    EXPECT_EQ(r.err, "tovrel: Can't open input file (-x/p.html)!\n");
    EXPECT_EQ(r.status, 2);
}

TEST(Options, BatchOptionUsesSettingsAsTheyStandThen)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/a.html", page("In"));
    write_file(box.site + "/src/b.html", page("Src"));
    RunResult r = run_tovrel(box, {"-all", "-i", "src"});
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(file_exists(box.site + "/out/a.html"));
    EXPECT_FALSE(file_exists(box.site + "/out/b.html"));
    r = run_tovrel(box, {"-i", "src", "-a"});
    EXPECT_EQ(read_file(box.site + "/out/b.html"), framed_page("Src", "", ""));
}

TEST(Options, VerbosityValueForms)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/a.html", page("A"));
    struct Case {
        std::vector<std::string> args;
        const char *out;
    } cases[] = {
        {{"-v", "1", "a"}, "Building page a ...\n"},
        {{"-v2", "dir/a.html"}, "tovrel: Processing file dir/a.html ...\nBuilding page a ...\n"},
        {{"-v", " 3x", "a.htm"}, "tovrel: Processing file a.htm ...\nBuilding page a ...\n"},
        {{"-v", "abc", "a"}, ""},
        {{"-v", "-5", "a"}, ""},
        {{"-v", "+1", "a"}, "Building page a ...\n"},
        {{"-v", "99999999999999999999", "a"},
         "tovrel: Processing file a ...\nBuilding page a ...\n"},
    };
    for (const Case &c : cases) {
        RunResult r = run_tovrel(box, c.args);
        EXPECT_EQ(r.out, std::string(c.out) + "tovrel: Terminating\n") << c.args[1];
        EXPECT_EQ(r.status, 0);
    }
    // Every -v reaches the engine too: it traces the first build only.
    RunResult r = run_tovrel(box, {"-v", "1", "a", "-v", "0", "a"});
    EXPECT_EQ(r.err, "process_include(PageStart), nargs=2  [PageStart] [A]\n"
                     "process_include(PageHdr), nargs=2  [PageHdr] [A]\n"
                     "process_include(SubMenuStart), nargs=1  [SubMenuStart]\n"
                     "process_include(SubMenuEnd), nargs=1  [SubMenuEnd]\n"
                     "process_include(PageEnd), nargs=1  [PageEnd]\n");
}

TEST(PageArguments, CutAtHtmAndStrippedOfDirectories)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/index.html", page("Index"));
    write_file(box.site + "/in/a.html", page("A"));
    for (const char *arg : {"index.html", "index", "index.htm", "pages/index.htm",
                            "x\\y\\index.html", "/abs/path/index.html.bak", "a.htm.d/b.html"}) {
        std::filesystem::remove_all(box.site + "/out");
        std::filesystem::create_directories(box.site + "/out");
        RunResult r = run_tovrel(box, {"-v", "1", arg});
        std::string name = std::string(arg) == "a.htm.d/b.html" ? "a" : "index";
        EXPECT_EQ(r.out, "Building page " + name + " ...\ntovrel: Terminating\n") << arg;
        EXPECT_EQ(without_traces(r.err), "") << arg;
        EXPECT_EQ(dir_names(box.site + "/out"), std::vector<std::string>{name + ".html"});
    }
    // The cut is case-sensitive: INDEX.HTML names the page INDEX.HTML.
    RunResult r = run_tovrel(box, {"INDEX.HTML"});
    EXPECT_EQ(r.err, "tovrel: Can't open input file (in/INDEX.HTML.html)!\n");
}

TEST(StandardStreams, WriteErrorOnStandardOutputFailsTheRun)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/a.html", page("A"));
    for (std::vector<std::string> args : {std::vector<std::string>{"-v", "1", "a"}, {"-h"}}) {
        RunSpec job;
        job.args = args;
        job.stdout_path = "/dev/full";
        RunResult r = run_tovrel(box, job);
        EXPECT_EQ(without_traces(r.err), "tovrel: Can't write standard output\n") << args[0];
        EXPECT_EQ(r.status, 2);
    }
    EXPECT_EQ(read_file(box.site + "/out/a.html"), framed_page("A", "", ""));
}

TEST(StandardStreams, ClosedStandardOutputAndErrorNeverLandInAPage)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/a.html", page("A", ">Unknown\ntext\n"));
    RunSpec job;
    job.args = {"a"};
    job.close_output = true;
    RunResult r = run_tovrel(box, job);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 2); // the unknown include
    EXPECT_EQ(read_file(box.site + "/out/a.html"), framed_page("A", "", "text\n"));
}
