#include "driver/help.h"

#include <cstdio>
#include <cstring>

// Everything after the usage line. Options act at their place, so the text says so before
// the list; the exit statuses are those a script or make sees.
static const char help_body[] =
    "Build the pages of a web site: each page file (name.html) of the input directory\n"
    "becomes the page of the same name in the output directory, framed and expanded with\n"
    "the macros of the include library include/include.txt, which is read from the\n"
    "working directory once, when the program starts.\n"
    "\n"
    "Arguments are taken from left to right and every option acts at once: it affects\n"
    "only the pages and batch options after it. A FILE argument names a page and builds\n"
    "it: news, news.html and pages/news.htm all build IN/news.html into OUT/news.html.\n"
    "Without any argument, an interactive menu runs on the console.\n"
    "\n"
    "  -a          build every page of the input directory\n"
    "  -u          build the pages whose output is missing or older than the page file\n"
    "  -i DIR      input directory (default: in)\n"
    "  -o DIR      output directory (default: out); it must differ from the input\n"
    "  -s NAME     site name, shown in the menu\n"
    "  -v N        verbosity: 1 names each page on standard output and traces the\n"
    "              macros on standard error, 2 also names each FILE argument,\n"
    "              6 and 10 trace more\n"
    "  -d          toggle the debug switch (no build consults it)\n"
    "  -p PORT     make a later -w also serve the output directory over HTTP with live\n"
    "              reload, on 127.0.0.1:PORT (0: any free port) or on ADDRESS:PORT\n"
    "  -w          watch: build what is out of date (everything when the library is\n"
    "              newer), then rebuild each page as it is saved and every page when\n"
    "              the library changes, until interrupted; arguments after it are ignored\n"
    "  -h          print the short usage and help texts, then exit\n"
    "  --help      display this help and exit\n"
    "  --version   output version information and exit\n"
    "\n"
    "A value may follow its letter directly (-iwork) or come as the next argument\n"
    "(-i work). When standard error is a terminal, a batch (-a, -u) over 200 pages or\n"
    "more shows a progress line there.\n"
    "\n"
    "Edit and look: run tovrel -p 8080 -w in the site, open http://127.0.0.1:8080/ and\n"
    "save pages; the browser shows each rebuilt page by itself. Ctrl-C stops.\n"
    "\n"
    "Exit status:\n"
    " 0  if OK (and after -w, once interrupted),\n"
    " 1  after an invalid option,\n"
    " 2  if a page or the include library failed (the run goes on with the next page),\n"
    " 3  if memory ran out.\n";

void print_help(const char *prog)
{
    std::printf("Usage: %s [OPTION]... [FILE]...\n", prog);
    std::printf("  or:  %s [-i in] [-o out] [-p PORT] -w\n", prog);
    std::fputs(help_body, stdout);
}

void print_version()
{
    std::puts("tovrel " TOVREL_VERSION);
}

int run_long_option(const char *arg, const char *prog)
{
    if (std::strcmp(arg, "--help") == 0)
        print_help(prog);
    else if (std::strcmp(arg, "--version") == 0)
        print_version();
    else
        return 0;
    return 1;
}
