#include "driver/tovrel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "engine/bld_html.h"
#include "support/dir.h"
#include "support/prodlist.h"
#include "support/read_line.h"

std::string Prog;
int debugsw = 0;
int verbose = 0;
std::string indir = "in";
std::string outdir = "out";
std::string subdir;
std::string sitename;

namespace {

using AlphaGuard = std::unique_ptr<ProdAlphaList, decltype(&free_alpha_prodlist)>;
using InputGuard = std::unique_ptr<FILE, decltype(&std::fclose)>;

// The bits a plainly created file gets: 0666 less the umask. Reading the umask means setting
// it, so it is read once, when the program starts.
mode_t read_new_page_mode()
{
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}
const mode_t new_page_mode = read_new_page_mode();

// dir, then subdir when one is set: the directory that holds the pages.
std::string with_subdir(const std::string &dir)
{
    return subdir.empty() ? dir : dir + "/" + subdir;
}

// The path of the page name below dir (indir or outdir). Settings are used as they stand, so
// a directory that ends in '/' gives a doubled separator.
std::string page_path(const std::string &dir, const char *name)
{
    std::string path = with_subdir(dir);
    path += '/';
    path += name;
    path += ".html";
    return path;
}

// A page being written: a temporary file beside the page, renamed over it when complete.
struct PageOutput {
    std::string path; // the file to replace (a linked page's target)
    std::string temp; // the temporary file, its name beginning with '.'
    FILE *fp = nullptr;
};

// Looks at what stands at outpath now. Returns false when nothing does; otherwise fills *st.
// A link is followed: *target becomes the file it points to, which is the one replaced, so
// the link stays. Otherwise *target is outpath itself.
bool stat_output(const std::string &outpath, struct stat *st, std::string *target)
{
    *target = outpath;
    if (lstat(outpath.c_str(), st) != 0)
        return false;
    if (!S_ISLNK(st->st_mode))
        return true;
    std::unique_ptr<char, decltype(&std::free)> real(realpath(outpath.c_str(), nullptr),
                                                     &std::free);
    if (real)
        *target = real.get();
    return stat(outpath.c_str(), st) == 0;
}

// Creates the temporary file for out->path with the given permission bits. Returns false
// (nothing left behind) when it cannot be created.
bool create_temp_output(PageOutput *out, mode_t mode)
{
    out->temp = out->path.substr(0, out->path.rfind('/') + 1) + ".tovrel-XXXXXX";
    std::vector<char> name(out->temp.begin(), out->temp.end());
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0)
        return false;
    out->temp = name.data();
    if (fchmod(fd, mode) != 0 || (out->fp = fdopen(fd, "w")) == nullptr) {
        close(fd);
        unlink(out->temp.c_str());
        return false;
    }
    return true;
}

// Makes ready to write the page outpath for the input inpath (whose status is in_st).
// Returns false, with a message, when the page must not or cannot be written: it is the
// input itself, or it cannot be created.
bool open_page_output(const struct stat &in_st, const std::string &inpath,
                      const std::string &outpath, PageOutput *out)
{
    struct stat out_st;
    bool exists = stat_output(outpath, &out_st, &out->path);
    if (exists && in_st.st_dev == out_st.st_dev && in_st.st_ino == out_st.st_ino) {
        std::fprintf(stderr, "%s: Input and output are the same file (%s)!\n", Prog.c_str(),
                     inpath.c_str());
        return false;
    }
    if ((exists && !S_ISREG(out_st.st_mode)) ||
        !create_temp_output(out, exists ? (out_st.st_mode & 07777) : new_page_mode)) {
        std::fprintf(stderr, "%s: Can't open output file (%s)!\n", Prog.c_str(), outpath.c_str());
        return false;
    }
    return true;
}

// Drops the page being written; the old page stays as it was.
void abandon_page_output(PageOutput *out)
{
    std::fclose(out->fp);
    unlink(out->temp.c_str());
}

// Closes the written page and puts it in place of the old one. On any write error the
// temporary file is removed, the old page stays, and the error is reported with outpath.
void finish_page_output(PageOutput *out, const std::string &outpath)
{
    bool ok = std::ferror(out->fp) == 0;
    ok = std::fclose(out->fp) == 0 && ok;
    if (ok && std::rename(out->temp.c_str(), out->path.c_str()) == 0)
        return;
    std::fprintf(stderr, "%s: Can't write output file (%s)!\n", Prog.c_str(), outpath.c_str());
    unlink(out->temp.c_str());
}

// Copies the header lines, whole whatever their length, up to the first line that begins
// with LF, CR or NUL; that line is consumed and not copied.
void copy_header_lines(FILE *outf, FILE *inf)
{
    std::string line;
    while (read_whole_line(&line, inf)) {
        if (line.empty() || line[0] == '\n' || line[0] == '\r' || line[0] == '\0')
            return;
        std::fwrite(line.data(), 1, line.size(), outf);
    }
}

enum PageResult { PAGE_WRITTEN, PAGE_UNREADABLE, PAGE_CR_ONLY };

// Writes the page: the frame macros around the header lines, the body and the sub-menu.
// The title is the whole first line up to its first CR or LF. Returns PAGE_UNREADABLE when
// the page file could not be read to its end (the sub-menu pass rewinds it, which would hide
// an error of the body pass, so each pass is checked on its own), and PAGE_CR_ONLY, having
// written nothing, for a file whose lines end in CR alone: it would read as a title only.
PageResult write_page(FILE *outf, FILE *inf, const char *name)
{
    std::string title;
    if (!read_whole_line(&title, inf)) {
        if (std::ferror(inf))
            return PAGE_UNREADABLE;
        std::fprintf(stderr, "%s: input file is empty (%s)\n", Prog.c_str(), name);
        return PAGE_WRITTEN;
    }
    if (has_only_cr_line_ends(title))
        return PAGE_CR_ONLY;
    title.resize(std::min(title.find_first_of("\r\n"), title.size()));
    do_include(outf, ("PageStart|" + title).c_str());
    copy_header_lines(outf, inf);
    do_include(outf, ("PageHdr|" + title).c_str());
    bld_html(outf, inf);
    if (std::ferror(inf))
        return PAGE_UNREADABLE;
    find_smenu(outf, inf);
    if (std::ferror(inf))
        return PAGE_UNREADABLE;
    do_include(outf, "PageEnd");
    return PAGE_WRITTEN;
}

// Opens the page file for reading and fills *st with its status; nullptr when it cannot be
// opened or is a directory.
FILE *open_page_input(const std::string &inpath, struct stat *st)
{
    FILE *inf = std::fopen(inpath.c_str(), "r");
    if (inf != nullptr && (fstat(fileno(inf), st) != 0 || S_ISDIR(st->st_mode))) {
        std::fclose(inf);
        return nullptr;
    }
    return inf;
}

// Builds every page entry (a name holding ".html") listed in dir, or only those that are out
// of date.
void build_listed_pages(const std::string &dir, bool outdated_only)
{
    AlphaGuard names(list_files_in_directory(dir.c_str()), &free_alpha_prodlist);
    if (!names) {
        std::fprintf(stderr, "%s: No files found in input directory!\n", Prog.c_str());
        return;
    }
    for (int i = 0; i < names->nitems; ++i) {
        char *name = names->item[i];
        char *suffix = std::strstr(name, ".html");
        if (suffix == nullptr)
            continue;
        *suffix = '\0';
        if (!outdated_only || updated(name) == 0)
            tovrel(name);
    }
}

} // namespace

void tovrel(const char *fname)
{
    if (verbose > 0)
        std::printf("Building page %s ...\n", fname);
    if (check_dir() != 0)
        return;
    std::string name(fname);
    name.resize(std::min(name.find(".html"), name.size()));
    std::string inpath = page_path(indir, name.c_str());
    struct stat in_st;
    InputGuard inf(open_page_input(inpath, &in_st), &std::fclose);
    if (!inf) {
        std::fprintf(stderr, "%s: Can't open input file (%s)!\n", Prog.c_str(), inpath.c_str());
        return;
    }
    std::string outpath = page_path(outdir, name.c_str());
    PageOutput out;
    if (!open_page_output(in_st, inpath, outpath, &out))
        return;
    PageResult result = write_page(out.fp, inf.get(), name.c_str());
    if (result == PAGE_WRITTEN) {
        finish_page_output(&out, outpath);
        return;
    }
    std::fprintf(stderr,
                 result == PAGE_CR_ONLY ? "%s: Page file has only CR line ends (%s)!\n"
                                        : "%s: Can't read input file (%s)!\n",
                 Prog.c_str(), inpath.c_str());
    abandon_page_output(&out);
}

int check_dir()
{
    if (indir != outdir)
        return 0;
    std::fprintf(stderr, "%s: Input & Output Directories must be different!\n", Prog.c_str());
    std::fprintf(stderr, "(%s) and (%s)\n", indir.c_str(), outdir.c_str());
    return 1;
}

void bld_all_page()
{
    std::string dir = with_subdir(indir);
    if (check_dir() != 0)
        return;
    build_listed_pages(dir, false);
}

void bld_upd_pages()
{
    if (check_dir() != 0)
        return;
    build_listed_pages(with_subdir(indir), true);
}

int updated(const char *fname)
{
    std::string inpath = page_path(indir, fname);
    struct stat in_st, out_st;
    if (stat(inpath.c_str(), &in_st) != 0) {
        std::fprintf(stderr, "Can't stat input file (%s)\n", inpath.c_str());
        return 1;
    }
    if (stat(page_path(outdir, fname).c_str(), &out_st) != 0)
        return 0;
    return in_st.st_mtime > out_st.st_mtime ? 0 : 1;
}

// --- the interactive menu ---

namespace {

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
        if ((i + 1) % 20 == 0 && ask("Press ENTER to continue: ").starts_with('q'))
            break;
    }
    ask("Press ENTER to continue: ");
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
