// The driver's settings, the paths they give a page, and the count of the run's failures.
// The settings are process-wide; the command line and the menu are their only sources.
#ifndef SETTINGS_H
#define SETTINGS_H

#include <string>

extern std::string Prog;     // program name, the prefix of the driver's messages
extern int debugsw;          // toggled by -d; no build consults it
extern int verbose;          // the driver's verbosity
extern std::string indir;    // input directory, "in" at start
extern std::string outdir;   // output directory, "out" at start
extern std::string subdir;   // subdirectory below both, empty for none
extern std::string sitename; // site name, shown in the menu's status line

// The include library, relative to the working directory: start-up and the watch mode load it.
extern const char library_path[];

// dir, then "/" and subdir when one is set: the directory that holds the pages.
std::string with_subdir(const std::string &dir);

// The path of the page name below dir (indir or outdir). Settings are used as they stand, so
// a directory that ends in '/' gives a doubled separator.
std::string page_path(const std::string &dir, const char *name);

// Returns 0 when indir and outdir differ; otherwise prints two lines on standard error,
// counts a failure and returns 1.
int check_dir();

// Prints the message to standard error and counts it as a failure of the run (the exit status
// is then 2).
[[gnu::format(printf, 1, 2)]] void report_driver_failure(const char *fmt, ...);

// The failures reported so far, the driver's and the engine's: a page whose build adds one is
// never taken as unchanged.
int failures_reported();

// Returns the exit status of a command-line run whose arguments were all taken: 2 when during
// the run a page could not be built or written, a batch could not run, the library could not
// be read or an include could not be expanded; else 0.
int run_status();

// Flushes standard output. When that or an earlier write to it failed, reports it and
// returns 2; else returns status.
int flush_standard_output(int status);

#endif
