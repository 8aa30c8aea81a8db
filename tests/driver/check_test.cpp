// Check mode (-c) from outside: each mistake on a small site of its own, reported at its
// line with its kind, the summary line, the exit status, and nothing written.
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <string>

#include "run_tovrel.h"

namespace {

// The frame and sub-menu macros, all empty: a check of a site with only these is clean.
const std::string frames = ">PageStart\n>\n>PageHdr\n>\n>PageEnd\n>\n"
                           ">SubMenuStart\n>\n>SubMenuItem\n>\n>SubMenuEnd\n>\n";

struct Site {
    std::string library; // appended to frames; "-" for no library at all
    std::map<std::string, std::string> pages;
};

RunResult check_site(const Sandbox &box, const Site &site, std::vector<std::string> args = {"-c"})
{
    if (site.library != "-")
        write_file(box.site + "/include/include.txt", frames + site.library);
    std::filesystem::create_directories(box.site + "/in");
    std::filesystem::create_directories(box.site + "/out");
    for (const auto &[name, text] : site.pages)
        write_file(box.site + "/in/" + name, text);
    return run_tovrel(box, args);
}

const char *const terminating = "tovrel: Terminating\n";

} // namespace

TEST(CheckMode, EachMistakeIsReportedAtItsLine)
{
    const std::string lib = "include/include.txt:";
    struct Case {
        Site site;
        std::string err;
        std::string summary;
    } cases[] = {
        // An unknown include at the page line, and inside macros with the way there.
        {{">Outer\n>Inner\n>\n>Inner\n>Fotto|x\n>\n", {{"a.html", "T\n\n>Foto\n>Outer\n"}}},
         "in/a.html:3: error: unknown include 'Foto': the library defines no such macro\n" + lib +
             "17: error: unknown include 'Fotto': the library defines no such macro\n" + lib +
             "14: note: 'Inner' is included here\n"
             "in/a.html:4: note: 'Outer' is included here\n",
         "1 pages checked: 2 errors, 0 warnings\n"},
        // A cycle, at the include that set it off.
        {{">Ping\n>Pong\n>\n>Pong\n>PING\n>\n", {{"a.html", "T\n\nx\n>Ping\n"}}},
         "in/a.html:4: error: include nesting too deep (over 100 levels) (PING -> Pong -> PING)\n" +
             lib + "17: note: the limit is met here, in 'Pong'\n",
         "1 pages checked: 1 errors, 0 warnings\n"},
        {{"", {{"a.html", "T\n\n>!unset|x\n"}}},
         "in/a.html:3: error: invalid command 'unset|x' (set, clear or if)\n",
         "1 pages checked: 1 errors, 0 warnings\n"},
        {{"-", {}},
         "Can't open include file (include/include.txt)\n"
         "include/include.txt: error: can't open the include library: No such file or "
         "directory\n",
         "0 pages checked: 1 errors, 0 warnings\n"},
        {{"", {{"a.html", ""}}},
         "in/a.html:1: error: the page file is empty: its build fails\n",
         "1 pages checked: 1 errors, 0 warnings\n"},
        {{">Open\nx\n", {}},
         lib + "13: warning: macro 'Open' has no closing line: it runs to the end of the file\n" +
             lib + "13: warning: macro 'Open' is never included\n",
         "0 pages checked: 0 errors, 2 warnings\n"},
        {{">Twice\n1\n>\n>TWICE\n2\n>\n", {{"a.html", "T\n\n>twice\n"}}},
         "Macro twice overridden by new version\n" + lib +
             "16: warning: macro 'twice' is defined twice\n" + lib +
             "13: note: 'twice' is first defined here\n",
         "1 pages checked: 0 errors, 1 warnings\n"},
        {{">Set\n>!set|colour|red\n>\n>Show\n$[colour]\n>\n",
          {{"a.html", "A\n\n>Set\n>Show\n"}, {"b.html", "B\n\n>Show\n"}}},
         lib +
             "17: warning: $[colour] is set by an earlier page, not by this one: its value "
             "depends on the build order (-u or a one-page build gives another)\n" +
             lib + "14: note: $[colour] is set here\n",
         "2 pages checked: 0 errors, 1 warnings\n"},
        {{"", {{"a.html", "T\n>SubLink|x|y\n  ]PageEnd\n"}}},
         "in/a.html:2: warning: sub-link line among the header lines is copied as text: is the "
         "empty line after the title missing?\n"
         "in/a.html:3: warning: include line among the header lines is copied as text: is the "
         "empty line after the title missing?\n",
         "1 pages checked: 0 errors, 2 warnings\n"},
        {{">Img\n<img src=\"$[1]\">\n>\n",
          {{"a.html",
            "T\n\n<a href='b.html#top'>b</a> <a href=\"x/../c.html?q\">c</a>\n>Img|d.png\n"
            "<a href=\"b.html\">"},
           {"b.html", "B\n\n<a HREF=../up.html> <a href=\"http://e/\"> <a href=\"#f\">\n"}}},
         "in/a.html:3: warning: link 'x/../c.html?q' leads to no page of the input directory and "
         "no file of the output directory\n" +
             lib +
             "14: warning: link 'd.png' leads to no page of the input directory and no "
             "file of the output directory\n"
             "in/b.html:3: warning: link '../up.html' leads outside the site\n",
         "2 pages checked: 0 errors, 3 warnings\n"},
        // A closing line with a blank after '>', and a macro left open before '>Card'.
        {{">Gallery\n<div>\n> \n>Photo\n<img>\n>\n>Card\n>\n",
          {{"a.html", "T\n\n>Gallery\n>Photo\n>Card\n"}}},
         lib +
             "13: warning: macro 'Gallery' is probably missing its closing line: '>Photo' at "
             "line 16 names no macro and was meant to open a definition\n" +
             lib + "16: note: '>Photo' is read as a line of 'Gallery'\n" + lib +
             "15: warning: '>' followed by blanks does not close a macro; only '>' alone does\n" +
             lib +
             "15: error: unknown include ' ': the library defines no such macro\n"
             "in/a.html:3: note: 'Gallery' is included here\n" +
             lib +
             "16: error: unknown include 'Photo': the library defines no such macro\n"
             "in/a.html:3: note: 'Gallery' is included here\n" +
             lib +
             "16: note: '>Photo' here is a line of the macro before it\n"
             "in/a.html:4: error: unknown include 'Photo': the library defines no such "
             "macro\n" +
             lib + "16: note: '>Photo' here is a line of the macro before it\n",
         "1 pages checked: 3 errors, 2 warnings\n"},
        // Mistakes a build passes in silence: a variable nothing sets (arguments and a set met
        // later are fine), an include short of an argument its macro writes (one it only
        // tests or passes on is optional), a misspelt macro, a sub-link line in a macro.
        {{">Byline\nby $[autor] $[later] $[arg7] $[nargs]\n>!set|author|Ann\n>\n"
          ">Cake\n<p>$[1] $[2] $[3]</p>\n<i>$[4]</i>\n>!if|$[5]|==||no|$[5]\n>Card|$[6]\n>\n"
          ">Card\n>\n>Menu\n>SubLink|Home|index.html\n>\n>SubLink\n>\n",
          {{"a.html", "T\n\n>Byline\n>!set|later|x\n>Cake|Cheesecake|Baked|5.00\n>Cake|a|b|c|d\n"
                      ">Cakes|x\n>Menu\n"}}},
         "in/a.html:5: warning: include 'Cake' gives 3 arguments, but the macro writes $[4]: it is "
         "written empty\n" +
             lib +
             "19: note: 'Cake' writes $[4] here\n"
             "in/a.html:7: error: unknown include 'Cakes': the library defines no such macro; did "
             "you mean 'Cake'?\n" +
             lib +
             "26: warning: '>SubLink' in a macro adds no sub-menu item: only a page's own "
             "sub-link lines do\n"
             "in/a.html:8: note: 'Menu' is included here\n" +
             lib +
             "14: warning: $[autor] is never set: no page or macro sets it, so it is always "
             "empty; did you mean 'author'?\n",
         "1 pages checked: 1 errors, 3 warnings\n"},
        // A condition that never holds, said once for the macro line whatever includes it, and
        // one a build writes nothing for.
        {{">Nav\n>!if|$[1]|=<|b|<b>x</b>|<a>x</a>\n>\n",
          {{"a.html", "A\n\n>Nav|a\n>!if|x|y\n"}, {"b.html", "B\n\n>Nav|b\n"}}},
         lib +
             "14: warning: unknown operator '=<' in 'if' (<, <=, ==, =, >, >=, !=, <>): the "
             "condition never holds, so the false text is always written\n"
             "in/a.html:3: note: 'Nav' is included here\n"
             "in/a.html:4: warning: 'if' has only 2 of its five fields (value|operator|value|true "
             "text|false text): a build writes nothing for it\n",
         "2 pages checked: 0 errors, 2 warnings\n"},
        // A huge name is shown by its first 200 bytes.
        {{"", {{"a.html", "T\n\n>" + std::string(300, 'x') + "\n"}}},
         "in/a.html:3: error: unknown include '" + std::string(200, 'x') +
             "...': the library defines no such macro\n",
         "1 pages checked: 1 errors, 0 warnings\n"},
    };
    for (const Case &c : cases) {
        Sandbox box;
        RunResult r = check_site(box, c.site);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, c.summary + terminating);
        EXPECT_EQ(r.status, c.summary.find(": 0 errors") == std::string::npos ? 2 : 0) << c.err;
        EXPECT_TRUE(dir_names(box.site + "/out").empty()) << c.err;
    }
}

TEST(CheckMode, LinksOfALibraryLineAreGrouped)
{
    // Each page gives one macro line and the sub-menu item line a link of its own that leads
    // nowhere: three of each are shown (the sub-menu's at the page's sub-link line), the rest
    // counted. A link met again at the same place is not counted again.
    Site site = {"-", {}};
    for (char n = '1'; n <= '5'; n++)
        site.pages[std::string("p") + n + ".html"] = std::string("T\n\n>Pic|gone") + n +
                                                     ".png\n>SubLink|Lost|lost" + n +
                                                     ".html\n>Pic|gone" + n + ".png\n";
    Sandbox box;
    write_file(box.site + "/include/include.txt",
               ">PageStart\n>\n>PageHdr\n>\n>PageEnd\n>\n>SubMenuStart\n>\n>SubMenuItem\n"
               "<a href=\"$[2]\">$[1]</a>\n>\n>SubMenuEnd\n>\n>SubLink\n>\n>Pic\n<img "
               "src=\"$[1]\">\n>\n");
    RunResult r = check_site(box, site);
    std::string err;
    const std::string missing =
        "' leads to no page of the input directory and no file of the output directory\n";
    for (char n = '1'; n <= '3'; n++)
        err += "include/include.txt:17: warning: link 'gone" + std::string(1, n) + ".png" +
               missing + "in/p" + n + ".html:4: warning: link 'lost" + n + ".html" + missing +
               "include/include.txt:10: note: the sub-menu item is written here\n";
    EXPECT_EQ(r.err, err + "include/include.txt:17: note: 2 more links written here lead nowhere\n"
                           "include/include.txt:10: note: 2 more links written here lead "
                           "nowhere\n");
    EXPECT_EQ(r.out, "5 pages checked: 0 errors, 6 warnings\n" + std::string(terminating));
    EXPECT_EQ(r.status, 0);
}

TEST(CheckMode, TheBuildsOwnIncludesAreFaultsOfTheLibrary)
{
    // Every page meets them alike: said once, at the library, however many pages there are.
    Sandbox box;
    write_file(box.site + "/include/include.txt",
               ">PageStart\n<title>$[1] $[2]</title>\n>\n>PageEnd\n>\n>SubMenuStart\n>\n"
               ">SubMenuItem\n>\n>SubMenuEnd\n>\n");
    RunResult r = check_site(box, {"-", {{"a.html", "A\n\nx\n"}, {"b.html", "B\n\ny\n"}}});
    EXPECT_EQ(r.err, "include/include.txt:2: warning: the build includes 'PageStart' with 1 "
                     "argument, but the macro writes $[2]: it is always written empty\n"
                     "include/include.txt: error: the library defines no macro 'PageHdr', which "
                     "the build includes on every page\n");
    EXPECT_EQ(r.out, "2 pages checked: 1 errors, 1 warnings\n" + std::string(terminating));
    EXPECT_EQ(r.status, 2);
}

TEST(CheckMode, DirectoriesABuildCannotUse)
{
    Sandbox box;
    RunResult r =
        check_site(box, {"", {{"a.html", "T\n"}}}, {"-c", "-o", "in", "-c", "-ogone", "-c"});
    EXPECT_EQ(r.err, "in: error: the input and output directories are the same: a build writes "
                     "nothing\n"
                     "gone: error: the output directory is missing: No such file or directory\n");
    EXPECT_EQ(r.out, "1 pages checked: 0 errors, 0 warnings\n0 pages checked: 1 errors, 0 "
                     "warnings\n1 pages checked: 1 errors, 0 warnings\n" +
                         std::string(terminating));
    EXPECT_EQ(r.status, 2);

    if (!file_modes_obeyed(box.root))
        GTEST_SKIP() << "permission bits are not obeyed here (root): the unwritable output "
                        "directory goes unchecked";
    chmod((box.site + "/out").c_str(), 0555);
    RunSpec job;
    job.args = {"-c"};
    job.obey_file_modes = true;
    r = run_tovrel(box, job);
    chmod((box.site + "/out").c_str(), 0755);
    EXPECT_EQ(r.err, "out: error: the output directory cannot be written: Permission denied\n");
    EXPECT_EQ(r.status, 2);
}

TEST(CheckMode, BuildsAfterACheckAsWithoutIt)
{
    // Each page shows the title of the page built before it: a check that left its variables
    // behind would change what the second -a builds. (Page b's $[last] is set by page a.)
    Site site = {">Show\n<prev $[last]>\n>!set|last|$[1]\n>\n",
                 {{"a.html", "A\n\n>Show|a\n"}, {"b.html", "B\n\n>Show|b\n"}}};
    Sandbox plain, checked;
    check_site(plain, site, {"-a", "-a"});
    RunResult r = check_site(checked, site, {"-a", "-c", "-a"});
    EXPECT_EQ(r.status, 0);
    for (const char *page : {"/out/a.html", "/out/b.html"})
        EXPECT_EQ(read_file(checked.site + page), read_file(plain.site + page)) << page;
    EXPECT_EQ(read_file(checked.site + "/out/a.html"), "<prev b>\n");
    EXPECT_EQ(r.out, "2 pages checked: 0 errors, 1 warnings\n" + std::string(terminating));
}

TEST(CheckMode, ExampleSiteIsClean)
{
    Sandbox box;
    std::filesystem::copy(std::string(TOVREL_SOURCE_DIR) + "/examples/include",
                          box.site + "/include");
    std::filesystem::copy(std::string(TOVREL_SOURCE_DIR) + "/examples/in", box.site + "/in");
    std::filesystem::create_directories(box.site + "/out");
    RunResult r = run_tovrel(box, {"-c"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "3 pages checked: 0 errors, 0 warnings\n" + std::string(terminating));
    EXPECT_EQ(r.status, 0);
}
