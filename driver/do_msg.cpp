#include "driver/do_msg.h"

#include <cstdio>
#include <string>

#include "support/read_line.h"

const char *const Usage[] = {
    "Usage:\t%s [options] files ...\n",
    "\t%s [-a] [options]\n",
    "-OR- for help, type:\n",
    "\t%s -h\n",
    "where options are:\n\t[-i indir]\tinput directory\n",
    "\t[-o outdir]\toutput directory\n",
    "\t[-s sitename]\tsite name (preceeds title)\n",
    "\t[-v val]\tset verbose switch to 'val'\n",
    "\t-a\t\tprocess all .html files in indir\n",
    nullptr,
};

const char *const Help[] = {
    "\nThis program will build HTML pages.\n",
    "The program will read files from the input directory,\n",
    "merge them with any include segments that are present,\n",
    "and write the resulting page to the output directory.\n",
    "The name of the output file will be the same as the input file.\n",
    "Therefore, either the input or output directory must be specified.\n",
    "\t(i.e. you cannot default both directories)\n",
    "If a directory is not specified, then the current directory is assumed.\n",
    "\n",
    "An include segment is signified with a line:\n",
    "\t>segname\n",
    "where 'segname' is the name of the include segment.\n",
    nullptr,
};

// Prints one table line as printf(line, prog) would for a line whose only conversion is %s
// ("%%" prints '%'); any other '%' is printed as it stands instead of reading a missing argument.
static void print_table_line(const char *line, const char *prog)
{
    for (const char *p = line; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            std::fputs(prog, stdout);
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            std::putchar('%');
            ++p;
        } else {
            std::putchar(*p);
        }
    }
}

void do_msg(const char *const *msg, const char *prog)
{
    if (msg == nullptr)
        return;
    for (; *msg != nullptr; ++msg)
        print_table_line(*msg, prog != nullptr ? prog : "");
}

int pause_for_enter(const char *prompt)
{
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    std::string answer;
    if (!read_whole_line(&answer, stdin) || answer.empty())
        return EOF;
    return static_cast<unsigned char>(answer[0]);
}

void print_list(int n, char **list)
{
    for (int i = 0; i < n; ++i) {
        std::printf("%3d. %s\n", i, list[i] != nullptr ? list[i] : "(null)");
        if ((i + 1) % 20 == 0)
            pause_for_enter("Press ENTER to continue: ");
    }
    pause_for_enter("Done ... Press ENTER to terminate: ");
}
