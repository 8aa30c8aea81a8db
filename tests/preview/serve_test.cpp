// The preview server of -w: the real program serving a sandbox site on a port the system
// chose (-p 0), asked over plain sockets so every request target arrives as written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "preview/serve.h"
#include "watch_run.h"

namespace {

const char page_html[] = "<!DOCTYPE html>\n<html><body>\n<p>Page a</p>\n</BODY>\n</html>\n";

// A site whose output directory holds pages, a style sheet, a subdirectory, dot files and
// links, and whose watch is serving on w's port.
int serve_site(const Sandbox &box, Watcher *w)
{
    make_site(box);
    write_file(box.site + "/in/a.html", "A\n\nbody\n");
    write_file(box.site + "/out/a.html", page_html);
    write_file(box.site + "/out/index.html", "<p>home</p>");
    write_file(box.site + "/out/style.css", "p { color: red }\n");
    write_file(box.site + "/out/sub/index.html", "<p>sub</p>\n");
    write_file(box.site + "/out/.hidden.html", "hidden\n");
    write_file(box.site + "/out/.tovrel-abc123", "a page being written\n");
    write_file(box.site + "/secret.html", "outside\n");
    symlink("../secret.html", (box.site + "/out/leak.html").c_str());
    symlink("style.css", (box.site + "/out/alias.css").c_str());
    set_mtime(box.site + "/in/a.html", 1000); // a.html is up to date: served as written here
    start_watch(w, box, {"-p", "0", "-w"});
    if (!w->wait_out("tovrel: watching"))
        return -1;
    return served_port(w->out());
}

// body without the live-reload script, which must come once, just before "</body" when
// there is one.
std::string without_script(const std::string &body)
{
    size_t start = body.find("<script>");
    size_t end = body.find("</script>");
    if (start == std::string::npos || end == std::string::npos ||
        body.find("<script>", start + 1) != std::string::npos)
        return "no single script in: " + body;
    return body.substr(0, start) + body.substr(end + 9);
}

bool has_header(const HttpReply &r, const std::string &line)
{
    return r.head.find("\r\n" + line + "\r\n") != std::string::npos ||
           r.head.ends_with("\r\n" + line);
}

} // namespace

// A site served by tovrel -p 0 -w for the length of one test.
class ServedSite : public ::testing::Test {
  protected:
    void SetUp() override
    {
        if (!preview_built)
            GTEST_SKIP() << "this build has no preview server";
        port = serve_site(box, &w);
        ASSERT_GT(port, 0) << w.out() << w.err();
    }
    Sandbox box;
    Watcher w;
    int port = 0;
};

TEST_F(ServedSite, ServesFilesBelowTheOutputDirectoryAsTheyAre)
{
    EXPECT_NE(w.out().find(", serving out at http://127.0.0.1:" + std::to_string(port) + "/\n"),
              std::string::npos);

    HttpReply r = http_request(port, "GET", "/a.html");
    EXPECT_EQ(r.status, 200);
    EXPECT_TRUE(has_header(r, "Content-Type: text/html"));
    EXPECT_EQ(without_script(r.body), page_html);
    EXPECT_LT(r.body.find("<script>"), r.body.find("</BODY>"));
    EXPECT_EQ(read_file(box.site + "/out/a.html"), page_html); // the file is left as it is

    r = http_request(port, "GET", "/");
    EXPECT_EQ(without_script(r.body), "<p>home</p>");
    r = http_request(port, "GET", "/style.css");
    EXPECT_TRUE(has_header(r, "Content-Type: text/css"));
    EXPECT_EQ(r.body, "p { color: red }\n");
    EXPECT_EQ(http_request(port, "GET", "/alias.css").body, "p { color: red }\n");
    r = http_request(port, "HEAD", "/style.css");
    EXPECT_EQ(r.status, 200);
    EXPECT_TRUE(has_header(r, "Content-Length: 17"));
    EXPECT_EQ(r.body, "");
    r = http_request(port, "GET", "/sub");
    EXPECT_EQ(r.status, 301);
    EXPECT_TRUE(has_header(r, "Location: ./sub/"));
    EXPECT_EQ(without_script(http_request(port, "GET", "/sub/").body), "<p>sub</p>\n");
    EXPECT_EQ(w.stop(SIGTERM), 0);
}

TEST_F(ServedSite, RefusesWhatIsNotAFileOfTheSiteAndOtherMethods)
{
    const char *refused[] = {
        "/../secret.html",
        "/%2e%2e/secret.html",
        "/sub/..%2f..%2fsecret.html",
        "/sub/%2E%2E/%2E%2E/secret.html",
        "/leak.html",
        "/.hidden.html",
        "/.tovrel-abc123",
        "/sub/.",
        "/missing.html",
        "/a.html%00.css",
        "/%5C..%5Csecret.html",
    };
    for (const char *target : refused)
        EXPECT_EQ(http_request(port, "GET", target).status, 404) << target;
    for (const char *method : {"POST", "PUT", "DELETE", "PATCH", "OPTIONS"}) {
        HttpReply r = http_request(port, method, "/a.html");
        EXPECT_EQ(r.status, 405) << method;
        EXPECT_TRUE(has_header(r, "Allow: GET, HEAD")) << method;
    }
    EXPECT_EQ(w.stop(SIGTERM), 0);
}

TEST_F(ServedSite, PageEditSendsAChangeEvent)
{
    int fd = connect_local(port);
    ASSERT_GE(fd, 0);
    std::string request = "GET /.tovrel/reload HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ASSERT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    std::string got;
    auto holds = [](const char *text) {
        return [text](const std::string &all) { return all.find(text) != std::string::npos; };
    };
    EXPECT_TRUE(read_until(fd, &got, holds("retry:"))) << got;
    write_file(box.site + "/in/a.html", "A2\n\nedited\n");
    EXPECT_TRUE(read_until(fd, &got, holds("data: /a.html\n\n"))) << got;
    EXPECT_NE(got.find("Content-Type: text/event-stream"), std::string::npos);
    EXPECT_EQ(w.stop(SIGTERM), 0); // with a stream still open
    close(fd);
}

namespace {

// The first event of a stream opened for the page at path (after its retry line).
std::string first_event_for(int port, const std::string &path)
{
    std::string got = http_exchange(
        port, "GET /.tovrel/reload?page=" + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n", 2.0);
    size_t at = got.find("retry: 500\n\n");
    return at == std::string::npos ? "no stream: " + got : got.substr(at + 12);
}

} // namespace

TEST_F(ServedSite, StreamTellsItsPageTheDiagnosticsOfItsLastBuildAndTheLibrarys)
{
    std::string faults;
    for (int i = 0; i < 25; i++)
        faults += ">Nope|\"q\"\t<i>\n";
    write_file(box.site + "/in/b.html", "B\n\n" + faults);
    ASSERT_TRUE(w.wait_out("rebuilt b ("));
    save_by_rename(box.site + "/include/include.txt",
                   std::string(test_library()) + ">PageHdr\n>\n");
    ASSERT_TRUE(w.wait_out("rebuilt all 2 pages ("));
    // 20 entries shown, the rest counted; the library's warnings (one with a note) on each page.
    std::string b = first_event_for(port, "%2Fb.html");
    EXPECT_TRUE(b.starts_with("event: diags\ndata: {\"errors\":{\"c\":25,\"n\":25,\"e\":[")) << b;
    EXPECT_EQ(count_of(b, "unknown include 'Nope'"), 20) << b;
    EXPECT_EQ(count_of(b, "\"s\":\">Nope|\\\"q\\\"\\u0009<i>\"}"), 20) << b;
    EXPECT_NE(b.find("\"warnings\":{\"c\":2,\"n\":3,"), std::string::npos) << b;
    EXPECT_EQ(count_of(b, "\n"), 3) << "one data line: " << b;
    std::string a = first_event_for(port, "%2Fa.html");
    EXPECT_TRUE(a.starts_with("event: diags\ndata: {\"errors\":{\"c\":0,\"n\":0,\"e\":[]},"
                              "\"warnings\":{\"c\":2,\"n\":3,"))
        << a;
    EXPECT_EQ(w.stop(SIGTERM), 0);
}

TEST(PreviewServer, BadAddressOrPortInUseFailsBeforeAnyBuild)
{
    Sandbox box;
    make_site(box);
    write_file(box.site + "/in/a.html", "A\n");
    if (!preview_built) {
        RunResult r = run_tovrel(box, {"-p", "8080", "-w"});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "tovrel: This build has no preview server (-p 8080)\n");
        return;
    }
    for (const char *value : {"65536", "http", "-1", "8080x", ":80", "1.2.3.4:", "[::1:80"}) {
        RunResult r = run_tovrel(box, {"-p", value, "-w"});
        EXPECT_EQ(r.status, 2) << value;
        EXPECT_EQ(r.err, std::string("tovrel: Invalid port or address for -p (") + value + ")\n");
        EXPECT_EQ(r.out, "");
    }
    int taken = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(taken, 1), 0);
    ASSERT_EQ(getsockname(taken, reinterpret_cast<sockaddr *>(&addr), &len), 0);
    std::string port = std::to_string(ntohs(addr.sin_port));
    RunResult r = run_tovrel(box, {"-p", "127.0.0.1:" + port, "-w"});
    close(taken);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "tovrel: Can't serve at 127.0.0.1:" + port + " (Address already in use)\n");
    EXPECT_EQ(dir_names(box.site + "/out"), std::vector<std::string>{});
}
