#include "driver/batch.h"

#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/page_build.h"
#include "driver/page_names.h"
#include "driver/progress.h"
#include "driver/settings.h"
#include "support/util.h"

namespace {

// The input and output directory of a batch, opened once, so judging a page costs one lookup
// in each rather than a walk from the working directory. -1 where one is not open.
struct PageDirs {
    int in = -1;
    int out = -1;
};

// updated() for the page fname: its files are looked up in dirs when both are open, else by
// their paths from the working directory.
int page_is_current(const PageDirs &dirs, const char *fname)
{
    std::string inpath = page_path(indir, fname);
    std::string file = std::string(fname) + ".html";
    bool in_dirs = dirs.in >= 0 && dirs.out >= 0;
    struct stat in_st, out_st;
    if (fstatat(in_dirs ? dirs.in : AT_FDCWD, (in_dirs ? file : inpath).c_str(), &in_st, 0) != 0) {
        report_driver_failure("Can't stat input file (%s)\n", inpath.c_str());
        return 1;
    }
    std::string out = in_dirs ? file : page_path(outdir, fname);
    if (fstatat(in_dirs ? dirs.out : AT_FDCWD, out.c_str(), &out_st, 0) != 0)
        return 0;
    return out_of_date(in_st, out_st) ? 0 : 1;
}

// Builds every page of the input directory, or only those that are out of date.
void build_pages(bool outdated_only)
{
    if (check_dir() != 0)
        return;
    bool listed;
    std::vector<std::string> pages = list_batch_pages(&listed);
    if (!listed)
        return;
    PageDirs dirs;
    if (outdated_only) {
        dirs.in = open(with_subdir(indir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dirs.out = open(with_subdir(outdir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    BatchGathering gathering;
    for (const std::string &page : pages) {
        if (!outdated_only || page_is_current(dirs, page.c_str()) == 0)
            tovrel(page.c_str());
        step_progress();
    }
    end_progress();
    for (int fd : {dirs.in, dirs.out})
        if (fd >= 0)
            close(fd);
}

} // namespace

std::vector<std::string> list_batch_pages(bool *listed)
{
    std::vector<std::string> pages = list_pages(with_subdir(indir), listed);
    if (!*listed)
        report_driver_failure("%s: No files found in input directory!\n", Prog.c_str());
    begin_progress(pages.size());
    return pages;
}

void bld_all_page()
{
    build_pages(false);
}

void bld_upd_pages()
{
    build_pages(true);
}

int updated(const char *fname)
{
    return page_is_current(PageDirs{}, fname);
}

bool out_of_date(const struct stat &source, const struct stat &output)
{
    return compare_times(source.st_mtim, output.st_mtim) > 0;
}
