// The local links of checked pages: every href or src that names no page of the input
// directory and no file of the output directory is reported where its text comes from.
#ifndef CHECK_LINKS_H
#define CHECK_LINKS_H

#include <cstddef>
#include <string>
#include <vector>

// Starts a check of links for the pages in the directory subdir (may be empty) below indir
// and outdir. The strings are copied; pages (the pages' names without ".html") is borrowed
// until end_links.
void begin_links(const char *indir, const char *outdir, const char *subdir,
                 const std::vector<std::string> &pages);

// The page at path is checked next.
void begin_page_links(const char *page);

// Looks through len bytes of text that a page's build writes, coming from line of path,
// and warns of each local link that leads nowhere. A library line's links are warned of once
// each, at most three of them (a sub-menu item's at the page's sub-link line, with a note at
// the library line); end_links counts the rest.
void scan_links(const char *text, size_t len, const char *path, int line);

// Notes, at each library line with more links that lead nowhere than it showed, how many
// more there are; then forgets what the check of links learnt.
void end_links();

#endif
