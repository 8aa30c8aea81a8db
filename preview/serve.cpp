#include "preview/serve.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <httplib.h>

#include "preview/serve_module.h"

namespace {
std::string program_name = "tovrel"; // for messages; the program says its own
} // namespace

namespace {

// The URL of the event stream. It begins with a dot, and dot files are never served, so no
// file of the site can hide it.
const char events_path[] = "/.tovrel/reload";
constexpr size_t max_remembered = 64; // rebuilds a late stream can still catch up on
constexpr auto keep_alive = std::chrono::seconds(15);
constexpr size_t threads = 16; // each open page holds one for its event stream

// The news of finished rebuilds, shared by the build thread (which adds) and the event
// streams (which wait). Rebuild n changed recent[n - first].
struct Reloads {
    std::mutex lock;
    std::condition_variable changed;
    uint64_t last = 0;              // number of the latest rebuild
    std::deque<std::string> recent; // the event text of each remembered rebuild
    bool closing = false;
};

} // namespace

struct PreviewServer {
    httplib::Server http;
    std::thread listener;
    Reloads reloads;
    std::string root;
};

namespace {

// The script added to every HTML page: it reloads the page when a rebuild after since
// changes its path (a directory's page is its index.html).
std::string reload_script(uint64_t since)
{
    return "<script>/* live reload: tovrel -p */(function(){var p=location.pathname;"
           "try{p=decodeURIComponent(p)}catch(e){}if(p.endsWith('/'))p+='index.html';"
           "var s=new EventSource('" +
           std::string(events_path) + "?since=" + std::to_string(since) +
           "');s.onmessage=function(m){var l=m.data.split('\\n');"
           "if(l.indexOf('*')>=0||l.indexOf(p)>=0){s.close();location.reload()}}})();"
           "</script>";
}

// Puts script before the last "</body" of html (in any case), or at its end.
void add_script(std::string *html, const std::string &script)
{
    for (size_t at = html->size(); at-- > 0;) {
        if ((*html)[at] == '<' && strncasecmp(html->c_str() + at, "</body", 6) == 0) {
            html->insert(at, script);
            return;
        }
    }
    html->append(script);
}

// The content type of a file, from its extension.
const char *content_type(const std::string &name)
{
    static const char *const types[][2] = {
        {"html", "text/html"},
        {"htm", "text/html"},
        {"css", "text/css"},
        {"js", "text/javascript"},
        {"mjs", "text/javascript"},
        {"json", "application/json"},
        {"txt", "text/plain"},
        {"xml", "application/xml"},
        {"svg", "image/svg+xml"},
        {"png", "image/png"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"gif", "image/gif"},
        {"webp", "image/webp"},
        {"avif", "image/avif"},
        {"ico", "image/x-icon"},
        {"woff", "font/woff"},
        {"woff2", "font/woff2"},
        {"ttf", "font/ttf"},
        {"otf", "font/otf"},
        {"pdf", "application/pdf"},
        {"mp4", "video/mp4"},
        {"webm", "video/webm"},
        {"mp3", "audio/mpeg"},
        {"ogg", "audio/ogg"},
        {"wasm", "application/wasm"},
        {"csv", "text/csv"},
        {"map", "application/json"},
        {"rss", "application/rss+xml"},
        {"atom", "application/atom+xml"},
    };
    size_t dot = name.rfind('.');
    size_t slash = name.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "application/octet-stream";
    const char *ext = name.c_str() + dot + 1;
    for (const auto &type : types)
        if (strcasecmp(ext, type[0]) == 0)
            return type[1];
    return "application/octet-stream";
}

// True when path (beginning with '/') has no component that begins with '.' (which also
// refuses "." and ".."), no NUL and no backslash.
bool plain_path(const std::string &path)
{
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos ||
        path.find('\\') != std::string::npos)
        return false;
    return path.find("/.") == std::string::npos;
}

// True when the file open on fd is root (a real path) or lies below it with no component of
// its path below root beginning with '.'; a link leading elsewhere fails here.
bool opened_below(int fd, const std::string &root)
{
    std::string link = "/proc/self/fd/" + std::to_string(fd);
    std::vector<char> real(PATH_MAX + 1);
    ssize_t n = readlink(link.c_str(), real.data(), PATH_MAX);
    if (n <= 0)
        return false;
    std::string path(real.data(), static_cast<size_t>(n));
    if (path.compare(0, root.size(), root) != 0)
        return false;
    return path.size() == root.size() || plain_path(path.substr(root.size()));
}

// What a request path names: a regular file open on fd (the caller closes it), a directory
// to be asked for with a final '/', or nothing.
enum Found { FOUND_FILE, FOUND_DIR_NO_SLASH, FOUND_NOTHING };

Found open_request(const std::string &root_dir, const std::string &path, int *fd, std::string *name)
{
    std::unique_ptr<char, decltype(&std::free)> real(realpath(root_dir.c_str(), nullptr),
                                                     &std::free);
    if (!real || !plain_path(path))
        return FOUND_NOTHING;
    std::string root = std::strcmp(real.get(), "/") == 0 ? "" : real.get();
    *name = root + path;
    for (int tries = 0; tries < 2; tries++) {
        *fd = open(name->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat st;
        if (*fd < 0 || fstat(*fd, &st) != 0 || !opened_below(*fd, root)) {
            if (*fd >= 0)
                close(*fd);
            return FOUND_NOTHING;
        }
        if (S_ISREG(st.st_mode))
            return FOUND_FILE;
        close(*fd);
        if (!S_ISDIR(st.st_mode))
            return FOUND_NOTHING;
        if (name->back() != '/')
            return FOUND_DIR_NO_SLASH;
        *name += "index.html";
    }
    return FOUND_NOTHING;
}

// Sends the regular file open on fd (which the response then owns) as it is, read as the
// client takes it.
void send_file(httplib::Response &res, int fd, const std::string &name)
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        st.st_size = 0;
    auto file = std::shared_ptr<int>(new int(fd), [](int *p) {
        close(*p);
        delete p;
    });
    res.set_content_provider(static_cast<size_t>(st.st_size), content_type(name),
                             [file](size_t offset, size_t length, httplib::DataSink &sink) {
                                 char buf[1 << 16];
                                 ssize_t n = pread(*file, buf, std::min(length, sizeof buf),
                                                   static_cast<off_t>(offset));
                                 return n > 0 && sink.write(buf, static_cast<size_t>(n));
                             });
}

// Reads the whole file open on fd (and closes it) into *text; false on a read error.
bool read_whole(int fd, std::string *text)
{
    char buf[1 << 16];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            text->append(buf, static_cast<size_t>(n));
    close(fd);
    return n == 0;
}

// The number of the latest rebuild.
uint64_t latest(Reloads *reloads)
{
    std::lock_guard<std::mutex> hold(reloads->lock);
    return reloads->last;
}

void serve_path(PreviewServer *server, const httplib::Request &req, httplib::Response &res)
{
    int fd = -1;
    std::string name;
    Found found = open_request(server->root, req.path, &fd, &name);
    if (found == FOUND_DIR_NO_SLASH) {
        // Relative, from the last segment as sent: "//host" can never lead elsewhere, and
        // "./" keeps a segment such as "x:y" from reading as a scheme.
        std::string sent = req.target.substr(0, req.target.find('?'));
        res.set_redirect("./" + sent.substr(sent.rfind('/') + 1) + "/", 301);
        return;
    }
    if (found == FOUND_NOTHING) {
        res.status = 404;
        res.set_content("Not found\n", "text/plain");
        return;
    }
    const char *type = content_type(name);
    if (std::strcmp(type, "text/html") != 0)
        return send_file(res, fd, name);
    std::string html;
    uint64_t since = latest(&server->reloads); // taken first: a rebuild from now on reloads
    if (!read_whole(fd, &html)) {
        res.status = 500;
        res.set_content("Can't read the file\n", "text/plain");
        return;
    }
    add_script(&html, reload_script(since));
    res.set_header("Cache-Control", "no-store");
    res.set_content(html, type);
}

// Waits (a while at most) for rebuilds after *since and sets *text to their events, or to a
// comment that keeps the stream open. Returns false when the server is closing.
bool wait_for_news(Reloads *reloads, uint64_t *since, std::string *text)
{
    std::unique_lock<std::mutex> hold(reloads->lock);
    reloads->changed.wait_for(hold, keep_alive,
                              [&] { return reloads->closing || reloads->last > *since; });
    if (reloads->closing)
        return false;
    *text = ": still here\n\n";
    if (reloads->last <= *since)
        return true;
    text->clear();
    uint64_t first = reloads->last - reloads->recent.size() + 1;
    if (*since + 1 < first)
        *text = "data: *\n\n"; // too far behind to tell what changed
    else
        for (uint64_t n = *since + 1; n <= reloads->last; n++)
            *text += reloads->recent[n - first];
    *since = reloads->last;
    return true;
}

void serve_events(PreviewServer *server, const httplib::Request &req, httplib::Response &res)
{
    uint64_t since = latest(&server->reloads);
    if (req.has_param("since"))
        since = std::min<uint64_t>(
            since, std::strtoull(req.get_param_value("since").c_str(), nullptr, 10));
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream",
        [server, since, first = true](size_t, httplib::DataSink &sink) mutable {
            std::string text = "retry: 500\n\n";
            if (!first && !wait_for_news(&server->reloads, &since, &text))
                return false;
            first = false;
            return sink.write(text.data(), text.size());
        });
}

// Only SO_REUSEADDR: the library's default adds SO_REUSEPORT, with which a second server on
// the same port would bind without an error and share its requests.
void reuse_address_only(socket_t sock)
{
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

void set_routes(PreviewServer *server)
{
    httplib::Server &http = server->http;
    http.set_socket_options(reuse_address_only);
    http.new_task_queue = [] { return new httplib::ThreadPool(threads); };
    http.set_pre_routing_handler([](const httplib::Request &req, httplib::Response &res) {
        if (req.method == "GET" || req.method == "HEAD")
            return httplib::Server::HandlerResponse::Unhandled;
        res.status = 405;
        res.set_header("Allow", "GET, HEAD");
        res.set_content("Method not allowed\n", "text/plain");
        return httplib::Server::HandlerResponse::Handled;
    });
    http.Get(events_path, [server](const httplib::Request &req, httplib::Response &res) {
        serve_events(server, req, res);
    });
    http.Get(".*", [server](const httplib::Request &req, httplib::Response &res) {
        serve_path(server, req, res);
    });
}

} // namespace

PreviewServer *start_preview(const PreviewAddress *addr, const char *root, std::string *url)
{
    auto server = std::make_unique<PreviewServer>();
    server->root = root;
    set_routes(server.get());
    errno = 0;
    int port = addr->port == 0 ? server->http.bind_to_any_port(addr->host)
               : server->http.bind_to_port(addr->host, addr->port) ? addr->port
                                                                   : -1;
    std::string host =
        addr->host.find(':') != std::string::npos ? "[" + addr->host + "]" : addr->host;
    if (port <= 0) {
        int err = errno;
        std::fprintf(stderr, "%s: Can't serve at %s:%d (%s)\n", program_name.c_str(), host.c_str(),
                     addr->port, err != 0 ? std::strerror(err) : "address not available");
        return nullptr;
    }
    PreviewServer *running = server.release();
    // The server's threads (the listener's pool inherits its mask) never die of a browser
    // that went away: SIGPIPE stays blocked there and send() fails instead.
    sigset_t pipe, old;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    running->listener = std::thread([running] { running->http.listen_after_bind(); });
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    // stop() does nothing before the listener runs, so wait until it does.
    for (int i = 0; i < 5000 && !running->http.is_running(); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    *url = "http://" + host + ":" + std::to_string(port) + "/";
    return running;
}

void notify_preview(PreviewServer *server, const char *const *paths, int n)
{
    if (server == nullptr)
        return;
    std::string event;
    for (int i = 0; i < n; i++)
        event +=
            std::strpbrk(paths[i], "\r\n") ? "data: *\n" : "data: " + std::string(paths[i]) + "\n";
    std::lock_guard<std::mutex> hold(server->reloads.lock);
    server->reloads.recent.push_back(event + "\n");
    if (server->reloads.recent.size() > max_remembered)
        server->reloads.recent.pop_front();
    server->reloads.last++;
    server->reloads.changed.notify_all();
}

void stop_preview(PreviewServer *server)
{
    if (server == nullptr)
        return;
    {
        std::lock_guard<std::mutex> hold(server->reloads.lock);
        server->reloads.closing = true;
        server->reloads.changed.notify_all();
    }
    server->http.stop();
    if (server->listener.joinable())
        server->listener.join();
    delete server;
}

const PreviewCalls *tovrel_preview_calls(const char *program)
{
    static const PreviewCalls calls = {start_preview, notify_preview, stop_preview};
    program_name = program;
    return &calls;
}
