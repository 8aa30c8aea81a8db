#include "driver/check_links.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "engine/bld_html.h"
#include "support/util.h"

namespace {

// The links that lead nowhere written by one library line.
struct LinkGroup {
    std::string path; // the library's
    int line = 0;
    int shown = 0; // warned of
    int more = 0;  // counted only
};

struct LinkState {
    std::string indir, outdir, subdir;
    std::string page;                                 // the path of the page being checked
    std::unordered_set<std::string_view> pages;       // the names of the pages, without ".html"
    std::unordered_map<std::string, int> verdicts;    // link's path -> LINK_FOUND ...
    std::unordered_set<std::string> met;              // "place link" of a library line
    std::unordered_map<std::string, size_t> group_of; // "path:line" -> index in groups
    std::vector<LinkGroup> groups;                    // in the order of their first link
};
LinkState links;

enum LinkVerdict { LINK_FOUND, LINK_MISSING, LINK_OUTSIDE };

// The lookups kept at most: the links of the library's lines repeat on every page, those of
// the pages mostly do not, so a bounded cache keeps the memory of a large site small.
constexpr size_t max_cached = 512;
// The links that lead nowhere shown for one library line; the rest are counted in a note.
constexpr int shown_per_line = 3;

bool is_name_char(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == ':';
}

// True when the attribute name that ends just before end (blanks skipped) is word.
bool attribute_before(std::string_view text, size_t end, const char *word)
{
    while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        end--;
    size_t len = std::strlen(word);
    if (end < len || (end > len && is_name_char(text[end - len - 1])))
        return false;
    for (size_t i = 0; i < len; i++)
        if (to_lower_ascii(text[end - len + i]) != word[i])
            return false;
    return true;
}

// The attribute value that starts after the '=' at eq (blanks skipped), quoted or not.
std::string_view value_after(std::string_view text, size_t eq)
{
    size_t at = text.find_first_not_of(" \t", eq + 1);
    if (at == std::string_view::npos)
        return {};
    if (text[at] == '"' || text[at] == '\'') {
        size_t end = text.find(text[at], at + 1);
        return text.substr(at + 1, (end == std::string_view::npos ? text.size() : end) - at - 1);
    }
    size_t end = text.find_first_of(" \t\r\n>", at);
    return text.substr(at, (end == std::string_view::npos ? text.size() : end) - at);
}

// True when link names a scheme (http:, mailto:, ...) before any '/', '?' or '#'.
bool has_scheme(std::string_view link)
{
    size_t colon = link.find(':');
    return colon != std::string_view::npos && colon < link.find_first_of("/?#");
}

// link with its %XX escapes decoded.
std::string decode_escapes(std::string_view link)
{
    std::string decoded;
    for (size_t i = 0; i < link.size(); i++) {
        unsigned char byte = 0;
        const char *hex = link.data() + i + 1;
        if (link[i] == '%' && i + 2 < link.size() &&
            std::from_chars(hex, hex + 2, byte, 16).ptr == hex + 2) {
            decoded += static_cast<char>(byte);
            i += 2;
        } else {
            decoded += link[i];
        }
    }
    return decoded;
}

// The path of link, with %XX escapes decoded, resolved against the pages' directory below
// the site's root; false when it leads above the root (on its way or in the end).
bool resolve(std::string_view link, std::string *path)
{
    std::string whole = decode_escapes(link);
    if (!links.subdir.empty())
        whole = links.subdir + "/" + whole;
    // Relative to the root, whatever its slashes: "..", kept first, then says it leads above.
    whole.erase(0, std::min(whole.find_first_not_of('/'), whole.size()));
    *path = std::filesystem::path(whole).lexically_normal().generic_string();
    if (*path == "." || *path == "./")
        path->clear();
    while (!path->empty() && path->back() == '/')
        path->pop_back();
    return !(*path == ".." || path->starts_with("../"));
}

// True when path (below the site's root) is a page the input directory builds, or a file or
// directory of the output directory, or an HTML file of the input directory.
bool target_exists(const std::string &path)
{
    std::string_view name(path);
    if (!links.subdir.empty() && name.starts_with(links.subdir + "/"))
        name.remove_prefix(links.subdir.size() + 1);
    if (name.ends_with(".html") && name.find('/') == std::string_view::npos &&
        links.pages.count(name.substr(0, name.size() - 5)) > 0)
        return true;
    struct stat st;
    return stat((links.outdir + "/" + path).c_str(), &st) == 0 ||
           (path.ends_with(".html") && stat((links.indir + "/" + path).c_str(), &st) == 0 &&
            S_ISREG(st.st_mode));
}

// The verdict on the link's path file (query and fragment dropped), remembered.
int judge_path(std::string_view file)
{
    std::string key(file);
    auto known = links.verdicts.find(key);
    if (known != links.verdicts.end())
        return known->second;
    std::string resolved;
    int verdict = !resolve(file, &resolved)                     ? LINK_OUTSIDE
                  : resolved.empty() || target_exists(resolved) ? LINK_FOUND
                                                                : LINK_MISSING;
    if (links.verdicts.size() >= max_cached)
        links.verdicts.clear();
    links.verdicts.emplace(std::move(key), verdict);
    return verdict;
}

void warn_link(int verdict, std::string_view link, const char *path, int line)
{
    std::string shown = clip_text(link);
    if (verdict == LINK_MISSING)
        diag_inc(DIAG_WARNING, path, line,
                 "link '%s' leads to no page of the input directory and no file of the output "
                 "directory",
                 shown.c_str());
    else
        diag_inc(DIAG_WARNING, path, line, "link '%s' leads outside the site", shown.c_str());
}

// Judges one link value found at line of path.
void judge_link(std::string_view link, const char *path, int line)
{
    if (link.empty() || link[0] == '/' || link[0] == '#' || has_scheme(link) ||
        link.find("$[") != std::string_view::npos)
        return;
    int verdict = judge_path(link.substr(0, std::min(link.find_first_of("?#"), link.size())));
    if (verdict == LINK_FOUND)
        return;
    if (links.page == path) { // a page's own text line
        warn_link(verdict, link, path, line);
        return;
    }
    // A library line: a sub-menu item's link is shown at the page's sub-link line that gave
    // it, and each library line shows its first few links and counts the rest.
    const char *page = nullptr;
    int page_line = check_sublink_line_inc(&page);
    const char *place = page_line > 0 ? page : path;
    int place_line = page_line > 0 ? page_line : line;
    std::string met = strprintf("%s:%d:%d ", place, place_line, line).append(link);
    // Only links that lead nowhere are kept, so the set grows with the warnings alone.
    if (!links.met.insert(std::move(met)).second)
        return;
    std::string key = strprintf("%s:%d", path, line);
    auto [at, added] = links.group_of.try_emplace(key, links.groups.size());
    if (added)
        links.groups.push_back({path, line, 0, 0});
    LinkGroup &group = links.groups[at->second];
    if (group.shown == shown_per_line) {
        group.more++;
        return;
    }
    group.shown++;
    warn_link(verdict, link, place, place_line);
    if (page_line > 0)
        diag_inc(DIAG_NOTE, path, line, "the sub-menu item is written here");
}

} // namespace

void begin_links(const char *indir, const char *outdir, const char *subdir,
                 const std::vector<std::string> &pages)
{
    links = LinkState();
    links.indir = indir;
    links.outdir = outdir;
    links.subdir = subdir;
    links.pages.insert(pages.begin(), pages.end());
}

void begin_page_links(const char *page)
{
    links.page = page;
}

void scan_links(const char *text, size_t len, const char *path, int line)
{
    std::string_view all(text, len);
    for (size_t eq = all.find('='); eq != std::string_view::npos; eq = all.find('=', eq + 1))
        if (attribute_before(all, eq, "href") || attribute_before(all, eq, "src"))
            judge_link(value_after(all, eq), path, line);
}

void end_links()
{
    for (const LinkGroup &group : links.groups)
        if (group.more > 0)
            diag_inc(DIAG_NOTE, group.path.c_str(), group.line,
                     "%d more link%s written here lead%s nowhere", group.more,
                     group.more == 1 ? "" : "s", group.more == 1 ? "s" : "");
    links = LinkState();
}
