#include "support/splitfld.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct SplitCase {
    const char *text;
    int skip;
    int maxflds;
    std::vector<std::string> fields;
};

std::vector<std::string> split(std::string *text, int skip, int maxflds)
{
    std::vector<char *> flds(8, nullptr);
    int n = split_flds(text->data(), flds.data(), '|', skip, maxflds);
    std::vector<std::string> out;
    for (int i = 0; i < n; i++)
        out.emplace_back(flds[i]);
    for (size_t i = static_cast<size_t>(n); i < flds.size(); i++)
        EXPECT_EQ(flds[i], nullptr) << "slot " << i << " written beyond the count";
    return out;
}

} // namespace

TEST(SplitFlds, FieldsForEachDelimiterLayout)
{
    const SplitCase cases[] = {
        {"", 0, 3, {}},
        {"abc", 0, 3, {"abc"}},
        {"a|b", 0, 3, {"a", "b"}},
        {"a||b", 0, 3, {"a", "", "b"}},
        {"a||b", 1, 3, {"a", "b"}},
        {"|a", 0, 3, {"", "a"}},
        {"|a", 1, 3, {"", "a"}},
        {"||a", 1, 3, {"", "a"}},
        {"a|", 0, 3, {"a", ""}},
        {"a|", 1, 3, {"a", ""}},
        {"a||", 0, 5, {"a", "", ""}},
        {"a||", 1, 5, {"a", ""}},
        {"|", 0, 3, {"", ""}},
        {"a|b|c", 0, 2, {"a", "b"}},
        {"a|b|", 0, 2, {"a", "b"}},
        {"a|b|c|", 0, 3, {"a", "b", "c"}},
        {"a|b|c|", 0, 4, {"a", "b", "c", ""}},
    };
    for (const SplitCase &c : cases) {
        std::string text = c.text;
        EXPECT_EQ(split(&text, c.skip, c.maxflds), c.fields)
            << "text '" << c.text << "' skip " << c.skip << " max " << c.maxflds;
    }
}

TEST(SplitFlds, LastRecordedFieldDoesNotTakeTheRest)
{
    std::string text = "a|b|c";
    std::vector<char *> flds(2);
    ASSERT_EQ(split_flds(text.data(), flds.data(), '|', 0, 2), 2);
    // The delimiter after b is cut, so the text itself now ends after b.
    EXPECT_STREQ(text.c_str(), "a");
    EXPECT_EQ(text[3], '\0');
    EXPECT_STREQ(flds[1], "b");
    EXPECT_EQ(text[4], 'c');
}

TEST(SplitFlds, NoFieldsLeaveTextAndTableUntouched)
{
    std::string text = "a|b";
    char *flds[2] = {nullptr, nullptr};
    EXPECT_EQ(split_flds(text.data(), flds, '|', 0, 0), 0);
    EXPECT_EQ(split_flds(text.data(), flds, '|', 0, -1), 0);
    EXPECT_EQ(text, "a|b");
    EXPECT_EQ(split_flds(nullptr, flds, '|', 0, 2), 0);
    EXPECT_EQ(flds[0], nullptr);
    EXPECT_EQ(flds[1], nullptr);
}

TEST(SplitFlds, FieldsPointIntoTheText)
{
    std::string text = "name|value";
    char *flds[2];
    ASSERT_EQ(split_flds(text.data(), flds, '|', 0, 2), 2);
    EXPECT_EQ(flds[0], text.data());
    EXPECT_EQ(flds[1], text.data() + 5);
}
