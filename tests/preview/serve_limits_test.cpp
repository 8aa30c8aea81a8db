// The preview server under load and bad clients: many event streams and slow clients, few
// descriptors, requests framed by their heads, bounded heads, ranges, and a huge page served
// without being read into memory. Bounded in count and time, on 127.0.0.1 only.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "preview/serve.h"
#include "watch_run.h"

namespace {

// Starts tovrel -p 0 -w as job says (its arguments set here) on a site with out/f.txt (19
// bytes) and a page a.html; returns the port, or -1.
int serve(const Sandbox &box, Watcher *w, RunSpec job = {})
{
    make_site(box);
    write_file(box.site + "/in/a.html", "A\n\nfirst\n");
    write_file(box.site + "/out/f.txt", "0123456789abcdefghi");
    job.args = {"-p", "0", "-w"};
    start_watch(w, box, job);
    if (!w->wait_out("tovrel: watching"))
        return -1;
    return served_port(w->out());
}

std::string get(const std::string &target, const std::string &headers = "")
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "\r\n";
}

// The status codes of the replies in all, in order.
std::vector<int> statuses(const std::string &all)
{
    std::vector<int> codes;
    for (size_t at = all.find("HTTP/1."); at != std::string::npos; at = all.find("HTTP/1.", at + 1))
        codes.push_back(std::atoi(all.c_str() + at + 9));
    return codes;
}

void close_all(const std::vector<int> &fds)
{
    for (int fd : fds)
        if (fd >= 0)
            close(fd);
}

} // namespace

// A site served for the length of one test, started by serve_site.
class ServeLimits : public ::testing::Test {
  protected:
    void SetUp() override
    {
        if (!preview_built)
            GTEST_SKIP() << "this build has no preview server";
    }
    void serve_site(const RunSpec &job = {})
    {
        port = serve(box, &w, job);
        ASSERT_GT(port, 0) << w.out() << w.err();
    }
    Sandbox box;
    Watcher w;
    int port = 0;
};

TEST_F(ServeLimits, OpenStreamsAndSlowClientsLeaveGetsAnswered)
{
    serve_site();
    std::vector<int> streams;
    for (int i = 0; i < 64; i++)
        streams.push_back(open_event_stream(port));
    EXPECT_EQ(std::count(streams.begin(), streams.end(), -1), 0);
    EXPECT_EQ(statuses(http_exchange(port, get("/f.txt", "Connection: close\r\n"), 10.0)),
              std::vector<int>{200});
    // Slow clients: each has sent part of a head and sends no more for now.
    std::vector<int> slow;
    for (int i = 0; i < 32; i++) {
        slow.push_back(connect_local(port));
        if (write(slow.back(), "GET /f.txt HTTP/1.1\r\nX-Slow: 1\r\n", 32) != 32)
            ADD_FAILURE() << "slow client " << i;
    }
    EXPECT_EQ(statuses(http_exchange(port, get("/f.txt", "Connection: close\r\n"), 10.0)),
              std::vector<int>{200});
    // A page edited now is told to every stream.
    write_file(box.site + "/in/a.html", "A\n\nsecond\n");
    std::string got;
    EXPECT_TRUE(read_until(streams.back(), &got, [](const std::string &all) {
        return all.find("data: /a.html\n\n") != std::string::npos;
    })) << got;
    close_all(slow);
    EXPECT_EQ(w.stop(SIGTERM), 0); // with 64 streams open
    close_all(streams);
}

// Under a low descriptor limit the server takes no more connections than leave the build
// room for its files, and a stream's client that leaves gives its descriptor back.
TEST_F(ServeLimits, StreamsLeaveTheBuildItsDescriptors)
{
    RunSpec job;
    job.files_limit = 64;
    serve_site(job);
    std::vector<int> streams;
    for (int i = 0; i < 63; i++)
        streams.push_back(connect_local(port)); // past the server's cap they wait unaccepted
    const std::string request = get("/.tovrel/reload");
    for (int fd : streams)
        if (fd < 0 || write(fd, request.data(), request.size()) < 0)
            ADD_FAILURE() << "stream not opened";
    write_file(box.site + "/in/a.html", "A\n\nsecond\n");
    EXPECT_TRUE(w.wait_out("rebuilt a")) << w.out();
    EXPECT_EQ(w.err().find("Can't"), std::string::npos) << w.err(); // the library's warning only
    EXPECT_NE(read_file(box.site + "/out/a.html").find("second"), std::string::npos);
    close_all(streams);
    // The streams' places are free again well before a keep-alive would have found them gone.
    streams.clear();
    for (int i = 0; i < 4; i++)
        streams.push_back(open_event_stream(port));
    EXPECT_EQ(std::count(streams.begin(), streams.end(), -1), 0);
    close_all(streams);
    EXPECT_EQ(w.stop(SIGTERM), 0);
}

TEST_F(ServeLimits, EachRequestIsFramedByItsHeadAndBody)
{
    serve_site();
    const std::string last = get("/f.txt", "Connection: close\r\n");
    const std::string body = "GET /missing HTTP/1.1\r\n\r\n"; // 25 bytes
    struct {
        std::string raw;
        std::vector<int> statuses;
    } cases[] = {
        {get("/f.txt") + last, {200, 200}}, // pipelined, in one write
        // A body on a GET, plain or chunked, is read and dropped, never taken as a request.
        {get("/f.txt", "Content-Length: 25\r\n") + body + last, {200, 200}},
        {get("/f.txt", "Transfer-Encoding: chunked\r\n") + "19\r\n" + body + "\r\n0\r\n\r\n" + last,
         {200, 200}},
        // Refused before its body: the connection closes, so the body is no request either.
        {"POST /f.txt HTTP/1.1\r\nHost: x\r\nContent-Length: 25\r\n\r\n" + body, {405}},
        {get("/f.txt", "Content-Length: 0\r\nContent-Length: 5\r\n") + "hello" + last, {400}},
        {get("/f.txt", "X-Big: " + std::string(1 << 20, 'a') + "\r\n"), {431}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(statuses(http_exchange(port, c.raw)), c.statuses) << c.raw.substr(0, 80);
    EXPECT_EQ(w.stop(SIGTERM), 0);
}

TEST_F(ServeLimits, RangesBeyondTheFileAre416AndManyRangesGetTheWholeFile)
{
    serve_site();
    std::string many = "bytes=0-";
    for (int i = 0; i < 2700; i++)
        many += ",0-";
    struct {
        std::string range;
        int status;
        std::string content_range;
        std::string body;
    } cases[] = {
        {"bytes=100-200", 416, "bytes */19", "Range not satisfiable\n"},
        {"bytes=19-", 416, "bytes */19", "Range not satisfiable\n"},
        {"bytes=-0", 416, "bytes */19", "Range not satisfiable\n"},
        {"bytes=2-4", 206, "bytes 2-4/19", "234"},
        {"bytes=17-100", 206, "bytes 17-18/19", "hi"},
        {"bytes=-3", 206, "bytes 16-18/19", "ghi"},
        {"bytes=-50", 206, "bytes 0-18/19", "0123456789abcdefghi"},
        {many, 200, "", "0123456789abcdefghi"},
        {"bytes=5-2", 200, "", "0123456789abcdefghi"},
    };
    for (const auto &c : cases) {
        std::string all =
            http_exchange(port, get("/f.txt", "Range: " + c.range + "\r\nConnection: close\r\n"));
        EXPECT_EQ(statuses(all), std::vector<int>{c.status}) << c.range.substr(0, 20);
        size_t at = all.find("Content-Range: ");
        EXPECT_EQ(at == std::string::npos ? "" : all.substr(at + 15, all.find('\r', at) - at - 15),
                  c.content_range)
            << c.range.substr(0, 20);
        EXPECT_EQ(all.substr(all.find("\r\n\r\n") + 4), c.body) << c.range.substr(0, 20);
    }
    EXPECT_EQ(w.stop(SIGTERM), 0);
}

namespace {

// Bytes of the server's process read so far from files and sockets (its rchar).
long bytes_read(pid_t pid)
{
    std::string io = read_file("/proc/" + std::to_string(pid) + "/io");
    size_t at = io.find("rchar: ");
    return at == std::string::npos ? -1 : std::atol(io.c_str() + at + 7);
}

} // namespace

// A 1 GB page (sparse) is served under an address-space limit that reading it whole would
// pass, its head read by nobody; a SIGTERM while a client takes it slowly ends the program.
TEST_F(ServeLimits, HugePageIsSentAsReadAndHeadReadsNothing)
{
    RunSpec job;
#ifndef TOVREL_SANITIZED
    job.memory_limit = 512L << 20;
    const long page_size = 1L << 30;
#else // a sanitizer's shadow memory needs more address space, and its checks time
    const long page_size = 64L << 20;
#endif
    const std::string end = "</body></html>\n";
    make_site(box);
    write_file(box.site + "/out/big.html", "<html><body>");
    ASSERT_EQ(truncate((box.site + "/out/big.html").c_str(), page_size - 15), 0);
    {
        std::ofstream out(box.site + "/out/big.html", std::ios::binary | std::ios::app);
        out << end;
    }
    serve_site(job);

    long before = bytes_read(w.pid);
    std::string head = http_exchange(port, "HEAD /big.html HTTP/1.0\r\n\r\n");
    EXPECT_EQ(statuses(head), std::vector<int>{200});
    EXPECT_LT(bytes_read(w.pid) - before, 65536);
    size_t at = head.find("Content-Length: ");
    long length = at == std::string::npos ? 0 : std::atol(head.c_str() + at + 16);
    EXPECT_GT(length, page_size);

    int fd = connect_local(port);
    const std::string request = "GET /big.html HTTP/1.0\r\n\r\n";
    ASSERT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    std::string start;
    read_until(fd, &start,
               [](const std::string &all) { return all.find("\r\n\r\n") != std::string::npos; });
    long body = static_cast<long>(start.size() - start.find("\r\n\r\n") - 4);
    std::string tail;
    char buf[1 << 16];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) {
        body += n;
        tail = (tail + std::string(buf, static_cast<size_t>(n)))
                   .substr(tail.size() + static_cast<size_t>(n) > 256
                               ? tail.size() + static_cast<size_t>(n) - 256
                               : 0);
    }
    close(fd);
    EXPECT_EQ(body, length);
    EXPECT_TRUE(tail.ends_with("</script>" + end)) << tail;

    fd = connect_local(port); // a client that takes a little and then nothing
    ASSERT_EQ(write(fd, request.data(), request.size()), static_cast<ssize_t>(request.size()));
    start.clear();
    read_until(fd, &start, [](const std::string &all) { return all.size() > 100000; });
    EXPECT_EQ(w.stop(SIGTERM), 0);
    close(fd);
}
