#include "driver/menu.h"

#include <cstdio>
#include <memory>
#include <string>

#include "driver/batch.h"
#include "driver/do_msg.h"
#include "driver/page_build.h"
#include "driver/settings.h"
#include "support/dir.h"
#include "support/prodlist.h"
#include "support/read_line.h"

namespace {

using AlphaGuard = std::unique_ptr<ProdAlphaList, decltype(&free_alpha_prodlist)>;

// Reads one answer from standard input into *answer without its line end; an answer is
// never cut. Returns false at end of input, leaving the answer empty.
bool read_answer(std::string *answer)
{
    std::fflush(stdout);
    if (!read_whole_line(answer, stdin)) {
        answer->clear();
        return false;
    }
    if (!answer->empty() && answer->back() == '\n')
        answer->pop_back();
    if (!answer->empty() && answer->back() == '\r')
        answer->pop_back();
    return true;
}

// Prints prompt and returns the answer (empty at end of input).
std::string ask(const char *prompt)
{
    std::fputs(prompt, stdout);
    std::string answer;
    read_answer(&answer);
    return answer;
}

// Asks for a setting; an empty answer leaves it unchanged.
void ask_setting(std::string *setting, const char *prompt)
{
    std::string answer = ask(prompt);
    if (!answer.empty())
        *setting = answer;
}

// Lists every name of the input directory, pausing after every 20th; q at a pause stops.
void list_input_dir()
{
    AlphaGuard names(list_files_in_directory(with_subdir(indir).c_str()), &free_alpha_prodlist);
    if (!names)
        std::fputs("No files found in input directory!\n", stderr);
    for (int i = 0; names && i < names->nitems; ++i) {
        std::printf("%s\n", names->item[i]);
        if ((i + 1) % 20 == 0 && pause_for_enter("Press ENTER to continue: ") == 'q')
            break;
    }
    pause_for_enter("Press ENTER to continue: ");
}

void print_status()
{
    std::printf("InDir='%s', OutDir='%s', SubDir='%s', Site='%s'\n", indir.c_str(), outdir.c_str(),
                subdir.c_str(), sitename.c_str());
}

// Asks prompt; true when the answer starts with y or Y.
bool confirmed(const char *prompt)
{
    std::string answer = ask(prompt);
    return answer.starts_with('y') || answer.starts_with('Y');
}

void print_menu()
{
    std::fputs("\nOptions are:\n", stdout);
    std::fputs("\t? - List status\n\tS - Set Site Name\n", stdout);
    std::fputs("\tI - Set Input Directory\n\tO - Set Output Directory\n", stdout);
    std::fputs("\tD - Set subdirectory\n\tL - List Files in Directory\n", stdout);
    std::fputs("\tF - Process File\n\tA - Process All Files in Directory\n", stdout);
    std::fputs("\tQ - Quit\n", stdout);
    std::fputs("\nEnter option: ", stdout);
}

// Carries out the option chosen by the first character of answer. Returns false on a
// confirmed quit.
bool run_menu_option(const std::string &answer)
{
    switch (answer.empty() ? '\0' : answer[0]) {
    case '?':
        print_status();
        break;
    case 'S':
    case 's':
        ask_setting(&sitename, "Enter Site Name: ");
        break;
    case 'I':
    case 'i':
        ask_setting(&indir, "Enter InDir: ");
        break;
    case 'O':
    case 'o':
        ask_setting(&outdir, "Enter OutDir: ");
        break;
    case 'D':
    case 'd':
        subdir = ask("Enter SubDirectory Name: ");
        break;
    case 'L':
    case 'l':
        list_input_dir();
        break;
    case 'F':
    case 'f': {
        std::string page = ask("Enter file to process: ");
        if (!page.empty())
            tovrel(page.c_str());
        break;
    }
    case 'A':
    case 'a':
        bld_all_page();
        break;
    case 'Q':
    case 'q':
        return !confirmed("Are you sure? (y or n): ");
    default:
        std::printf("Invalid option (%s)\n", answer.c_str());
        break;
    }
    return true;
}

} // namespace

void do_interact()
{
    std::string answer = "?";
    while (run_menu_option(answer)) {
        print_menu();
        if (!read_answer(&answer))
            return; // end of input ends the menu like a confirmed quit
    }
}
