// The driver's settings and the build of one page: paths, the frame around the page's own
// text, and the directory check every build runs first.
#include "driver/tovrel.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "driver/page_input.h"
#include "driver/page_output.h"
#include "driver/tovrel_internal.h"
#include "engine/bld_html.h"
#include "support/gather.h"
#include "support/read_line.h"

std::string Prog;
int debugsw = 0;
int verbose = 0;
std::string indir = "in";
std::string outdir = "out";
std::string subdir;
std::string sitename;

std::string with_subdir(const std::string &dir)
{
    return subdir.empty() ? dir : dir + "/" + subdir;
}

std::string page_path(const std::string &dir, const char *name)
{
    std::string path = with_subdir(dir);
    path += '/';
    path += name;
    path += ".html";
    return path;
}

namespace {

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

// Builds the page from the opened page file in to outpath. Returns nothing: every failure is
// reported here.
void build_opened_page(PageInput *in, const std::string &name)
{
    std::string outpath = page_path(outdir, name.c_str());
    PageOutput out;
    if (!open_page_output(in->st, in->path, outpath, &out))
        return;
    PageResult result =
        load_page_input(in) ? write_page(out.fp, in->fp, name.c_str()) : PAGE_UNREADABLE;
    if (result == PAGE_WRITTEN) {
        finish_page_output(&out, outpath);
        return;
    }
    std::fprintf(stderr,
                 result == PAGE_CR_ONLY ? "%s: Page file has only CR line ends (%s)!\n"
                                        : "%s: Can't read input file (%s)!\n",
                 Prog.c_str(), in->path.c_str());
    abandon_page_output(&out);
}

// Writes what the page gathered for standard error when its build ends, however it ends.
struct GatheredFlush {
    ~GatheredFlush()
    {
        flush_gathered();
    }
};

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
    build_opened_page(&in, name);
    close_page_input(&in);
}

int check_dir()
{
    if (indir != outdir)
        return 0;
    std::fprintf(stderr, "%s: Input & Output Directories must be different!\n", Prog.c_str());
    std::fprintf(stderr, "(%s) and (%s)\n", indir.c_str(), outdir.c_str());
    return 1;
}
