#include "support/util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

TEST(Strprintf, FormatsTextsOfAnyLength)
{
    EXPECT_EQ(strprintf("%s-%d", "page", 42), "page-42");
    EXPECT_EQ(strprintf("%s", ""), "");
    std::string long_text(100000, 'x');
    EXPECT_EQ(strprintf("<%s>", long_text.c_str()), "<" + long_text + ">");
}

TEST(Xalloc, CopiesAndGrows)
{
    char *copy = xstrdup("include");
    EXPECT_STREQ(copy, "include");
    copy = static_cast<char *>(xrealloc(copy, 4096));
    EXPECT_STREQ(copy, "include");
    std::free(copy);
    // A size of 0 still gives a block that free accepts.
    std::free(xmalloc(0));
    std::free(xrealloc(nullptr, 0));
}

TEST(DieOutOfMemory, PrintsMessageAndExitsWithThree)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(die_out_of_memory(), testing::ExitedWithCode(3), "^out of memory\n$");
}
