// The example site under examples/ builds cleanly and shows what it claims to show.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_tovrel.h"

namespace {

bool contains(const std::string &text, const std::string &part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(ExampleSite, BuildsEveryPageWithoutMessages)
{
    Sandbox box;
    std::filesystem::copy(std::string(TOVREL_SOURCE_DIR) + "/examples/include",
                          box.site + "/include");
    std::filesystem::copy(std::string(TOVREL_SOURCE_DIR) + "/examples/in", box.site + "/in");
    std::filesystem::create_directory(box.site + "/out");
    RunResult r = run_tovrel(box, {"-a"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "tovrel: Terminating\n");
    EXPECT_EQ(r.err, "");
    ASSERT_EQ(dir_names(box.site + "/out"),
              (std::vector<std::string>{"about.html", "index.html", "news.html"}));

    struct Page {
        const char *file;
        const char *title;
        bool sub_menu;
    } pages[] = {{"about", "About", false}, {"index", "Home", true}, {"news", "News", true}};
    for (const Page &p : pages) {
        std::string html = read_file(box.site + "/out/" + p.file + ".html");
        std::string title = p.title;
        EXPECT_EQ(html.rfind("<!DOCTYPE html>\n", 0), 0u) << p.file;
        EXPECT_TRUE(html.ends_with("</body>\n</html>\n")) << p.file;
        EXPECT_TRUE(contains(html, "<title>" + title + " - Example Site</title>")) << p.file;
        EXPECT_TRUE(contains(html, "<b>" + title + "</b>\n")) << p.file;
        EXPECT_TRUE(contains(html, "<h1>" + title + "</h1>")) << p.file;
        EXPECT_EQ(contains(html, "<aside class=\"submenu\">"), p.sub_menu) << p.file;
        EXPECT_EQ(contains(html, "<!-- no sub-links -->"), !p.sub_menu) << p.file;
        EXPECT_FALSE(contains(html, "<a href=\"" + std::string(p.file) + ".html\">" + title))
            << p.file;
    }
    // Variables set for one page do not leak into the next: index has no section.
    std::string index = read_file(box.site + "/out/index.html");
    EXPECT_TRUE(contains(index, "&copy; 2026 Example Site &middot; Home</p>"));
    EXPECT_TRUE(contains(index, "<li><a href=\"about.html\">About this site</a></li>"));
    std::string news = read_file(box.site + "/out/news.html");
    EXPECT_TRUE(contains(news, "<li>2026-12-01: The site is built with tovrel.\n"
                               "<strong>new</strong></li>\n<li>2026-11-15: The first page is "
                               "online.\n</li>\n"));
}
