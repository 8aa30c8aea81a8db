// Stress runs of the real program: very long lines, a very large page, many macros and
// variables, deep nesting, many fields, binary bytes, other line ends, and files that cannot be
// read or written. Inputs are generated here into a fresh temporary site; every run must end
// with the exact output or a clear message, and a failed page leaves the earlier one intact.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "run_tovrel.h"

namespace {

constexpr size_t megabyte = 1 << 20;

// n letters in a pattern that depends on seed, so neighbouring texts differ.
std::string letters(size_t n, unsigned seed)
{
    std::string text(n, 'a');
    for (size_t i = 0; i < n; i++)
        text[i] = static_cast<char>('a' + (i * 7 + seed) % 26);
    return text;
}

// The decimal i, zero-padded to six digits, so names sort as their numbers do.
std::string six_digits(int i)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%06d", i);
    return buf;
}

std::string repeated(const std::string &text, size_t times)
{
    std::string out;
    out.reserve(text.size() * times);
    for (size_t i = 0; i < times; i++)
        out += text;
    return out;
}

// A site with the test library plus extra macros.
void make_site_with(const Sandbox &box, const std::string &extra_macros)
{
    make_site(box);
    write_file(box.site + "/include/include.txt", std::string(test_library()) + extra_macros);
}

} // namespace

TEST(Stress, MegabyteLinesInPagesAreKeptWhole)
{
    Sandbox box;
    make_site_with(box, ">Show\n[$[big]]\n>\n");
    std::string title = letters(megabyte, 1), header = letters(megabyte, 2);
    std::string text = letters(megabyte, 3), arg = letters(megabyte, 4);
    std::string value = letters(megabyte, 5);
    std::string exec = ">!set|big|" + value + "|\n";
    write_file(box.site + "/in/p.html", title + "\n" + header + "\n\n" + text + "\n>SubLink|" +
                                            arg + "|a.html\n" + exec + "  ]Show\n");
    RunResult r = run_tovrel(box, {"p"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "tovrel: Terminating\n");
    EXPECT_EQ(r.err, "Executing include (" + exec + ")\n");
    EXPECT_EQ(read_file(box.site + "/out/p.html"),
              framed_page(title, header + "\n",
                          text + "\n<link " + arg + " a.html>\n[" + value + "]\n",
                          "<item " + arg + " a.html>\n"));
}

TEST(Stress, MegabyteLinesInTheLibraryAreKeptWhole)
{
    Sandbox box;
    std::string name = letters(megabyte, 6), line = letters(megabyte, 7);
    std::string upper_name = name;
    for (char &c : upper_name)
        c = static_cast<char>(c - 'a' + 'A');
    // A line of 1 MB with a reference every kilobyte. (Far denser references make the
    // sanitizer build crawl: its string checks measure the rest of the line on every search.)
    const std::string chunk = letters(1020, 8);
    make_site_with(box, ">" + name + "\n" + line + "\n" + repeated("$[1]" + chunk, 1024) + "\n>\n");
    write_file(box.site + "/in/p.html", "T\n\n>" + upper_name + "|ab\n");
    RunResult r = run_tovrel(box, {"p"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(box.site + "/out/p.html"),
              framed_page("T", "", line + "\n" + repeated("ab" + chunk, 1024) + "\n"));
}

TEST(Stress, PagesSmallAndVeryLargeBuildAlike)
{
    // Small pages are read into memory once; pages beyond a megabyte are read as a stream.
    // Both must give the whole page, sub-menu pass included.
    for (size_t page_bytes : {size_t{100}, 50 * megabyte}) {
        Sandbox box;
        make_site(box);
        std::string page = "Large\nmeta\n\n", body, items;
        page.reserve(page_bytes + 200);
        body.reserve(page_bytes + 200);
        const std::string text = letters(99, 8) + "\n";
        for (int i = 0; page.size() < page_bytes; i++) {
            if (i % 1000 == 1) {
                std::string n = std::to_string(i);
                page += ">SubLink|" + n + "|p" + n + ".html\n";
                body += "<link " + n + " p" + n + ".html>\n";
                items += "<item " + n + " p" + n + ".html>\n";
            } else {
                page += text;
                body += text;
            }
        }
        page += "  ]SubLink|end|e.html"; // the last line without its line end
        body += "<link end e.html>\n";
        items += "<item end e.html>\n";
        write_file(box.site + "/in/large.html", page);
        write_file(box.site + "/out/large.html", "earlier page\n");
        RunResult r = run_tovrel(box, {"large"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(read_file(box.site + "/out/large.html") ==
                    framed_page("Large", "meta\n", body, items))
            << page_bytes;
        EXPECT_EQ(dir_names(box.site + "/out"), std::vector<std::string>{"large.html"});
    }
}

TEST(Stress, TenThousandMacrosAreAllFound)
{
    Sandbox box;
    const int count = 10000;
    std::string library, page = "T\n\n", body;
    for (int i = count - 1; i >= 0; i -= 2) // odd numbers downwards, then even ones upwards
        library += ">M" + std::to_string(i) + "\nm" + std::to_string(i) + ":$[1]\n>\n";
    for (int i = 0; i < count; i += 2)
        library += ">m" + std::to_string(i) + "\nm" + std::to_string(i) + ":$[1]\n>\n";
    library += ">M5000\nnew:$[1]\n>\n";
    for (int i = 0; i < count; i++) {
        std::string n = std::to_string(i);
        page += ">M" + n + "|" + n + "\n";
        body += (i == 5000 ? "new:" : "m" + n + ":") + n + "\n";
    }
    page += ">M10000|x\n";
    make_site_with(box, library);
    write_file(box.site + "/in/p.html", page);
    RunResult r = run_tovrel(box, {"p"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Macro m5000 overridden by new version\nunknown include (M10000)\n");
    EXPECT_EQ(read_file(box.site + "/out/p.html"), framed_page("T", "", body));
}

TEST(Stress, HundredThousandVariables)
{
    // 50,000 names (v...) come in ascending order through a macro from include lines, 49,800
    // (w...) in ascending order from exec lines; 200 more (u...), from exec lines in
    // descending order, would sort before all others. (The store keeps names in first-set
    // order with an index beside it; had it been a sorted array, names in descending order
    // would take seconds, and minutes in the sanitizer build.)
    Sandbox box;
    make_site_with(box, ">Set\n>!set|$[1]|$[2]\n>\n>Check\n$[v000000]/$[v025000]/$[v049999]/"
                        "$[w000000]/$[w049799]/$[u000000]/$[u000199]\n>\n");
    std::string page = "T\n\n", err;
    for (int i = 0; i < 50000; i++)
        page += ">Set|v" + six_digits(i) + "|" + std::to_string(i) + "\n";
    auto exec_set = [&](const std::string &name, int i) {
        std::string line = ">!set|" + name + six_digits(i) + "|" + std::to_string(i) + "|\n";
        page += line;
        err += "Executing include (" + line + ")\n";
    };
    for (int i = 0; i < 49800; i++)
        exec_set("w", i);
    for (int i = 199; i >= 0; i--)
        exec_set("u", i);
    page += ">Check\n>!set|v025000||\n>Check\n";
    write_file(box.site + "/in/p.html", page);
    RunResult r = run_tovrel(box, {"p"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.err == err + "Executing include (>!set|v025000||\n)\n");
    EXPECT_EQ(read_file(box.site + "/out/p.html"),
              framed_page("T", "", "0/25000/49999/0/49799/0/199\n0//49999/0/49799/0/199\n"));
}

TEST(Stress, NestingAtAndAboveTheLimit)
{
    // c1 includes c2 and so on up to c101: from c2 the chain is 100 levels deep, from c1 101.
    Sandbox box;
    std::string library = ">Loop\nx\n>loop\n>\n", from_c2, from_c1;
    for (int i = 1; i <= 101; i++) {
        std::string n = std::to_string(i);
        library += ">c" + n + "\n" + n + "\n" +
                   (i < 101 ? ">c" + std::to_string(i + 1) + "\n" : "") + ">\n";
        if (i >= 2)
            from_c2 += n + "\n";
        if (i <= 100)
            from_c1 += n + "\n";
    }
    make_site_with(box, library);
    write_file(box.site + "/in/p.html", "T\n\n>c2\n>c1\n>Loop\nafter\n");
    RunResult r = run_tovrel(box, {"p"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Include nesting too deep (c101)\nInclude nesting too deep (loop)\n");
    EXPECT_EQ(read_file(box.site + "/out/p.html"),
              framed_page("T", "", from_c2 + from_c1 + repeated("x\n", 100) + "after\n"));
}

TEST(Stress, IncludeTextsOfHundredFieldsAndMore)
{
    // The name and 99 arguments are taken; fields after the 100th are dropped.
    Sandbox box;
    make_site_with(box, ">Args\n$[nargs]:$[1]:$[99]:$[100]:$[arg99]:$[arg100]\n>\n");
    auto fields = [](int n) {
        std::string text = "Args";
        for (int i = 1; i < n; i++)
            text += "|a" + std::to_string(i);
        return text;
    };
    std::string page = "T\n\n>" + fields(99) + "\n>" + fields(100) + "\n>" + fields(101) + "\n>" +
                       fields(100000) + "\n>Args|z\n";
    write_file(box.site + "/in/p.html", page);
    RunResult r = run_tovrel(box, {"p"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(
        read_file(box.site + "/out/p.html"),
        framed_page("T", "", "99:a1::::\n" + repeated("100:a1:a99::a99:\n", 3) + "2:z::::\n"));
}

TEST(Stress, BinaryBytesPassThrough)
{
    // Every byte value but the line feed; page text lines keep even NUL bytes, while include
    // texts and library lines, being C strings, end at a NUL.
    Sandbox box;
    std::string all;
    for (int c = 1; c < 256; c++)
        if (c != '\n')
            all += static_cast<char>(c);
    std::string with_nul = "x" + all + std::string(1, '\0') + "after NUL";
    std::string high = "\x80\xfe\xff";
    make_site_with(box, ">Show\n<" + high + "$[1]>\n" + std::string("cut\0here\n", 9) + ">\n");
    write_file(box.site + "/in/p.html", "T\n" + all + "\n\n" + with_nul + "\n>Show|" + high +
                                            "\x01" + std::string(1, '\0') + "lost\n");
    RunResult r = run_tovrel(box, {"p"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(box.site + "/out/p.html"),
              framed_page("T", all + "\n", with_nul + "\n<" + high + high + "\x01>\ncut\n"));
}

TEST(Stress, CrLfFilesBuildLikeLfFiles)
{
    Sandbox box;
    std::string library = test_library(), crlf;
    for (char c : library)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    make_site(box);
    write_file(box.site + "/include/include.txt", crlf);
    write_file(box.site + "/in/p.html",
               "Dos\r\nh\r\n\r\nbody\r\n>SubLink|a|b.html\r\n>!set|v|1\r\n");
    RunResult r = run_tovrel(box, {"p"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Executing include (>!set|v|1\r\n)\n");
    EXPECT_EQ(read_file(box.site + "/out/p.html"),
              framed_page("Dos", "h\r\n", "body\r\n<link a b.html>\n", "<item a b.html>\n"));
}

TEST(Stress, CrOnlyFilesAreRefusedWithAMessage)
{
    // A file whose lines end in CR alone reads as one line; rather than a page holding its
    // title only, or a library defining nothing, the file is refused.
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/mac.html", "T\rh\r\rbody\r");
    write_file(box.site + "/in/one.html", "Title only\r");
    write_file(box.site + "/in/q.html", "Q\n\nbody\n");
    write_file(box.site + "/out/mac.html", "earlier page\n");
    RunResult r = run_tovrel(box, {"mac", "one", "q"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "tovrel: Page file has only CR line ends (in/mac.html)!\n");
    EXPECT_EQ(read_file(box.site + "/out/mac.html"), "earlier page\n");
    EXPECT_EQ(read_file(box.site + "/out/one.html"), framed_page("Title only", "", ""));
    EXPECT_EQ(dir_names(box.site + "/out"),
              (std::vector<std::string>{"mac.html", "one.html", "q.html"}));

    std::string cr_library = test_library();
    std::replace(cr_library.begin(), cr_library.end(), '\n', '\r');
    write_file(box.site + "/include/include.txt", cr_library);
    r = run_tovrel(box, {"q"});
    EXPECT_EQ(r.err, "Include file has only CR line ends (include/include.txt)\n"
                     "unknown include (PageStart)\nunknown include (PageHdr)\n"
                     "unknown include (SubMenuStart)\nunknown include (SubMenuEnd)\n"
                     "unknown include (PageEnd)\n");
    EXPECT_EQ(read_file(box.site + "/out/q.html"), "body\n");
}

TEST(Stress, MissingOrUnreadableLibrary)
{
    // Without a library every include is unknown; the page text is still built.
    Sandbox box;
    std::filesystem::create_directories(box.site + "/in");
    std::filesystem::create_directories(box.site + "/out");
    write_file(box.site + "/in/p.html", "T\nh\n\ntext\n>SubLink|a|b\n");
    const std::string unknown = "unknown include (PageStart)\nunknown include (PageHdr)\n"
                                "unknown include (SubLink)\nunknown include (SubMenuStart)\n"
                                "unknown include (SubMenuItem)\nunknown include (SubMenuEnd)\n"
                                "unknown include (PageEnd)\n";
    RunResult r = run_tovrel(box, {"p"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "tovrel: Terminating\n");
    EXPECT_EQ(r.err, "Can't open include file (include/include.txt)\n" + unknown);
    EXPECT_EQ(read_file(box.site + "/out/p.html"), "h\ntext\n");

    std::filesystem::create_directories(box.site + "/include/include.txt");
    r = run_tovrel(box, {"p"});
    EXPECT_EQ(r.err, "Can't read include file (include/include.txt)\n" + unknown);
    EXPECT_EQ(read_file(box.site + "/out/p.html"), "h\ntext\n");
}

TEST(Stress, UnreadablePageAndUnreadableLibrary)
{
    Sandbox box;
    if (!file_modes_obeyed(box.root))
        GTEST_SKIP() << "permission bits do not deny this user access";
    make_site(box);
    write_file(box.site + "/in/a.html", "A\n\nsecret\n");
    write_file(box.site + "/in/b.html", "B\n\nbody\n");
    write_file(box.site + "/out/a.html", "earlier page\n");
    chmod((box.site + "/in/a.html").c_str(), 0);
    RunSpec job;
    job.args = {"a", "b"};
    job.obey_file_modes = true;
    RunResult r = run_tovrel(box, job);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "tovrel: Can't open input file (in/a.html)!\n");
    EXPECT_EQ(read_file(box.site + "/out/a.html"), "earlier page\n");
    EXPECT_EQ(read_file(box.site + "/out/b.html"), framed_page("B", "", "body\n"));

    chmod((box.site + "/include/include.txt").c_str(), 0);
    job.args = {"b"};
    r = run_tovrel(box, job);
    EXPECT_EQ(r.err, "Can't open include file (include/include.txt)\n"
                     "unknown include (PageStart)\nunknown include (PageHdr)\n"
                     "unknown include (SubMenuStart)\nunknown include (SubMenuEnd)\n"
                     "unknown include (PageEnd)\n");
    EXPECT_EQ(read_file(box.site + "/out/b.html"), "body\n");
}

TEST(Stress, ReadOnlyOutputDirectoryKeepsTheEarlierPage)
{
    Sandbox box;
    if (!file_modes_obeyed(box.root))
        GTEST_SKIP() << "permission bits do not deny this user access";
    make_site(box);
    write_file(box.site + "/in/a.html", "A\n\nnew\n");
    write_file(box.site + "/out/a.html", "earlier page\n");
    chmod((box.site + "/out").c_str(), 0555);
    RunSpec job;
    job.args = {"a", "-a"};
    job.obey_file_modes = true;
    RunResult r = run_tovrel(box, job);
    chmod((box.site + "/out").c_str(), 0755);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "tovrel: Terminating\n");
    EXPECT_EQ(r.err, "tovrel: Can't open output file (out/a.html)!\n"
                     "tovrel: Can't open output file (out/a.html)!\n");
    EXPECT_EQ(read_file(box.site + "/out/a.html"), "earlier page\n");
    EXPECT_EQ(dir_names(box.site + "/out"), std::vector<std::string>{"a.html"});
}

TEST(Stress, FullDiskKeepsTheEarlierPage)
{
    // A file size limit makes every write past it fail as on a full disk: the page that does
    // not fit is dropped whole, the pages before and after it are built.
    // (Limits stay above the few kilobytes a coverage build's counter files need at exit.)
    for (long limit : {65536L, 250000L, 1000000L}) {
        Sandbox box;
        make_site(box);
        write_file(box.site + "/in/a.html", "A\n\nfirst\n>!set|v|a\n");
        write_file(box.site + "/in/big.html", "Big\n\n" + repeated(letters(99, 9) + "\n", 20000));
        write_file(box.site + "/in/c.html", "C\n\nlast\n>!set|v|c\n");
        write_file(box.site + "/out/big.html", "earlier page\n");
        RunSpec job;
        job.args = {"-a"};
        job.fsize_limit = limit;
        RunResult r = run_tovrel(box, job);
        EXPECT_EQ(r.status, 2) << limit;
        EXPECT_EQ(r.out, "tovrel: Terminating\n");
        // The failure stands between the announcements of the pages around it.
        EXPECT_EQ(r.err, "Executing include (>!set|v|a\n)\n"
                         "tovrel: Can't write output file (out/big.html)!\n"
                         "Executing include (>!set|v|c\n)\n")
            << limit;
        EXPECT_EQ(read_file(box.site + "/out/big.html"), "earlier page\n");
        EXPECT_EQ(read_file(box.site + "/out/a.html"), framed_page("A", "", "first\n"));
        EXPECT_EQ(read_file(box.site + "/out/c.html"), framed_page("C", "", "last\n"));
        EXPECT_EQ(dir_names(box.site + "/out"),
                  (std::vector<std::string>{"a.html", "big.html", "c.html"}));
    }
}

TEST(Stress, RunawayLibrariesStopWithinTheirBounds)
{
    // A macro that doubles a variable and includes itself twice stops at the page's output
    // bound: the page is not installed. One that includes itself twice is refused once per
    // outer include at each limit.
    Sandbox box;
    make_site_with(box, ">Init\n>!set|x|ab\n>\n>Grow\n>!set|x|$[x]$[x]\n$[x]\n>Grow\n>Grow\n>\n"
                        ">Self\nself\n>Self\n>Self\n>\n");
    write_file(box.site + "/in/grow.html", "T\n\n>Init\n>Grow\nafter\n");
    write_file(box.site + "/in/self.html", "T\n\n>Self\n>Self\nafter\n");
    write_file(box.site + "/out/grow.html", "earlier page\n");
    RunResult r = run_tovrel(box, {"grow"});
    EXPECT_EQ(r.status, 2);
    const std::string too_large = "tovrel: Page output too large (in/grow.html)!\n";
    ASSERT_GE(r.err.size(), too_large.size());
    EXPECT_EQ(r.err.substr(r.err.size() - too_large.size()), too_large);
    EXPECT_EQ(read_file(box.site + "/out/grow.html"), "earlier page\n");
    EXPECT_EQ(dir_names(box.site + "/out"), std::vector<std::string>{"grow.html"});

    r = run_tovrel(box, {"self"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              repeated("Include nesting too deep (Self)\nInclude expansion too large (Self)\n", 2));
    std::string page = read_file(box.site + "/out/self.html");
    EXPECT_EQ(page.substr(page.size() - 32), "self\nafter\n<menu>\n</menu>\n<end>\n");
}

TEST(Stress, LibraryThatIsNoRegularFileIsRefusedAtOnce)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/a.html", "A\n\nbody\n");
    std::filesystem::remove(box.site + "/include/include.txt");
    ASSERT_EQ(mkfifo((box.site + "/include/include.txt").c_str(), 0644), 0);
    RunSpec job;
    job.args = {"-h"};
    job.time_limit = 20;
    RunResult r = run_tovrel(box, job);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Can't read include file (include/include.txt)\n");
    // A byte-order mark before the first macro hides nothing.
    std::filesystem::remove(box.site + "/include/include.txt");
    write_file(box.site + "/include/include.txt",
               "\xEF\xBB\xBF" + std::string(test_library()).substr(13));
    r = run_tovrel(box, {"a"});
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(box.site + "/out/a.html"), framed_page("A", "", "body\n"));
}
