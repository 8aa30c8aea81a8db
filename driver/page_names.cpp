#include "driver/page_names.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/dir.h"
#include "support/prodlist.h"

std::string page_of_argument(const char *arg)
{
    std::string name(arg);
    name.resize(std::min(name.find(".htm"), name.size()));
    size_t sep = name.rfind('/');
    if (sep == std::string::npos)
        sep = name.rfind('\\');
    if (sep != std::string::npos)
        name.erase(0, sep + 1);
    return name;
}

std::string page_of_name(const char *name)
{
    std::string page(name);
    page.resize(std::min(page.find(".html"), page.size()));
    return page;
}

bool page_of_entry(const char *entry, std::string *page)
{
    const char *suffix = std::strstr(entry, ".html");
    if (entry[0] == '.' || suffix == nullptr)
        return false;
    page->assign(entry, static_cast<size_t>(suffix - entry));
    return true;
}

std::vector<std::string> list_pages(const std::string &dir, bool *listed)
{
    using AlphaGuard = std::unique_ptr<ProdAlphaList, decltype(&free_alpha_prodlist)>;
    AlphaGuard names(list_files_in_directory(dir.c_str()), &free_alpha_prodlist);
    *listed = names != nullptr;
    std::vector<std::string> pages;
    std::string page;
    for (int i = 0; names && i < names->nitems; i++)
        if (page_of_entry(names->item[i], &page))
            pages.push_back(page);
    return pages;
}
