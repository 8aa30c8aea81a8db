// The GNU-style long options --help and --version: the full help of the command line and
// the version line. The -h tables stay in driver/do_msg.
#ifndef HELP_H
#define HELP_H

// Prints the help of the command line to standard output; prog is the program name shown in
// the usage line.
void print_help(const char *prog);
// Prints "tovrel VERSION" to standard output.
void print_version();
// Carries out arg when it is exactly "--help" or "--version" and returns 1 (the caller then
// exits with status 0); returns 0, having printed nothing, for any other argument.
int run_long_option(const char *arg, const char *prog);

#endif
