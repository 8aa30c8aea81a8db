// Measures the preview server under load, on 127.0.0.1 only: the latency of a normal GET (an
// HTML page, a new connection each time) with 0, 64 and 200 event streams open and with 32
// slow clients (each sending one header line every 2 s), the server's memory and threads
// then, and the time from SIGTERM to exit with 200 streams open.
//
// usage: serve_load [GETS]   (built with -DTOVREL_BENCH=ON; runs the tovrel it was built with)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "watch_run.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A field of /proc/PID/status, such as "VmRSS" or "Threads", as written there.
std::string status_field(pid_t pid, const std::string &field)
{
    std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
    size_t at = status.find("\n" + field + ":");
    if (at == std::string::npos)
        return "?";
    size_t start = status.find_first_not_of(" \t", at + field.size() + 2);
    return status.substr(start, status.find('\n', start) - start);
}

// Times gets GETs of /index.html, one after another (pause_ms apart), and prints their
// median, 99th percentile and maximum with the server's memory and threads.
void measure(const char *label, int port, pid_t pid, int gets, int pause_ms = 0)
{
    std::vector<double> times;
    int failed = 0;
    const std::string request = "GET /index.html HTTP/1.0\r\n\r\n";
    for (int i = 0; i < gets; i++) {
        auto start = Clock::now();
        std::string reply = http_exchange(port, request, 10.0);
        times.push_back(ms_since(start));
        if (reply.compare(0, 12, "HTTP/1.1 200") != 0)
            failed++;
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
    }
    std::sort(times.begin(), times.end());
    std::printf("%-22s median %7.2f ms  p99 %7.2f ms  max %7.2f ms  failed %d  rss %s  "
                "peak %s  threads %s\n",
                label, times[times.size() / 2], times[times.size() * 99 / 100], times.back(),
                failed, status_field(pid, "VmRSS").c_str(), status_field(pid, "VmHWM").c_str(),
                status_field(pid, "Threads").c_str());
}

std::vector<int> open_streams(int port, int n)
{
    std::vector<int> fds;
    for (int i = 0; i < n; i++) {
        int fd = open_event_stream(port);
        if (fd < 0)
            std::fprintf(stderr, "serve_load: stream %d not opened\n", i);
        else
            fds.push_back(fd);
    }
    return fds;
}

void close_all(std::vector<int> *fds)
{
    for (int fd : *fds)
        close(fd);
    fds->clear();
}

// 32 clients that send a request's head one line every 2 s while the GETs are timed.
void measure_slow_clients(int port, pid_t pid, int gets)
{
    std::atomic<bool> done = false;
    std::thread slow([&] {
        std::vector<int> fds;
        for (int i = 0; i < 32; i++)
            fds.push_back(connect_local(port));
        const std::string first = "GET /index.html HTTP/1.1\r\n";
        for (int line = 0; !done; line++) {
            for (int fd : fds)
                if (fd >= 0 && write(fd, line == 0 ? first.data() : "X-Slow: 1\r\n",
                                     line == 0 ? first.size() : 11) < 0) {
                    // the server has cut it off: its head took too long
                }
            for (int i = 0; i < 200 && !done; i++)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        close_all(&fds);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // the first lines are in
    measure("32 slow clients", port, pid, gets, 6000 / gets);    // over 3 of their lines
    done = true;
    slow.join();
}

} // namespace

int main(int argc, char **argv)
{
    int gets = argc > 1 ? std::atoi(argv[1]) : 200;
    Sandbox box;
    make_site(box);
    write_file(box.site + "/out/index.html",
               "<html><body>\n" + std::string(8000, 'x') + "\n</body></html>\n");
    Watcher w;
    start_watch(&w, box, {"-p", "0", "-w"});
    int port = w.wait_out("tovrel: watching") ? served_port(w.out()) : -1;
    if (port <= 0) {
        std::fprintf(stderr, "serve_load: the server did not start: %s\n", w.err().c_str());
        return 1;
    }
    measure("0 streams", port, w.pid, gets);
    std::vector<int> streams = open_streams(port, 64);
    measure("64 streams", port, w.pid, gets);
    std::vector<int> more = open_streams(port, 136);
    streams.insert(streams.end(), more.begin(), more.end());
    measure("200 streams", port, w.pid, gets);
    close_all(&streams);
    measure_slow_clients(port, w.pid, gets);

    streams = open_streams(port, 200);
    auto start = Clock::now();
    int status = w.stop(SIGTERM);
    std::printf("SIGTERM to exit with %zu streams: %.1f ms (exit status %d)\n", streams.size(),
                ms_since(start), status);
    close_all(&streams);
    return 0;
}
