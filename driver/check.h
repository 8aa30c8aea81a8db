// Check mode (-c): checks the include library and every page of the input directory (and
// subdirectory) as a build of all pages would meet them, writing nothing, and reports each
// mistake found as "PATH:LINE: error|warning|note: TEXT" on standard error.
#ifndef CHECK_H
#define CHECK_H

#include <cstdio>

// Checks the library and every page, then prints "N pages checked: E errors, W warnings" on
// standard output. The variables and the argument count are put back as they were before.
// Returns the number of errors found.
int check_site();

// Reads the title and header lines of the page file in, read from path, as the build will,
// warning of links that lead nowhere and of include and sub-link lines among the headers;
// then rewinds it. Returns the line the body starts at, or 0 when the page is empty.
int scan_header(FILE *in, const char *path);

// Returns how many errors all checks of this run have found: a run that found any failed.
int check_errors_total();

#endif
