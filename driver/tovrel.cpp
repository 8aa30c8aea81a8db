#include "driver/tovrel.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/bld_html.h"
#include "support/dir.h"
#include "support/gather.h"
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

// Reading the umask means setting it, so it is read once, when the program starts.
mode_t read_umask()
{
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}
const mode_t creation_mask = read_umask();
// The bits a plainly created file gets: 0666 less the umask.
const mode_t new_page_mode = 0666 & ~creation_mask;

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

// A page file being read. A regular file of modest size is read whole into data and read
// back through a stream over memory, so the sub-menu pass rereads it without touching the
// disk again; anything else is read as a stream from the file.
struct PageInput {
    std::string path;
    struct stat st;
    int fd = -1;
    FILE *fp = nullptr; // made by load_page_input
    std::string data;
};

// Pages up to this size are held in memory while they are built.
constexpr off_t max_held_page = 1 << 20;

// One stream buffer for the page being written and one for a page file read as a stream;
// a build has at most one of each open, and large buffers mean one write per page.
constexpr size_t stream_buffer_size = 1 << 16;
char output_buffer[stream_buffer_size];
char input_buffer[stream_buffer_size];

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

// Fills the six X of a temporary name from a number unique to this process and attempt.
void fill_temp_name(std::string *temp, unsigned long seed)
{
    static const char digits[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (size_t i = temp->size() - 6; i < temp->size(); i++) {
        (*temp)[i] = digits[seed % 62];
        seed /= 62;
    }
}

// Creates a new file beside path with a name ".tovrel-" and six letters, never one that
// exists, with no more permission than mode allows. Returns its descriptor, or -1.
int create_temp_file(std::string *temp, const std::string &path, mode_t mode)
{
    static unsigned long attempt = 0;
    static const unsigned long pid = static_cast<unsigned long>(getpid());
    *temp = path.substr(0, path.rfind('/') + 1) + ".tovrel-XXXXXX";
    for (int tries = 0; tries < 1000; tries++) {
        fill_temp_name(temp, pid * 7919 + attempt++ * 104729);
        int fd = open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Creates the temporary file for out->path with the given permission bits. Returns false
// (nothing left behind) when it cannot be created.
bool create_temp_output(PageOutput *out, mode_t mode)
{
    int fd = create_temp_file(&out->temp, out->path, mode);
    if (fd < 0)
        return false;
    // The umask may have taken bits that mode asks for; only then is a chmod needed.
    bool mode_ok = (mode & (creation_mask | 07000)) == 0 || fchmod(fd, mode) == 0;
    if (!mode_ok || (out->fp = fdopen(fd, "w")) == nullptr) {
        close(fd);
        unlink(out->temp.c_str());
        return false;
    }
    std::setvbuf(out->fp, output_buffer, _IOFBF, sizeof output_buffer);
    return true;
}

// Makes ready to write the page outpath for the page file in. Returns false, with a message,
// when the page must not or cannot be written: it is the input itself, or it cannot be
// created.
bool open_page_output(const PageInput &in, const std::string &outpath, PageOutput *out)
{
    struct stat out_st;
    bool exists = stat_output(outpath, &out_st, &out->path);
    if (exists && in.st.st_dev == out_st.st_dev && in.st.st_ino == out_st.st_ino) {
        std::fprintf(stderr, "%s: Input and output are the same file (%s)!\n", Prog.c_str(),
                     in.path.c_str());
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

} // namespace

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

namespace {

// Replaces *data with the rest of fd, expecting about expected bytes. Returns false on a
// read error.
bool read_all(int fd, size_t expected, std::string *data)
{
    data->resize(expected + 1); // one more, so the end shows in the first read
    size_t have = 0;
    for (;;) {
        if (have == data->size())
            data->resize(2 * have);
        ssize_t n = read(fd, data->data() + have, data->size() - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            data->resize(have);
            return n == 0;
        }
        have += static_cast<size_t>(n);
    }
}

// Opens the page file in->path for reading and fills in->st; false when it cannot be opened
// or is a directory.
bool open_page_input(PageInput *in)
{
    in->fd = open(in->path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in->fd < 0)
        return false;
    if (fstat(in->fd, &in->st) != 0 || S_ISDIR(in->st.st_mode)) {
        close(in->fd);
        return false;
    }
    return true;
}

// Makes in->fp, the stream the page is read from: a small regular file is read whole into
// memory and in->fp reads that, anything else is read from the file. Returns false (the
// descriptor closed) when the file cannot be read.
bool load_page_input(PageInput *in)
{
    if (S_ISREG(in->st.st_mode) && in->st.st_size <= max_held_page) {
        if (!read_all(in->fd, static_cast<size_t>(in->st.st_size), &in->data)) {
            close(in->fd);
            return false;
        }
        if (!in->data.empty()) {
            close(in->fd);
            in->fp = fmemopen(in->data.data(), in->data.size(), "r");
            return in->fp != nullptr;
        }
        // An empty page: the file itself, read to its end, serves as the stream.
    }
    in->fp = fdopen(in->fd, "r");
    if (in->fp == nullptr) {
        close(in->fd);
        return false;
    }
    std::setvbuf(in->fp, input_buffer, _IOFBF, sizeof input_buffer);
    return true;
}

// The input and output directory of a batch, opened once, so judging a page costs one lookup
// in each rather than a walk from the working directory. -1 where one cannot be opened.
struct PageDirs {
    int in = -1;
    int out = -1;
};

// updated() for the page fname, with its files looked up in dirs when both are open.
int page_is_current(const PageDirs &dirs, const char *fname)
{
    if (dirs.in < 0 || dirs.out < 0)
        return updated(fname);
    std::string file = std::string(fname) + ".html";
    struct stat in_st, out_st;
    if (fstatat(dirs.in, file.c_str(), &in_st, 0) != 0) {
        std::fprintf(stderr, "Can't stat input file (%s)\n", page_path(indir, fname).c_str());
        return 1;
    }
    if (fstatat(dirs.out, file.c_str(), &out_st, 0) != 0)
        return 0;
    return in_st.st_mtime > out_st.st_mtime ? 0 : 1;
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
    PageDirs dirs;
    if (outdated_only) {
        dirs.in = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dirs.out = open(with_subdir(outdir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    for (int i = 0; i < names->nitems; ++i) {
        char *name = names->item[i];
        char *suffix = std::strstr(name, ".html");
        if (suffix == nullptr)
            continue;
        *suffix = '\0';
        if (!outdated_only || page_is_current(dirs, name) == 0)
            tovrel(name);
    }
    for (int fd : {dirs.in, dirs.out})
        if (fd >= 0)
            close(fd);
}

// Writes what the page gathered for standard error when its build ends, however it ends.
struct GatheredFlush {
    ~GatheredFlush()
    {
        flush_gathered();
    }
};

} // namespace

void tovrel(const char *fname)
{
    GatheredFlush flush_at_end;
    if (verbose > 0)
        std::printf("Building page %s ...\n", fname);
    if (check_dir() != 0)
        return;
    std::string name(fname);
    name.resize(std::min(name.find(".html"), name.size()));
    PageInput in;
    in.path = page_path(indir, name.c_str());
    if (!open_page_input(&in)) {
        std::fprintf(stderr, "%s: Can't open input file (%s)!\n", Prog.c_str(), in.path.c_str());
        return;
    }
    std::string outpath = page_path(outdir, name.c_str());
    PageOutput out;
    if (!open_page_output(in, outpath, &out)) {
        close(in.fd);
        return;
    }
    PageResult result =
        load_page_input(&in) ? write_page(out.fp, in.fp, name.c_str()) : PAGE_UNREADABLE;
    if (in.fp != nullptr)
        std::fclose(in.fp); // read only: nothing to report
    if (result == PAGE_WRITTEN) {
        finish_page_output(&out, outpath);
        return;
    }
    std::fprintf(stderr,
                 result == PAGE_CR_ONLY ? "%s: Page file has only CR line ends (%s)!\n"
                                        : "%s: Can't read input file (%s)!\n",
                 Prog.c_str(), in.path.c_str());
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
