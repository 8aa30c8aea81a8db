// The program's settings and its builds: one page (tovrel), all pages (bld_all_page), the
// out-of-date pages (bld_upd_pages) and the interactive menu (do_interact). The settings are
// process-wide; the command line and the menu are their only sources.
#ifndef TOVREL_H
#define TOVREL_H

#include <cstdio>
#include <string>

extern std::string Prog;     // program name, the prefix of the driver's messages
extern int debugsw;          // toggled by -d; no build consults it
extern int verbose;          // the driver's verbosity
extern std::string indir;    // input directory, "in" at start
extern std::string outdir;   // output directory, "out" at start
extern std::string subdir;   // subdirectory below both, empty for none
extern std::string sitename; // site name, shown in the menu's status line

// Builds the page named fname (anything from ".html" on is cut off). Every failure is
// reported on standard error and ends this page's build only.
void tovrel(const char *fname);
enum PageResult { PAGE_WRITTEN, PAGE_UNREADABLE, PAGE_CR_ONLY, PAGE_EMPTY, PAGE_TOO_LARGE };
// Writes the page read from inf to outf: the frame macros around the header lines, the body
// and the sub-menu. The title is the whole first line up to its first CR or LF; name is the
// page's name for messages. Returns PAGE_UNREADABLE when the page file could not be read to
// its end (the sub-menu pass rewinds it, which would hide an error of the body pass, so each
// pass is checked on its own), PAGE_CR_ONLY, having written nothing, for a file whose
// lines end in CR alone: it would read as a title only, and PAGE_EMPTY, having written
// nothing and reported it, for an empty file, and PAGE_TOO_LARGE when the page reached one of
// the engine's page bounds (its output is then cut). A UTF-8 byte-order mark before the
// title is not part of it.
PageResult write_page(FILE *outf, FILE *inf, const char *name);
// Returns 0 when indir and outdir differ; otherwise prints two lines on standard error and
// returns 1.
int check_dir();
// Builds every page of the input directory (and subdir).
void bld_all_page();
// Builds the pages whose output is missing or older than their page file.
void bld_upd_pages();
// Returns 1 when the page fname needs no build (or cannot be judged), 0 when it must be built.
int updated(const char *fname);
// Runs the console menu until a confirmed quit or the end of standard input.
void do_interact();

// Returns the exit status of a command-line run whose arguments were all taken: 2 when during
// the run a page could not be built or written, a batch could not run, the library could not
// be read or an include could not be expanded; else 0.
int run_status();
// Flushes standard output. When that or an earlier write to it failed, reports it and
// returns 2; else returns status.
int flush_standard_output(int status);

#endif
