// Helpers for tests of the watch mode and the preview server: the real program started in the
// background in a sandbox, bounded waits for what it prints, signals to end it, and a plain
// HTTP/1.0 client on a socket (so request targets reach the server exactly as written).
#ifndef WATCH_RUN_H
#define WATCH_RUN_H

#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "run_tovrel.h"

// Generous: the machine may be busy with other builds; a wait that passes returns at once.
constexpr double watch_timeout = 20.0;

// Calls cond every 10 ms until it holds or seconds have passed; returns its last result.
inline bool wait_until(const std::function<bool()> &cond, double seconds = watch_timeout)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// The count of the occurrences of text in all.
inline int count_of(const std::string &all, const std::string &text)
{
    int n = 0;
    for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
        n++;
    return n;
}

// tovrel running in the background in box.site, its streams going to files in box.root.
struct Watcher {
    const Sandbox *box;
    pid_t pid = -1;
    std::string out() const
    {
        return read_file(box->root + "/stdout");
    }
    std::string err() const
    {
        return read_file(box->root + "/stderr");
    }
    // Waits until standard output holds text (count times at least).
    bool wait_out(const std::string &text, int count = 1) const
    {
        return wait_until([&] { return count_of(out(), text) >= count; });
    }
    // Sends sig and returns the exit status (128 + signal when it was killed), killing it
    // when it does not end within the timeout.
    int stop(int sig = SIGTERM)
    {
        if (pid < 0)
            return -1;
        kill(pid, sig);
        int wstatus = 0;
        bool ended = wait_until([&] { return waitpid(pid, &wstatus, WNOHANG) == pid; });
        if (!ended) {
            kill(pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
        }
        pid = -1;
        return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    }
    ~Watcher()
    {
        if (pid > 0)
            stop(SIGKILL);
    }
};

// Starts tovrel as job says in box.site; it keeps running until the Watcher stops it.
inline void start_watch(Watcher *w, const Sandbox &box, const RunSpec &job)
{
    w->box = &box;
    for (const char *name : {"/stdin", "/stdout", "/stderr"}) // nothing left of a run before
        write_file(box.root + name, "");
    w->pid = fork();
    if (w->pid == 0)
        exec_tovrel(box, job);
}

// Starts tovrel with args in box.site; it keeps running until the Watcher stops it.
inline void start_watch(Watcher *w, const Sandbox &box, std::vector<std::string> args)
{
    RunSpec job;
    job.args = std::move(args);
    start_watch(w, box, job);
}

// Writes text to path by way of a new file renamed over it, as many editors save.
inline void save_by_rename(const std::string &path, const std::string &text)
{
    std::string dir = path.substr(0, path.rfind('/') + 1);
    std::string temp = dir + ".save-" + path.substr(dir.size());
    write_file(temp, text);
    std::rename(temp.c_str(), path.c_str());
}

// The port of the address in the program's "serving ... at http://HOST:PORT/" line, or -1.
inline int served_port(const std::string &out)
{
    size_t at = out.find("http://127.0.0.1:");
    return at == std::string::npos ? -1 : std::atoi(out.c_str() + at + 17);
}

// A socket connected to 127.0.0.1:port, or -1.
inline int connect_local(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads from fd into *got until until(*got) holds, the peer closes, or seconds pass.
inline bool read_until(int fd, std::string *got,
                       const std::function<bool(const std::string &)> &until,
                       double seconds = watch_timeout)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!until(*got) && std::chrono::steady_clock::now() < end) {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        char buf[4096];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got->append(buf, static_cast<size_t>(n));
    }
    return until(*got);
}

struct HttpReply {
    int status = 0;
    std::string head; // status line and header lines
    std::string body;
};

// Sends "METHOD target HTTP/1.0" to 127.0.0.1:port and reads the whole reply.
inline HttpReply http_request(int port, const std::string &method, const std::string &target)
{
    HttpReply reply;
    int fd = connect_local(port);
    if (fd < 0)
        return reply;
    std::string request = method + " " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
        close(fd);
        return reply;
    }
    std::string all;
    read_until(fd, &all, [](const std::string &) { return false; });
    close(fd);
    size_t split = all.find("\r\n\r\n");
    reply.head = all.substr(0, split);
    reply.body = split == std::string::npos ? "" : all.substr(split + 4);
    reply.status = all.size() > 12 ? std::atoi(all.c_str() + 9) : 0;
    return reply;
}

// Sends raw (whole requests, written at once) to 127.0.0.1:port and returns all that comes
// back before the server closes or seconds pass.
inline std::string http_exchange(int port, const std::string &raw, double seconds = watch_timeout)
{
    std::string got;
    int fd = connect_local(port);
    if (fd < 0)
        return got;
    if (write(fd, raw.data(), raw.size()) == static_cast<ssize_t>(raw.size()))
        read_until(
            fd, &got, [](const std::string &) { return false; }, seconds);
    close(fd);
    return got;
}

// An event stream open on 127.0.0.1:port (its first message read), or -1.
inline int open_event_stream(int port)
{
    int fd = connect_local(port);
    const std::string request = "GET /.tovrel/reload HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    std::string got;
    if (fd >= 0 &&
        (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size()) ||
         !read_until(
             fd, &got,
             [](const std::string &all) { return all.find("retry:") != std::string::npos; },
             5.0))) {
        close(fd);
        return -1;
    }
    return fd;
}

#endif
