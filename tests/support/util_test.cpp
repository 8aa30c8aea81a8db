#include "support/util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/resource.h>

#include "sanitized.h"

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
    // A size of 0 still gives a block (a null result would read as failure), and resizing a
    // block to 0 does not free it.
    void *none = xmalloc(0);
    EXPECT_NE(none, nullptr);
    std::free(none);
    char *kept = static_cast<char *>(xrealloc(xstrdup("x"), 0));
    EXPECT_NE(kept, nullptr);
    std::free(kept);
}

TEST(DieOutOfMemory, PrintsMessageAndExitsWithThree)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(die_out_of_memory(), testing::ExitedWithCode(3), "^out of memory\n$");
}

static void allocate_beyond_address_space()
{
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = size_t{1} << 30;
    setrlimit(RLIMIT_AS, &limit);
    std::free(xmalloc(size_t{2} << 30));
}

TEST(Xalloc, FailedAllocationEndsTheRunWithThree)
{
    if (sanitized_build)
        GTEST_SKIP() << "the sanitizers' allocator reports a failed allocation itself";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(allocate_beyond_address_space(), testing::ExitedWithCode(3), "^out of memory\n$");
}
