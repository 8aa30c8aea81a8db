#include "support/read_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

void close_file(FILE *fp)
{
    if (fp)
        std::fclose(fp);
}
using FileGuard = std::unique_ptr<FILE, decltype(&close_file)>;

// An unnamed temporary file holding text, positioned at its start.
FileGuard file_with(const std::string &text)
{
    FileGuard fp(std::tmpfile(), &close_file);
    EXPECT_NE(fp, nullptr);
    if (!fp)
        return fp;
    EXPECT_EQ(std::fwrite(text.data(), 1, text.size(), fp.get()), text.size());
    std::rewind(fp.get());
    return fp;
}

// Reads until the first result other than 0; returns the lines and that final result.
std::pair<std::vector<std::string>, int> read_all(FILE *fp)
{
    std::vector<std::string> lines;
    char buf[READ_LINE_BUFSIZE];
    int rc;
    while ((rc = read_line(buf, fp)) == 0)
        lines.emplace_back(buf);
    return {lines, rc};
}

std::vector<std::string> whole_lines(FILE *fp)
{
    std::vector<std::string> lines;
    std::string line = "stale";
    while (read_whole_line(&line, fp))
        lines.push_back(line);
    return lines;
}

using Lines = std::vector<std::string>;

} // namespace

TEST(ReadLine, LinesWithoutTheirLineEnds)
{
    struct {
        std::string text;
        Lines lines;
    } cases[] = {
        {"", {}},
        {"one\ntwo", {"one", "two"}},
        {"one\ntwo\n", {"one", "two"}},
        {"\n\nlast\n", {"", "", "last"}},
        {"dos\r\nline\r\n", {"dos", "line"}},
        {"before\rafter\nnext\n", {"before", "next"}},
        {"lone cr\r", {"lone cr"}},
    };
    for (const auto &c : cases) {
        FileGuard fp = file_with(c.text);
        auto [lines, rc] = read_all(fp.get());
        EXPECT_EQ(lines, c.lines) << "text: " << c.text;
        EXPECT_EQ(rc, -1);
    }
}

TEST(ReadLine, LongLinesArriveInPiecesOf511)
{
    FileGuard fp = file_with(std::string(1200, 'a') + "\nnext\n");
    auto [lines, rc] = read_all(fp.get());
    ASSERT_EQ(lines.size(), 4U);
    EXPECT_EQ(lines[0], std::string(511, 'a'));
    EXPECT_EQ(lines[1], std::string(511, 'a'));
    EXPECT_EQ(lines[2], std::string(178, 'a'));
    EXPECT_EQ(lines[3], "next");

    // Exactly 511 characters fill the buffer; the line feed then reads as an empty line.
    FileGuard exact = file_with(std::string(511, 'b') + "\nx\n");
    EXPECT_EQ(read_all(exact.get()).first, (Lines{std::string(511, 'b'), "", "x"}));
    FileGuard one_less = file_with(std::string(510, 'c') + "\nx\n");
    EXPECT_EQ(read_all(one_less.get()).first, (Lines{std::string(510, 'c'), "x"}));
}

TEST(ReadLine, NullArgumentsReadNothingAndReadErrorEndsReading)
{
    FileGuard text = file_with("first\n");
    char buf[READ_LINE_BUFSIZE];
    EXPECT_EQ(read_line(nullptr, text.get()), 1);
    EXPECT_EQ(read_line(buf, nullptr), 1);
    EXPECT_EQ(read_all(text.get()), std::make_pair(Lines{"first"}, -1)); // nothing was taken

    FILE *fp = std::fopen("/dev/null", "w"); // reading a write-only stream fails
    ASSERT_NE(fp, nullptr);
    EXPECT_EQ(read_line(buf, fp), -1);
    std::string line;
    EXPECT_FALSE(read_whole_line(&line, fp));
    std::fclose(fp);
}

TEST(ReadWholeLine, KeepsLineEndsNulBytesAndLength)
{
    std::string text = "short\n";
    text += std::string(100000, 'z') + "\r\n";
    text += std::string("nul\0inside\n", 11);
    text += "\n";
    text += "no final line feed";
    FileGuard fp = file_with(text);
    Lines lines = whole_lines(fp.get());
    ASSERT_EQ(lines.size(), 5U);
    EXPECT_EQ(lines[0], "short\n");
    EXPECT_EQ(lines[1], std::string(100000, 'z') + "\r\n");
    EXPECT_EQ(lines[2], std::string("nul\0inside\n", 11));
    EXPECT_EQ(lines[3], "\n");
    EXPECT_EQ(lines[4], "no final line feed");
    Lines held_lines; // the same text held in memory is cut the same way
    TextLines held{text.data(), text.data() + text.size()};
    for (std::string_view line; next_text_line(&held, &line);)
        held_lines.emplace_back(line);
    EXPECT_EQ(held_lines, lines);

    FileGuard empty = file_with("");
    EXPECT_TRUE(whole_lines(empty.get()).empty());
    std::string line;
    EXPECT_FALSE(read_whole_line(&line, nullptr));
    EXPECT_FALSE(read_whole_line(nullptr, empty.get()));
}

TEST(ReadWholeLine, InterleavesWithReadLine)
{
    FileGuard fp = file_with("title\nbody one\nbody two\n");
    char buf[READ_LINE_BUFSIZE];
    ASSERT_EQ(read_line(buf, fp.get()), 0);
    EXPECT_STREQ(buf, "title");
    EXPECT_EQ(whole_lines(fp.get()), (Lines{"body one\n", "body two\n"}));
}

TEST(CrOnlyLineEnds, OnlyAFirstLineWithoutLfAndWithAnInnerCrQualifies)
{
    struct Case {
        std::string first_line;
        bool cr_only;
    } cases[] = {
        {"a\rb\rc\r", true}, {"a\rb", true},   {"\r\r", true}, {"a\r", false}, {"a\rb\n", false},
        {"a\r\n", false},    {"plain", false}, {"", false},    {"\r", false},  {"x\r\r\n", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(has_only_cr_line_ends(c.first_line), c.cr_only) << c.first_line;
}
