#include "support/dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace fs = std::filesystem;

namespace {

using AlphaGuard = std::unique_ptr<ProdAlphaList, decltype(&free_alpha_prodlist)>;

void touch(const fs::path &file)
{
    std::ofstream out(file);
    EXPECT_TRUE(out.good()) << file;
}

std::vector<std::string> names_of(const ProdAlphaList *list)
{
    std::vector<std::string> names;
    for (int i = 0; i < list->nitems; i++)
        names.emplace_back(list->item[i]);
    return names;
}

class ListFiles : public testing::Test {
  protected:
    void SetUp() override
    {
        dir = make_temp_dir("dir_test.");
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    AlphaGuard list() const
    {
        return AlphaGuard(list_files_in_directory(dir.c_str()), &free_alpha_prodlist);
    }
    fs::path dir;
};

} // namespace

TEST_F(ListFiles, EmptyDirectoryGivesEmptyList)
{
    AlphaGuard names = list();
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(names->nitems, 0);
    EXPECT_EQ(names->maxitems, 10);
    EXPECT_EQ(names->delta, 10);
}

TEST_F(ListFiles, ByteOrderWithoutHiddenNamesSubdirectoriesIncluded)
{
    for (const char *name : {"beta.html", "alpha.html", "Zeta.html", "9.html", ".hidden", "_x"})
        touch(dir / name);
    fs::create_directory(dir / "sub");
    fs::create_directory(dir / ".git");
    AlphaGuard names = list();
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(names_of(names.get()), (std::vector<std::string>{"9.html", "Zeta.html", "_x",
                                                               "alpha.html", "beta.html", "sub"}));
    // The names are writable copies the caller may shorten in place.
    names->item[0][1] = '\0';
    EXPECT_STREQ(names->item[0], "9");
}

TEST_F(ListFiles, CapacityGrowsInStepsOfTen)
{
    struct {
        int count;
        int capacity;
    } steps[] = {{1, 10}, {10, 10}, {11, 20}, {20, 20}, {25, 30}};
    int made = 0;
    for (auto step : steps) {
        for (; made < step.count; made++) {
            char name[32];
            std::snprintf(name, sizeof name, "p%03d.html", made);
            touch(dir / name);
        }
        AlphaGuard names = list();
        ASSERT_NE(names, nullptr);
        EXPECT_EQ(names->nitems, step.count);
        EXPECT_EQ(names->maxitems, step.capacity) << step.count << " names";
        char last[32];
        std::snprintf(last, sizeof last, "p%03d.html", step.count - 1);
        EXPECT_STREQ(names->item[0], "p000.html");
        EXPECT_STREQ(names->item[step.count - 1], last);
    }
}

TEST_F(ListFiles, MissingPathOrFileGivesNull)
{
    touch(dir / "page.html");
    EXPECT_EQ(list_files_in_directory((dir / "page.html").c_str()), nullptr);
    EXPECT_EQ(list_files_in_directory((dir / "nothing").c_str()), nullptr);
    EXPECT_EQ(list_files_in_directory(nullptr), nullptr);
}
