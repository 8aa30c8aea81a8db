// tovrel: builds the pages of a web site from page files and one include library of macros.
// Start-up and the command line; everything else lives in the driver library.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "driver/batch.h"
#include "driver/check.h"
#include "driver/do_msg.h"
#include "driver/help.h"
#include "driver/menu.h"
#include "driver/page_build.h"
#include "driver/page_names.h"
#include "driver/settings.h"
#include "driver/watch.h"
#include "engine/bld_html.h"
#include "pageio/cleanup.h"
#include "support/gather.h"
#include "support/util.h"

namespace {

enum ArgResult { ARG_DONE, ARG_EXIT, ARG_INVALID, ARG_FAILED };

// True when s is ".exe" in any case of its letters.
bool is_exe_suffix(const char *s)
{
    for (const char *lower = ".exe"; *lower != '\0'; ++s, ++lower) {
        if (to_lower_ascii(*s) != *lower)
            return false;
    }
    return *s == '\0';
}

// The program name: the path's last component (after the last '/', or after the last '\'
// when there is no '/'), lower-cased, without a final ".exe" in any case.
std::string program_name(const char *path)
{
    const char *base = std::strrchr(path, '/');
    if (base == nullptr)
        base = std::strrchr(path, '\\');
    std::string name = base != nullptr ? base + 1 : path;
    for (size_t i = 0; i < name.size(); ++i) {
        if (is_exe_suffix(name.c_str() + i)) {
            name.resize(i);
            break;
        }
        name[i] = to_lower_ascii(name[i]);
    }
    return name;
}

// The value of the option at argv[*i]: the rest of the argument, else the whole next
// argument (which is consumed), else nullptr when nothing follows.
const char *option_value(int argc, char **argv, int *i)
{
    const char *rest = argv[*i] + 2;
    if (*rest != '\0')
        return rest;
    if (*i + 1 < argc)
        return argv[++*i];
    return nullptr;
}

// Sets the verbosity from a decimal text (no digits gives 0) and hands it to the engine.
void set_verbosity(const char *text)
{
    long val = std::strtol(text, nullptr, 10);
    verbose = static_cast<int>(val < INT_MIN ? INT_MIN : val > INT_MAX ? INT_MAX : val);
    set_verbose_inc(verbose);
}

// Carries out the option argv[*i] (its second character selects it).
ArgResult run_option(int argc, char **argv, int *i)
{
    char letter = argv[*i][1];
    switch (letter) {
    case 'a':
        bld_all_page();
        return ARG_DONE;
    case 'c':
        check_site();
        return ARG_DONE;
    case 'd':
        debugsw = !debugsw;
        return ARG_DONE;
    case 'u':
        bld_upd_pages();
        return ARG_DONE;
    case 'w':
        return watch_site(argc - 1 - *i) == 0 ? ARG_EXIT : ARG_FAILED;
    case 'h':
        do_msg(Usage, Prog.c_str());
        do_msg(Help, Prog.c_str());
        return ARG_EXIT;
    case '-': // only the whole arguments --help and --version
        return run_long_option(argv[*i], Prog.c_str()) ? ARG_EXIT : ARG_INVALID;
    case 'i':
    case 'o':
    case 'p':
    case 's':
    case 'v':
        break;
    default:
        return ARG_INVALID;
    }
    const char *value = option_value(argc, argv, i);
    if (value == nullptr)
        return ARG_DONE; // nothing after the letter: no value, no change
    if (letter == 'i')
        indir = value;
    else if (letter == 'o')
        outdir = value;
    else if (letter == 's')
        sitename = value;
    else if (letter == 'p')
        return set_preview_address(value) == 0 ? ARG_DONE : ARG_FAILED;
    else
        set_verbosity(value);
    return ARG_DONE;
}

// Builds the page a file argument names: cut at ".htm", any directory part dropped.
void build_page_argument(const char *arg)
{
    if (verbose > 1)
        std::printf("%s: Processing file %s ...\n", Prog.c_str(), arg);
    tovrel(page_of_argument(arg).c_str());
}

// Opens standard input, output and error on /dev/null where they are closed, so no file the
// program opens takes their place (its messages would then land in a page).
void open_closed_standard_files()
{
    for (int fd = 0; fd <= 2; fd++)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF)
            open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY); // takes the lowest free number
}

} // namespace

int main(int argc, char **argv)
{
    open_closed_standard_files();
    std::set_new_handler(die_out_of_memory);
    install_signal_cleanup();
    gather_stderr();
    Prog = program_name(argc > 0 && argv[0] != nullptr ? argv[0] : "tovrel");
    set_verbose_inc(verbose);
    // First, they need no site: no library is loaded, so none is reported missing.
    if (argc > 1 && run_long_option(argv[1], Prog.c_str()))
        return flush_standard_output(0);
    bld_inc(library_path);
    if (argc <= 1) {
        do_interact();
        return flush_standard_output(0);
    }
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] != '-') {
            build_page_argument(argv[i]);
            continue;
        }
        ArgResult result = run_option(argc, argv, &i);
        if (result == ARG_EXIT)
            return flush_standard_output(0);
        if (result == ARG_FAILED)
            return flush_standard_output(2);
        if (result == ARG_INVALID) {
            std::fprintf(stderr, "%s: Invalid option (%s)\n", Prog.c_str(), argv[i]);
            do_msg(Usage, Prog.c_str());
            return 1;
        }
    }
    std::printf("%s: Terminating\n", Prog.c_str());
    return flush_standard_output(check_errors_total() > 0 ? 2 : run_status());
}
