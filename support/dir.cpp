#include "support/dir.h"

#include "support/util.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <vector>

static void close_dir(DIR *dir)
{
    closedir(dir); // read only: nothing to report
}
using DirGuard = std::unique_ptr<DIR, decltype(&close_dir)>;

static void free_names(std::vector<char *> *names)
{
    for (char *name : *names)
        std::free(name);
    names->clear();
}

// Collects heap copies of the names in dir that do not begin with '.'. Returns false (with
// nothing left in names) when reading the directory fails part way, so a listing is never
// silently short.
static bool collect_names(DIR *dir, std::vector<char *> *names)
{
    for (;;) {
        errno = 0;
        const dirent *entry = readdir(dir);
        if (!entry)
            break;
        if (entry->d_name[0] != '.')
            names->push_back(xstrdup(entry->d_name));
    }
    if (errno == 0)
        return true;
    free_names(names);
    return false;
}

// Sorts the names and releases duplicates, as sorted insertion one by one would have.
static void sort_unique_names(std::vector<char *> *names)
{
    auto less = [](const char *a, const char *b) { return std::strcmp(a, b) < 0; };
    std::sort(names->begin(), names->end(), less);
    auto same = [](const char *a, const char *b) { return std::strcmp(a, b) == 0; };
    auto end = names->begin();
    for (auto it = names->begin(); it != names->end(); ++it) {
        if (end != names->begin() && same(*(end - 1), *it))
            std::free(*it);
        else
            *end++ = *it;
    }
    names->erase(end, names->end());
}

ProdAlphaList *list_files_in_directory(const char *path)
{
    if (!path)
        return nullptr;
    std::vector<char *> names;
    {
        DirGuard dir(opendir(path), &close_dir);
        if (!dir || !collect_names(dir.get(), &names))
            return nullptr;
    }
    sort_unique_names(&names);
    ProdAlphaList *list = create_alpha_prodlist(10);
    if (!list) {
        free_names(&names);
        return nullptr;
    }
    // The capacity that inserting the names one at a time (growing by 10) would reach.
    int n = static_cast<int>(names.size());
    if (n > 10)
        resize_alpha_prodlist(list, (n + 9) / 10 * 10);
    for (char *name : names)
        list->item[list->nitems++] = name;
    return list;
}
