// Building one page: the order of the output, title and header lines, empty and missing
// inputs, the directory and same-file guards, and the safe replacement of the output page.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_tovrel.h"

namespace {

const std::string some_page = "T\n\nbody\n";

std::vector<std::string> only(const std::string &name)
{
    return std::vector<std::string>{name};
}

// A page file and the page built from it.
struct PageCase {
    std::string file;
    std::string out;
};

// Builds each case's file as the page p and compares the page made.
template <size_t N> void expect_pages(const Sandbox &box, const PageCase (&cases)[N])
{
    for (const PageCase &c : cases) {
        write_file(box.site + "/in/p.html", c.file);
        RunResult r = run_tovrel(box, {"p"});
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(read_file(box.site + "/out/p.html"), c.out) << c.file.substr(0, 20);
    }
}

} // namespace

TEST(PageBuild, FrameHeaderBodyAndSubMenuInOrder)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/news.html", "Latest news\nmeta keywords=news\n\nHello\n"
                                           ">SubLink|Archive|archive.html\n");
    RunResult r = run_tovrel(box, {"news"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "tovrel: Terminating\n");
    EXPECT_EQ(read_file(box.site + "/out/news.html"),
              "<start 2:Latest news:>\nmeta keywords=news\n<hdr Latest news>\nHello\n"
              "<link Archive archive.html>\n<menu>\n<item Archive archive.html>\n</menu>\n"
              "<end>\n");
}

TEST(PageBuild, TitleIsTheWholeFirstLineUpToCrOrLf)
{
    Sandbox box;
    make_site(box);
    std::string long_title(3000, 't');
    const PageCase cases[] = {
        {"  Blanks kept \n\nx\n", framed_page("  Blanks kept ", "", "x\n")},
        {"Only a title", framed_page("Only a title", "", "")},
        {"Dos\r\nh1\r\n\r\nb\r\n", framed_page("Dos", "h1\r\n", "b\r\n")},
        {"Cut\rhere\nh\n\n", framed_page("Cut", "h\n", "")},
        {"A|B\n\n", "<start 3:A:B>\n<hdr A>\n<menu>\n</menu>\n<end>\n"},
        {long_title + "\nh\n\nb\n", framed_page(long_title, "h\n", "b\n")},
    };
    expect_pages(box, cases);
}

TEST(PageBuild, HeaderLinesAreCopiedWholeUntilAnEmptyLine)
{
    Sandbox box;
    make_site(box);
    std::string h511(511, 'h'), h600(600, 'g');
    std::string nul_inside = std::string("a\0b\n", 4);
    const PageCase cases[] = {
        {"T\nh1\nh2\n", framed_page("T", "h1\nh2\n", "")},
        {"T\nh1\nlast", framed_page("T", "h1\nlast", "")},
        {"T\n \t\nh\n\nb\n", framed_page("T", " \t\nh\n", "b\n")},
        {"T\n" + h511 + "\nh\n\nb\n", framed_page("T", h511 + "\nh\n", "b\n")},
        {"T\n" + h600 + "\n\n" + h600 + "\n", framed_page("T", h600 + "\n", h600 + "\n")},
        {"T\n" + nul_inside + "\n", framed_page("T", nul_inside, "")},
        {"T\nh\n" + std::string("\0rest\nb\n", 8), framed_page("T", "h\n", "b\n")},
        {"T\nh\n\rx\nb\n", framed_page("T", "h\n", "b\n")},
        {"T\n\n\nb\n", framed_page("T", "", "\nb\n")},
    };
    expect_pages(box, cases);
}

TEST(PageBuild, EmptyInputFailsAndKeepsTheEarlierPage)
{
    // Where no page stood, an empty one is made; a page that stood is kept.
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/e.html", "");
    write_file(box.site + "/in/f.html", "\xEF\xBB\xBF");
    write_file(box.site + "/out/e.html", "old page\n");
    RunResult r = run_tovrel(box, {"-v", "1", "e.html", "f"});
    EXPECT_EQ(r.out, "Building page e ...\nBuilding page f ...\ntovrel: Terminating\n");
    EXPECT_EQ(r.err, "tovrel: input file is empty (e)\ntovrel: input file is empty (f)\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(read_file(box.site + "/out/e.html"), "old page\n");
    EXPECT_TRUE(file_exists(box.site + "/out/f.html"));
    EXPECT_EQ(read_file(box.site + "/out/f.html"), "");
    EXPECT_EQ(dir_names(box.site + "/out"), (std::vector<std::string>{"e.html", "f.html"}));
}

TEST(PageBuild, MissingInputLeavesTheOutputUntouched)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/out/gone.html", "old page\n");
    std::filesystem::create_directories(box.site + "/in/dir.html");
    RunResult r = run_tovrel(box, {"gone", "new", "dir"});
    EXPECT_EQ(r.err, "tovrel: Can't open input file (in/gone.html)!\n"
                     "tovrel: Can't open input file (in/new.html)!\n"
                     "tovrel: Can't open input file (in/dir.html)!\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(read_file(box.site + "/out/gone.html"), "old page\n");
    EXPECT_EQ(dir_names(box.site + "/out"), only("gone.html"));
}

TEST(PageBuild, EqualDirectoriesBuildNothing)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/a.html", some_page);
    RunResult r = run_tovrel(box, {"-v", "1", "-o", "in", "a", "-i", "out", "-o", "OUT", "a"});
    EXPECT_EQ(r.out, "Building page a ...\nBuilding page a ...\ntovrel: Terminating\n");
    EXPECT_EQ(r.err, "tovrel: Input & Output Directories must be different!\n(in) and (in)\n"
                     "tovrel: Can't open input file (out/a.html)!\n");
    EXPECT_EQ(read_file(box.site + "/in/a.html"), some_page);
}

TEST(PageBuild, PageIsNeverBuiltOntoItsOwnSource)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/a.html", some_page);
    write_file(box.site + "/in/b.html", "B\n");
    std::filesystem::create_directory_symlink("in", box.site + "/mirror");
    RunResult r = run_tovrel(
        box, {"-o", "in/", "a", "-o", "./in", "b", "-o", "mirror", "a", "-o", "out", "b"});
    EXPECT_EQ(r.err, "tovrel: Input and output are the same file (in/a.html)!\n"
                     "tovrel: Input and output are the same file (in/b.html)!\n"
                     "tovrel: Input and output are the same file (in/a.html)!\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(read_file(box.site + "/in/a.html"), some_page);
    EXPECT_EQ(read_file(box.site + "/in/b.html"), "B\n");
    EXPECT_EQ(dir_names(box.site + "/in"), (std::vector<std::string>{"a.html", "b.html"}));
    EXPECT_EQ(read_file(box.site + "/out/b.html"), framed_page("B", "", ""));
}

TEST(PageBuild, OutputThatCannotBeCreated)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/a.html", some_page);
    std::filesystem::create_directories(box.site + "/out/a.html");
    RunResult r = run_tovrel(box, {"a", "-o", "missing", "a"});
    EXPECT_EQ(r.err, "tovrel: Can't open output file (out/a.html)!\n"
                     "tovrel: Can't open output file (missing/a.html)!\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(std::filesystem::is_directory(box.site + "/out/a.html"));
    EXPECT_EQ(dir_names(box.site + "/out"), only("a.html"));
    EXPECT_FALSE(file_exists(box.site + "/missing"));
}

TEST(PageBuild, NewPageGetsUmaskBitsAndOldPageKeepsItsBits)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/a.html", some_page);
    write_file(box.site + "/in/b.html", some_page);
    write_file(box.site + "/out/b.html", "old\n");
    // Group-writable: every umask tried but 0 would take a bit from a plainly created file.
    ASSERT_EQ(chmod((box.site + "/out/b.html").c_str(), 0664), 0);
    for (mode_t mask : {022, 027, 0}) {
        std::filesystem::remove(box.site + "/out/a.html");
        RunSpec job;
        job.args = {"a", "b"};
        job.umask_bits = mask;
        RunResult r = run_tovrel(box, job);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(file_mode(box.site + "/out/a.html"), 0666 & ~mask);
        EXPECT_EQ(file_mode(box.site + "/out/b.html"), 0664u);
        EXPECT_EQ(read_file(box.site + "/out/b.html"), framed_page("T", "", "body\n"));
        EXPECT_EQ(dir_names(box.site + "/out"), (std::vector<std::string>{"a.html", "b.html"}));
    }
}

TEST(PageBuild, LinkedOutputPageIsReplacedNeverWrittenThrough)
{
    // Links to the page's own source, to another page's source, to a published copy and to
    // nothing: each is replaced by a new page, and no file a link points to is written.
    Sandbox box;
    make_site(box);
    const std::vector<std::string> targets = {"../in/a.html", "../in/b.html", "../pub/c.html",
                                              "nowhere"};
    for (char page = 'a'; page <= 'd'; page++) {
        std::string name(1, page);
        write_file(box.site + "/in/" + name + ".html", name + "\n\nbody\n");
        ASSERT_EQ(
            symlink(targets[page - 'a'].c_str(), (box.site + "/out/" + name + ".html").c_str()), 0);
    }
    write_file(box.site + "/pub/c.html", "published\n");
    RunSpec job;
    job.args = {"a", "c", "d"};
    job.umask_bits = 027;
    RunResult r = run_tovrel(box, job);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    for (const char *name : {"a", "c", "d"}) {
        std::string out = box.site + "/out/" + name + ".html";
        EXPECT_FALSE(std::filesystem::is_symlink(out)) << name;
        EXPECT_EQ(read_file(out), framed_page(name, "", "body\n"));
        EXPECT_EQ(file_mode(out), 0640u);
    }
    EXPECT_TRUE(std::filesystem::is_symlink(box.site + "/out/b.html"));
    EXPECT_EQ(read_file(box.site + "/in/a.html"), "a\n\nbody\n");
    EXPECT_EQ(read_file(box.site + "/in/b.html"), "b\n\nbody\n");
    EXPECT_EQ(read_file(box.site + "/pub/c.html"), "published\n");
    EXPECT_EQ(dir_names(box.site + "/pub"), only("c.html"));
    EXPECT_EQ(dir_names(box.site + "/out"),
              (std::vector<std::string>{"a.html", "b.html", "c.html", "d.html"}));
}

TEST(PageBuild, VariablesSetByOnePageAreSeenByTheNext)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/include/include.txt",
               std::string(test_library()) + ">Keep\n>!set|kept|$[1]\n>\n>Show\n[$[kept]]\n>\n");
    write_file(box.site + "/in/a.html", "A\n\n>Keep|from a\n");
    write_file(box.site + "/in/b.html", "B\n\n>Show\n");
    for (std::vector<std::string> args : {std::vector<std::string>{"b"}, {"a", "b"}, {"-a"}}) {
        RunResult r = run_tovrel(box, args);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(read_file(box.site + "/out/b.html"),
                  framed_page("B", "", args[0] == "b" ? "[]\n" : "[from a]\n"))
            << args[0];
    }
}
