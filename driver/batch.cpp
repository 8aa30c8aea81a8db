// Batch builds over the input directory: every page (bld_all_page) or the out-of-date ones
// (bld_upd_pages), and the judgement of one page (updated).
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/progress.h"
#include "driver/tovrel.h"
#include "driver/tovrel_internal.h"
#include "support/dir.h"
#include "support/prodlist.h"

namespace {

using AlphaGuard = std::unique_ptr<ProdAlphaList, decltype(&free_alpha_prodlist)>;

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
    std::string outpath = page_path(outdir, fname);
    std::string file = std::string(fname) + ".html";
    bool in_dirs = dirs.in >= 0 && dirs.out >= 0;
    int in_at = in_dirs ? dirs.in : AT_FDCWD;
    int out_at = in_dirs ? dirs.out : AT_FDCWD;
    struct stat in_st, out_st;
    if (fstatat(in_at, (in_dirs ? file : inpath).c_str(), &in_st, 0) != 0) {
        report_driver_failure("Can't stat input file (%s)\n", inpath.c_str());
        return 1;
    }
    if (fstatat(out_at, (in_dirs ? file : outpath).c_str(), &out_st, 0) != 0)
        return 0;
    // Full resolution: a page saved within the second of its last build is out of date.
    const struct timespec &in_time = in_st.st_mtim, &out_time = out_st.st_mtim;
    bool newer = in_time.tv_sec > out_time.tv_sec ||
                 (in_time.tv_sec == out_time.tv_sec && in_time.tv_nsec > out_time.tv_nsec);
    return newer ? 0 : 1;
}

// Builds every page entry (a name holding ".html") of the input directory, or only those
// that are out of date.
void build_pages(bool outdated_only)
{
    if (check_dir() != 0)
        return;
    std::string dir = with_subdir(indir);
    AlphaGuard names(list_files_in_directory(dir.c_str()), &free_alpha_prodlist);
    if (!names) {
        report_driver_failure("%s: No files found in input directory!\n", Prog.c_str());
        return;
    }
    PageDirs dirs;
    if (outdated_only) {
        dirs.in = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dirs.out = open(with_subdir(outdir).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    begin_progress(names.get());
    BatchGathering gathering;
    for (int i = 0; i < names->nitems; ++i) {
        char *name = names->item[i];
        char *suffix = std::strstr(name, ".html");
        if (suffix == nullptr)
            continue;
        *suffix = '\0';
        if (!outdated_only || page_is_current(dirs, name) == 0)
            tovrel(name);
        step_progress();
    }
    end_progress();
    for (int fd : {dirs.in, dirs.out})
        if (fd >= 0)
            close(fd);
}

} // namespace

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
