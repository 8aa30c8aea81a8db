// End to end: headless Chromium shows a page from the preview server (-p 0 -w); the page file
// is edited, and the browser shows the new text without being told to reload. The test's page
// (not the program) holds a script that reports the text it shows, on every load, to a
// listener the test opens.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "preview/serve.h"
#include "watch_run.h"

namespace {

const char chromium[] = "/usr/bin/chromium";

// A listener on 127.0.0.1 that answers every request 204 and keeps its request lines.
struct Reports {
    int fd = -1;
    int port = 0;
    std::string lines;
};

bool open_reports(Reports *r)
{
    r->fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (r->fd < 0 || bind(r->fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(r->fd, 8) != 0 || getsockname(r->fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return false;
    r->port = ntohs(addr.sin_port);
    return true;
}

// text with each %XX written as the byte it stands for.
std::string percent_decoded(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++)
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(text[i + 1]) &&
            std::isxdigit(text[i + 2])) {
            out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    return out;
}

// Takes reports (their request lines decoded) until one holds text, or seconds pass.
bool wait_report(Reports *r, const std::string &text, double seconds = 90.0)
{
    return wait_until(
        [&] {
            struct pollfd p = {r->fd, POLLIN, 0};
            while (poll(&p, 1, 0) > 0) {
                int conn = accept4(r->fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (conn < 0)
                    break;
                std::string got;
                read_until(conn, &got, [](const std::string &all) {
                    return all.find("\r\n") != std::string::npos;
                });
                r->lines += percent_decoded(got.substr(0, got.find("\r\n"))) + "\n";
                const char answer[] = "HTTP/1.0 204 No Content\r\n\r\n";
                if (write(conn, answer, sizeof answer - 1) < 0) {
                    // the browser went away: its report is in already
                }
                close(conn);
            }
            return r->lines.find(text) != std::string::npos;
        },
        seconds);
}

std::string live_page(const std::string &text, int report_port)
{
    return "Live\n\n<p id=\"t\">" + text +
           "</p>\n<script>new Image().src='http://127.0.0.1:" + std::to_string(report_port) +
           "/shown?'+encodeURIComponent(document.getElementById('t').innerText);</script>\n";
}

// A page whose script reports, whenever it changes, what the reader sees: the page's text,
// the text of the build's diagnostics over it ("none" without them), and whether an element
// named in the page's faulty include line made it into the document as markup. A reader
// closes the diagnostics once they have been reported.
std::string watched_page(const std::string &text, const std::string &fault, int report_port)
{
    return "Watched\n\n<p id=\"t\">" + text + "</p>\n" + fault +
           "<script>var last='',seen=false;setInterval(function(){"
           "var o=document.getElementById('tovrel-diags');"
           "if(o&&seen){o.querySelector('button[aria-label=Close]').click();"
           "o=document.getElementById('tovrel-diags')}seen=!!o;"
           "var now=document.getElementById('t').innerText+'|'+(o?o.innerText:'none')+'|'+"
           "(document.getElementById('inj')?'markup':'text');"
           "if(now!=last){last=now;new Image().src='http://127.0.0.1:" +
           std::to_string(report_port) + "/shown?'+encodeURIComponent(now)}},100);</script>\n";
}

// Starts Chromium, headless, in a process group of its own, showing url.
pid_t start_browser(const std::string &profile, const std::string &url)
{
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    setpgid(0, 0);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 1);
    dup2(null, 2);
    std::string dir = "--user-data-dir=" + profile;
    const char *argv[] = {chromium,
                          "--headless",
                          "--no-sandbox",
                          "--disable-gpu",
                          "--disable-quic",
                          "--no-first-run",
                          "--disable-background-networking",
                          "--disable-component-update",
                          "--disable-sync",
                          dir.c_str(),
                          url.c_str(),
                          nullptr};
    execv(chromium, const_cast<char **>(argv));
    _exit(127);
}

void stop_browser(pid_t pid)
{
    kill(-pid, SIGKILL); // the whole group: Chromium runs several processes
    waitpid(pid, nullptr, 0);
    // Helpers that left the group end when they see their parent gone; wait for the group.
    wait_until([pid] { return kill(-pid, 0) != 0; }, 10.0);
}

} // namespace

// A site in a sandbox, the browser's report channel, and the watch serving the site.
class PreviewBrowser : public testing::Test {
  protected:
    void SetUp() override
    {
        if (!preview_built)
            GTEST_SKIP() << "this build has no preview server";
        if (access(chromium, X_OK) != 0)
            GTEST_SKIP() << "chromium is not installed (" << chromium << ")";
        ASSERT_TRUE(open_reports(&reports));
        make_site(box);
    }

    // Starts the watch with its server and a browser showing live.html; returns the browser,
    // or -1 (with a failure) when the server did not come up.
    pid_t watch_in_browser()
    {
        start_watch(&w, box, {"-p", "0", "-w"});
        if (!w.wait_out("tovrel: watching")) {
            ADD_FAILURE() << w.err();
            return -1;
        }
        int port = served_port(w.out());
        if (port <= 0) {
            ADD_FAILURE() << w.out();
            return -1;
        }
        std::filesystem::create_directories(box.root + "/profile");
        return start_browser(box.root + "/profile",
                             "http://127.0.0.1:" + std::to_string(port) + "/live.html");
    }

    Reports reports;
    Sandbox box;
    Watcher w;
};

TEST_F(PreviewBrowser, EditedPageShowsItsNewTextWithoutAReloadRequest)
{
    write_file(box.site + "/in/live.html", live_page("first text", reports.port));
    pid_t browser = watch_in_browser();
    ASSERT_GT(browser, 0);
    bool first = wait_report(&reports, "/shown?first text ");
    write_file(box.site + "/in/live.html", live_page("second text", reports.port));
    bool second = first && wait_report(&reports, "/shown?second text ");
    stop_browser(browser);
    close(reports.fd);
    EXPECT_TRUE(first) << reports.lines;
    EXPECT_TRUE(second) << reports.lines << w.out();
    EXPECT_EQ(w.stop(SIGTERM), 0);
}

TEST_F(PreviewBrowser, ErrorsOfAPageBuildShowOverItUntilARebuildIsClean)
{
    // A library a check finds nothing wrong with: the page alone decides what is shown.
    write_file(box.site + "/include/include.txt",
               ">PageStart\n<html><body>\n>\n>PageHdr\n>\n>PageEnd\n</body></html>\n>\n"
               ">SubMenuStart\n>\n>SubMenuItem\n>\n>SubMenuEnd\n>\n");
    write_file(box.site + "/in/live.html", watched_page("clean", "", reports.port));
    pid_t browser = watch_in_browser();
    ASSERT_GT(browser, 0);
    bool clean = wait_report(&reports, "/shown?clean|none|text ");
    const std::string fault = ">Nope|<b id=\"inj\">x</b>\n";
    write_file(box.site + "/in/live.html", watched_page("broken", fault, reports.port));
    // The overlay names the file and line, and shows the source line as text.
    bool shown = clean && wait_report(&reports, "/shown?broken|");
    bool located = shown && wait_report(&reports, "in/live.html:4: error: unknown include 'Nope'");
    bool source = located && wait_report(&reports, ">Nope|<b id=\"inj\">x</b>");
    bool closed = source && wait_report(&reports, "/shown?broken|none|text ");
    write_file(box.site + "/in/live.html", watched_page("mended", "", reports.port));
    bool mended = closed && wait_report(&reports, "/shown?mended|none|text ");
    bool came_back = mended && wait_report(&reports, "/shown?mended|1 error", 2.0);
    stop_browser(browser);
    close(reports.fd);
    EXPECT_TRUE(clean) << reports.lines;
    EXPECT_TRUE(located && source) << reports.lines;
    EXPECT_TRUE(closed) << reports.lines; // by its Close button
    EXPECT_EQ(count_of(reports.lines, "|markup"), 0) << reports.lines;
    EXPECT_TRUE(mended) << reports.lines;
    EXPECT_FALSE(came_back) << reports.lines;
    EXPECT_EQ(w.stop(SIGTERM), 0);
    // Nothing of it reaches the page on disk.
    EXPECT_EQ(count_of(read_file(box.site + "/out/live.html"), "live reload"), 0);
}
