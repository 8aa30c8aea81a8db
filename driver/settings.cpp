#include "driver/settings.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "engine/bld_html.h"

std::string Prog;
int debugsw = 0;
int verbose = 0;
std::string indir = "in";
std::string outdir = "out";
std::string subdir;
std::string sitename;

const char library_path[] = "include/include.txt";

namespace {
int failures = 0; // reported by report_driver_failure
} // namespace

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

int check_dir()
{
    if (indir != outdir)
        return 0;
    report_driver_failure("%s: Input & Output Directories must be different!\n(%s) and (%s)\n",
                          Prog.c_str(), indir.c_str(), outdir.c_str());
    return 1;
}

void report_driver_failure(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
    failures++;
}

int failures_reported()
{
    return failures + inc_failures();
}

int run_status()
{
    return failures_reported() > 0 ? 2 : 0;
}

int flush_standard_output(int status)
{
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0)
        return status;
    std::fprintf(stderr, "%s: Can't write standard output\n", Prog.c_str());
    return 2;
}
