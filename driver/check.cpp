#include "driver/check.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/check_links.h"
#include "driver/page_build.h"
#include "driver/page_names.h"
#include "driver/progress.h"
#include "driver/settings.h"
#include "engine/bld_html.h"
#include "pageio/page_input.h"
#include "support/read_line.h"

namespace {

// True when the line, blanks skipped, begins with an include marker.
bool is_include_line(const std::string &line)
{
    size_t at = line.find_first_not_of(" \t");
    return at != std::string::npos && (line[at] == '>' || line[at] == ']');
}

} // namespace

// Reads the title and header lines of the page in (as the build will), warning of include
// and sub-link lines among the headers, and rewinds it. Returns the line the body starts
// at, or 0 when the page is empty.
int scan_header(FILE *in, const char *path)
{
    std::string line;
    int lineno = 0;
    while (read_whole_line(&line, in)) {
        lineno++;
        if (lineno == 1)
            continue;
        if (ends_header_lines(line))
            break;
        scan_links(line.data(), line.size(), path, lineno);
        if (is_include_line(line))
            diag_inc(DIAG_WARNING, path, lineno,
                     "%s line among the header lines is copied as text: is the empty line "
                     "after the title missing?",
                     line.find("SubLink") != std::string::npos ? "sub-link" : "include");
    }
    std::rewind(in);
    return lineno == 0 ? 0 : lineno + 1;
}

namespace {

int errors_total = 0;

// A stream that takes everything and keeps nothing: a checked page goes nowhere.
FILE *open_null_sink()
{
    cookie_io_functions_t io = {};
    io.write = [](void *, const char *, size_t size) -> ssize_t {
        return static_cast<ssize_t>(size);
    };
    return fopencookie(nullptr, "w", io);
}

// Checks the page name (its file in the input directory) through the build's own page pass.
void check_page(FILE *sink, const char *name)
{
    PageInput in;
    in.path = page_path(indir, name);
    if (!open_page_input(&in)) {
        diag_inc(DIAG_ERROR, in.path.c_str(), 0, "can't open the page file: %s",
                 std::strerror(errno));
        return;
    }
    FILE *page = load_page_input(&in) ? page_input_stream(&in) : nullptr;
    if (page == nullptr) {
        diag_inc(DIAG_ERROR, in.path.c_str(), 0, "can't read the page file");
        close_page_input(&in);
        return;
    }
    begin_page_links(in.path.c_str());
    int body_line = scan_header(page, in.path.c_str());
    if (body_line == 0) {
        diag_inc(DIAG_ERROR, in.path.c_str(), 1, "the page file is empty: its build fails");
    } else {
        check_page_inc(in.path.c_str(), body_line);
        PageResult result = write_page(sink, page, name);
        if (result == PAGE_CR_ONLY)
            diag_inc(DIAG_ERROR, in.path.c_str(), 1,
                     "the page file's lines end in CR alone: it reads as a title only");
        else if (result == PAGE_UNREADABLE)
            diag_inc(DIAG_ERROR, in.path.c_str(), 0, "can't read the page file");
        else if (result == PAGE_TOO_LARGE)
            diag_inc(DIAG_ERROR, in.path.c_str(), 1,
                     "the page's output grows past its bound: its build stops and fails");
    }
    close_page_input(&in);
}

// Reports an output directory the build could not write pages into.
void check_output_dir()
{
    std::string dir = with_subdir(outdir);
    struct stat st;
    if (stat(dir.c_str(), &st) != 0)
        diag_inc(DIAG_ERROR, dir.c_str(), 0, "the output directory is missing: %s",
                 std::strerror(errno));
    else if (!S_ISDIR(st.st_mode))
        diag_inc(DIAG_ERROR, dir.c_str(), 0, "the output directory is not a directory");
    else if (access(dir.c_str(), W_OK | X_OK) != 0)
        diag_inc(DIAG_ERROR, dir.c_str(), 0, "the output directory cannot be written: %s",
                 std::strerror(errno));
}

// Checks every page of the input directory in the order a build of all pages takes them.
// Returns how many pages were checked.
int check_pages()
{
    std::string dir = with_subdir(indir);
    bool listed;
    std::vector<std::string> pages = list_pages(dir, &listed);
    if (!listed) {
        DIR *d = opendir(dir.c_str());
        diag_inc(DIAG_ERROR, dir.c_str(), 0, "can't list the input directory: %s",
                 d ? "read error" : std::strerror(errno));
        if (d)
            closedir(d);
        return 0;
    }
    std::unique_ptr<FILE, decltype(&std::fclose)> sink(open_null_sink(), &std::fclose);
    begin_links(indir.c_str(), outdir.c_str(), subdir.c_str(), pages);
    begin_progress(pages.size());
    for (const std::string &page : pages) {
        check_page(sink.get(), page.c_str());
        step_progress();
    }
    end_progress();
    end_links();
    return static_cast<int>(pages.size());
}

} // namespace

int check_site()
{
    IncVarsSave *saved = save_vars_inc();
    begin_check_inc(scan_links);
    check_library_inc();
    int pages = 0;
    if (indir == outdir) {
        diag_inc(DIAG_ERROR, indir.c_str(), 0,
                 "the input and output directories are the same: a build writes nothing");
    } else {
        check_output_dir();
        pages = check_pages();
        check_unset_inc();
        check_unreached_inc();
    }
    int errors, warnings;
    end_check_inc(&errors, &warnings);
    restore_vars_inc(saved);
    std::printf("%d pages checked: %d errors, %d warnings\n", pages, errors, warnings);
    errors_total += errors;
    return errors;
}

int check_errors_total()
{
    return errors_total;
}
