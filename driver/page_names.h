// Which page a name means, in the three places a name comes from, and the pages of the input
// directory in the order every batch takes them (-a, -u, -c and the watch mode).
#ifndef PAGE_NAMES_H
#define PAGE_NAMES_H

#include <string>
#include <vector>

// The page a file argument of the command line names: the argument cut at its first ".htm",
// without its directory part (up to the last '/', or the last '\' when there is no '/').
std::string page_of_argument(const char *arg);

// The page a name handed to a build names: the name cut at its first ".html". A directory
// part stays and names a page below both directories.
std::string page_of_name(const char *name);

// Sets *page to the page a directory entry is: an entry is a page when its name holds
// ".html" (case-sensitive), and its page is the name cut there. Returns false, leaving *page,
// for other names and for names beginning with '.', which a listing never holds.
bool page_of_entry(const char *entry, std::string *page);

// The pages of the directory dir in listing order (ascending bytes), a page twice when two
// entries are that page ("a.html", "a.html.bak"). *listed is false, and the list empty, when
// dir cannot be read.
std::vector<std::string> list_pages(const std::string &dir, bool *listed);

#endif
