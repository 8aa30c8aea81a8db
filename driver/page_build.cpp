#include "driver/page_build.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "driver/page_names.h"
#include "driver/settings.h"
#include "engine/bld_html.h"
#include "pageio/page_input.h"
#include "pageio/page_output.h"
#include "support/gather.h"
#include "support/read_line.h"

namespace {
bool gathered_by_batch = false; // a batch writes the gathered announcements, not each page
} // namespace

namespace {

// Where a page is read from: a stream, or the page file's text held in memory (followed by a
// NUL byte). write_page_from reads either the same way.
struct StreamPage {
    FILE *inf;
    std::string line; // the line last read
};
struct HeldPage {
    TextLines rest; // what is not read yet
    TextLines whole;
};

bool next_line(StreamPage *page, std::string_view *line)
{
    if (!read_whole_line(&page->line, page->inf))
        return false;
    *line = page->line;
    return true;
}

bool next_line(HeldPage *page, std::string_view *line)
{
    return next_text_line(&page->rest, line);
}

// Transforms the rest of the page, then writes the sub-menu from all of it. Returns false when
// the page could not be read to its end in either pass (the sub-menu pass reads it again).
bool write_body_and_submenu(FILE *outf, StreamPage *page)
{
    bld_html(outf, page->inf);
    if (std::ferror(page->inf))
        return false;
    find_smenu(outf, page->inf);
    return !std::ferror(page->inf);
}

bool write_body_and_submenu(FILE *outf, HeldPage *page)
{
    bld_html_text(outf, &page->rest);
    find_smenu_text(outf, page->whole);
    return true;
}

// Copies the header lines, whole whatever their length, up to the first line that begins
// with LF, CR or NUL; that line is consumed and not copied.
template <typename Page> void copy_header_lines(FILE *outf, Page *page)
{
    std::string_view line;
    while (next_line(page, &line)) {
        if (ends_header_lines(line))
            return;
        std::fwrite(line.data(), 1, line.size(), outf);
    }
}

// write_page for a page read from a stream or held in memory; read_failed tells a stream's
// read error from its end.
template <typename Page>
PageResult write_page_from(FILE *outf, Page *page, bool (*read_failed)(const Page *),
                           const char *name)
{
    begin_page_inc();
    std::string_view first;
    if (!next_line(page, &first)) {
        if (read_failed(page))
            return PAGE_UNREADABLE;
        report_driver_failure("%s: input file is empty (%s)\n", Prog.c_str(), name);
        return PAGE_EMPTY;
    }
    std::string title(first);
    if (title.starts_with("\xEF\xBB\xBF"))
        title.erase(0, 3);
    if (has_only_cr_line_ends(title))
        return PAGE_CR_ONLY;
    title.resize(std::min(title.find_first_of("\r\n"), title.size()));
    static std::string frame; // the frame includes' text; its memory serves every page
    do_include(outf, frame.assign("PageStart|").append(title).c_str());
    copy_header_lines(outf, page);
    do_include(outf, frame.assign("PageHdr|").append(title).c_str());
    if (!write_body_and_submenu(outf, page))
        return PAGE_UNREADABLE;
    do_include(outf, "PageEnd");
    return page_too_large_inc() ? PAGE_TOO_LARGE : PAGE_WRITTEN;
}

// Writes the page whose file's text (followed by a NUL byte) is held in data, as write_page
// does for a stream, without a stream: each line is read where it stands.
PageResult write_held_page(FILE *outf, const std::string &data, const char *name)
{
    TextLines whole{data.data(), data.data() + data.size()};
    HeldPage page{whole, whole};
    return write_page_from<HeldPage>(
        outf, &page, [](const HeldPage *) { return false; }, name);
}

// Builds the page from the opened page file in to outpath. Returns nothing: every failure is
// reported here.
void build_opened_page(PageInput *in, const std::string &name)
{
    int failures_before = failures_reported();
    PageOutput out;
    std::string outpath = page_path(outdir, name.c_str());
    PageOpen opened = open_page_output(in->st, outpath, &out);
    if (opened == PAGE_OPEN_IS_INPUT)
        report_driver_failure("%s: Input and output are the same file (%s)!\n", Prog.c_str(),
                              in->path.c_str());
    else if (opened == PAGE_OPEN_FAILED)
        report_driver_failure("%s: Can't open output file (%s)!\n", Prog.c_str(), outpath.c_str());
    if (opened != PAGE_OPENED)
        return;
    PageResult result = !load_page_input(in) ? PAGE_UNREADABLE
                        : in->data.empty()   ? write_page(out.fp, in->fp, name.c_str())
                                             : write_held_page(out.fp, in->data, name.c_str());
    if (result == PAGE_WRITTEN && !page_input_unchanged(in))
        result = PAGE_UNREADABLE;
    // An empty page file is a failure, but an empty page is made where none stood.
    if (result == PAGE_WRITTEN || (result == PAGE_EMPTY && !out.replaces)) {
        if (!finish_page_output(&out, failures_reported() == failures_before))
            report_driver_failure("%s: Can't write output file (%s)!\n", Prog.c_str(),
                                  outpath.c_str());
        return;
    }
    if (result == PAGE_CR_ONLY)
        report_driver_failure("%s: Page file has only CR line ends (%s)!\n", Prog.c_str(),
                              in->path.c_str());
    else if (result == PAGE_TOO_LARGE)
        report_driver_failure("%s: Page output too large (%s)!\n", Prog.c_str(), in->path.c_str());
    else if (result == PAGE_UNREADABLE)
        report_driver_failure("%s: Can't read input file (%s)!\n", Prog.c_str(), in->path.c_str());
    abandon_page_output(&out);
}

// Writes what the page gathered for standard error when its build ends, however it ends,
// unless a batch writes it.
struct GatheredFlush {
    ~GatheredFlush()
    {
        if (!gathered_by_batch)
            flush_gathered();
    }
};

} // namespace

bool ends_header_lines(std::string_view line)
{
    return line.empty() || line[0] == '\n' || line[0] == '\r' || line[0] == '\0';
}

PageResult write_page(FILE *outf, FILE *inf, const char *name)
{
    StreamPage page{inf, {}};
    return write_page_from<StreamPage>(
        outf, &page, [](const StreamPage *p) { return std::ferror(p->inf) != 0; }, name);
}

void tovrel(const char *fname)
{
    GatheredFlush flush_at_end;
    if (verbose > 0)
        std::printf("Building page %s ...\n", fname);
    if (check_dir() != 0)
        return;
    std::string name = page_of_name(fname);
    PageInput in;
    in.path = page_path(indir, name.c_str());
    if (!open_page_input(&in)) {
        report_driver_failure("%s: Can't open input file (%s)!\n", Prog.c_str(), in.path.c_str());
        return;
    }
    build_opened_page(&in, name);
    close_page_input(&in);
}

BatchGathering::BatchGathering()
{
    // Only where standard output is another file, or the null device, which keeps nothing:
    // on a shared file, what a page writes there must not get ahead of the announcements of
    // the pages before it.
    struct stat out, err;
    bool known = fstat(STDOUT_FILENO, &out) == 0 && fstat(STDERR_FILENO, &err) == 0;
    bool null = known && S_ISCHR(out.st_mode) && out.st_rdev == makedev(1, 3);
    gathered_by_batch = known && (null || out.st_dev != err.st_dev || out.st_ino != err.st_ino);
}

BatchGathering::~BatchGathering()
{
    gathered_by_batch = false;
    flush_gathered();
}
