// The interactive menu, driven through standard input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_tovrel.h"

namespace {

const std::string menu = "\nOptions are:\n"
                         "\t? - List status\n\tS - Set Site Name\n"
                         "\tI - Set Input Directory\n\tO - Set Output Directory\n"
                         "\tD - Set subdirectory\n\tL - List Files in Directory\n"
                         "\tF - Process File\n\tA - Process All Files in Directory\n"
                         "\tQ - Quit\n"
                         "\nEnter option: ";

const char pause_prompt[] = "Press ENTER to continue: ";

std::string status(const std::string &in, const std::string &out, const std::string &sub,
                   const std::string &site)
{
    return "InDir='" + in + "', OutDir='" + out + "', SubDir='" + sub + "', Site='" + site + "'\n";
}

const std::string opening = status("in", "out", "", "") + menu;

// The lines of a listing of names n00.html to n<count-1>.html, with a pause after every 20th;
// the pause answers are taken from stops (true: the answer stops the listing).
std::string listing(int count, int stop_after = -1)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "n%02d.html\n", i);
        text += name;
        if ((i + 1) % 20 == 0) {
            text += pause_prompt;
            if (i + 1 == stop_after)
                break;
        }
    }
    return text + pause_prompt;
}

} // namespace

TEST(Menu, OpensWithStatusAndEndsAtEndOfInput)
{
    Sandbox box;
    RunResult r = run_tovrel(box, {}, "");
    EXPECT_EQ(r.out, opening);
    EXPECT_EQ(r.err, "Can't open include file (include/include.txt)\n");
    EXPECT_EQ(r.status, 0);
}

TEST(Menu, SettingsAreShownAndChanged)
{
    Sandbox box;
    make_site(box);
    std::string long_name(2000, 'n');
    RunResult r = run_tovrel(box, {}, "s\nMy Site\ni\nsrc\nOut\ndst\nd\nsub\n?\n");
    EXPECT_EQ(r.out, opening + "Enter Site Name: " + menu + "Enter InDir: " + menu +
                         "Enter OutDir: " + menu + "Enter SubDirectory Name: " + menu +
                         status("src", "dst", "sub", "My Site") + menu);
    EXPECT_EQ(r.status, 0);

    // Empty answers leave I, O and S alone; D is emptied. Answers are never cut.
    r = run_tovrel(box, {}, "d\nsub\ns\n" + long_name + "\r\ns\n\ni\n\no\n\nD\n\n?\n");
    EXPECT_EQ(r.out, opening + "Enter SubDirectory Name: " + menu + "Enter Site Name: " + menu +
                         "Enter Site Name: " + menu + "Enter InDir: " + menu +
                         "Enter OutDir: " + menu + "Enter SubDirectory Name: " + menu +
                         status("in", "out", "", long_name) + menu);
    EXPECT_EQ(r.err, "");
}

TEST(Menu, OnlyTheFirstCharacterCountsAndOthersAreInvalid)
{
    Sandbox box;
    make_site(box);
    RunResult r = run_tovrel(box, {}, "\nu\n?xyz\n Q\n");
    EXPECT_EQ(r.out, opening + "Invalid option ()\n" + menu + "Invalid option (u)\n" + menu +
                         status("in", "out", "", "") + menu + "Invalid option ( Q)\n" + menu);
    EXPECT_EQ(r.status, 0);
}

TEST(Menu, QuitNeedsConfirmation)
{
    Sandbox box;
    make_site(box);
    const std::string ask = "Are you sure? (y or n): ";
    RunResult r = run_tovrel(box, {}, "q\nn\nQ\n\nq\nNo\nQ\nyes\n?\n");
    EXPECT_EQ(r.out, opening + ask + menu + ask + menu + ask + menu + ask);
    EXPECT_EQ(r.status, 0);
    r = run_tovrel(box, {}, "q\nY\n?\n");
    EXPECT_EQ(r.out, opening + ask);
    // End of input at the confirmation is an empty answer; then the option prompt ends it.
    r = run_tovrel(box, {}, "q\n");
    EXPECT_EQ(r.out, opening + ask + menu);
    EXPECT_EQ(r.status, 0);
}

TEST(Menu, EndOfInputAtAPromptIsAnEmptyAnswer)
{
    Sandbox box;
    make_site(box);
    struct Case {
        const char *answer;
        const char *prompt;
    } cases[] = {{"s\n", "Enter Site Name: "},
                 {"i\n", "Enter InDir: "},
                 {"o\n", "Enter OutDir: "},
                 {"f\n", "Enter file to process: "},
                 {"l\n", pause_prompt}};
    for (const Case &c : cases) {
        RunResult r = run_tovrel(box, {}, c.answer);
        EXPECT_EQ(r.out, opening + c.prompt + menu) << c.answer;
        EXPECT_EQ(r.status, 0);
    }
    RunResult r = run_tovrel(box, {}, "d\nsub\nd\n");
    EXPECT_EQ(r.out,
              opening + "Enter SubDirectory Name: " + menu + "Enter SubDirectory Name: " + menu);
}

TEST(Menu, ProcessFileAndAllFiles)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/news.html", "News\n\nhello\n");
    write_file(box.site + "/in/sub/page.html", "Sub page\n\n");
    write_file(box.site + "/in/sub/other.html", "Other\n\n");
    std::filesystem::create_directories(box.site + "/out/sub");
    const std::string ask = "Enter file to process: ";
    RunResult r = run_tovrel(box, {}, "f\nnews.html\nF\n\nf\nsub/page\n");
    EXPECT_EQ(r.out, opening + ask + menu + ask + menu + ask + menu);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(box.site + "/out/news.html"), framed_page("News", "", "hello\n"));
    EXPECT_EQ(read_file(box.site + "/out/sub/page.html"), framed_page("Sub page", "", ""));
    EXPECT_FALSE(file_exists(box.site + "/out/sub/other.html"));

    r = run_tovrel(box, {}, "d\nsub\nAll\n");
    EXPECT_EQ(r.out, opening + "Enter SubDirectory Name: " + menu + menu);
    EXPECT_EQ(read_file(box.site + "/out/sub/other.html"), framed_page("Other", "", ""));
    EXPECT_EQ(dir_names(box.site + "/out"), (std::vector<std::string>{"news.html", "sub"}));
}

TEST(Menu, EqualDirectoriesStopBuildsButNotTheListing)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/a.html", "A\n");
    RunResult r = run_tovrel(box, {}, "o\nin\nf\na\na\nl\n\n");
    EXPECT_EQ(r.out, opening + "Enter OutDir: " + menu + "Enter file to process: " + menu + menu +
                         "a.html\n" + pause_prompt + menu);
    EXPECT_EQ(r.err, "tovrel: Input & Output Directories must be different!\n(in) and (in)\n"
                     "tovrel: Input & Output Directories must be different!\n(in) and (in)\n");
    EXPECT_EQ(dir_names(box.site + "/in"), std::vector<std::string>{"a.html"});
}

TEST(Menu, ListingPausesAfterEvery20Names)
{
    Sandbox box;
    make_site(box);
    for (int i = 0; i < 45; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/in/n%02d.html", i);
        write_file(box.site + name, "x\n");
    }
    RunResult r = run_tovrel(box, {}, "l\n\n\n\n");
    EXPECT_EQ(r.out, opening + listing(45) + menu);
    // q stops the listing; Q does not; the closing pause follows in every case.
    r = run_tovrel(box, {}, "L\nQ\nq\n\n");
    EXPECT_EQ(r.out, opening + listing(45, 40) + menu);
    r = run_tovrel(box, {}, "l\nquit\n\n");
    EXPECT_EQ(r.out, opening + listing(45, 20) + menu);
    // End of input at the pauses: the listing runs to its end and the menu ends.
    r = run_tovrel(box, {}, "l\n");
    EXPECT_EQ(r.out, opening + listing(45) + menu);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

TEST(Menu, ListingShowsEveryNameOfTheSubdirectory)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/sub/notes.txt", "");
    write_file(box.site + "/in/sub/.hidden", "");
    std::filesystem::create_directories(box.site + "/in/sub/deeper");
    RunResult r = run_tovrel(box, {}, "d\nsub\nl\n\nd\nnone\nl\n\n");
    EXPECT_EQ(r.out, opening + "Enter SubDirectory Name: " + menu + "deeper\nnotes.txt\n" +
                         pause_prompt + menu + "Enter SubDirectory Name: " + menu + pause_prompt +
                         menu);
    EXPECT_EQ(r.err, "No files found in input directory!\n");
}
