// The three ways a name means a page: a command-line argument, a name handed to a build, a
// directory entry.
#include "driver/page_names.h"

#include <gtest/gtest.h>

#include <string>

TEST(PageNames, EachSourceOfANameHasItsOwnCut)
{
    struct Case {
        const char *name, *argument, *build, *entry; // entry "-" when it is no page
    };
    const Case cases[] = {
        {"index.html", "index", "index", "index"},
        {"index.html.bak", "index", "index", "index"},
        {"index.htm", "index", "index.htm", "-"},
        {"sub/news.html", "news", "sub/news", "sub/news"},
        {"dir\\news.htm", "news", "dir\\news.htm", "-"},
        {"a/b\\c.html", "b\\c", "a/b\\c", "a/b\\c"},
        {"NEWS.HTML", "NEWS.HTML", "NEWS.HTML", "-"},
        {".hidden.html", ".hidden", ".hidden", "-"},
        {"x.htmlx.html", "x", "x", "x"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(page_of_argument(c.name), c.argument) << c.name;
        EXPECT_EQ(page_of_name(c.name), c.build) << c.name;
        std::string page = "-";
        page_of_entry(c.name, &page);
        EXPECT_EQ(page, c.entry) << c.name;
    }
}
