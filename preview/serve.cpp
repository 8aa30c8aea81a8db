#include "preview/serve.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <netdb.h>
#include <poll.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <microhttpd.h>

#include "preview/serve_files.h"
#include "preview/serve_module.h"

namespace {

std::string program_name = "tovrel"; // for messages; the program says its own

// The URL of the event stream. It begins with a dot, and dot files are never served, so no
// file of the site can hide it.
const char events_path[] = "/.tovrel/reload";
constexpr size_t max_remembered = 64;   // rebuilds a late stream can still catch up on
constexpr size_t max_event = 64 * 1024; // an event longer than this reloads every page
constexpr auto keep_alive = std::chrono::seconds(15);
// A client gets this long for each request's head, however slowly it sends, and may be
// silent (or take nothing) for idle_timeout seconds at most.
constexpr auto head_deadline = std::chrono::seconds(20);
constexpr unsigned idle_timeout = 10;
constexpr size_t connection_memory = 32 * 1024; // a request's head and the send buffer
// Descriptors kept for the build (its page, library and output files and the directories
// it walks) and for the server's own (listener, event loop, wake-ups), whatever clients do.
constexpr long build_descriptors = 32;
constexpr long server_descriptors = 8;
constexpr long max_connections = 1000;
constexpr size_t stream_block = 4096;
constexpr size_t html_block = 16 * 1024;

using Clock = std::chrono::steady_clock;

// One connection, from its accept to its close.
struct Client {
    int fd;
    Clock::time_point idle_since; // since when the head of its next request is awaited
    bool in_request = false;      // its request's head has arrived; it is being answered
    bool cut = false;             // it ran past head_deadline and was shut down
};

// An open event stream (the response on one connection).
struct Stream {
    PreviewServer *server;
    MHD_Connection *conn;
    int fd;
    uint64_t serial;
    uint64_t since;           // the last rebuild it has told of
    std::string pending;      // text to send
    bool waiting = false;     // suspended until news, a keep-alive or its client leaving
    Clock::time_point sent{}; // when it last sent something
};

} // namespace

struct PreviewServer {
    std::string root;
    MHD_Daemon *daemon = nullptr;
    std::thread keeper;             // keep-alives, clients that left a stream, late heads
    int wake = -1;                  // an eventfd that ends the keeper's wait
    std::mutex lock;                // guards everything below
    uint64_t last = 0;              // number of the latest rebuild
    std::deque<std::string> recent; // rebuild n's event text is recent[n - first]
    bool closing = false;
    uint64_t next_serial = 0;
    std::map<uint64_t, Stream *> streams; // by serial number
    std::set<Client *> clients;
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

// Resumes connections taken off their wait by wake_stream. Called without the server's lock,
// which the event loop may wait for while it holds its own; a suspended connection is never
// closed, so each is still there.
void resume_all(const std::vector<MHD_Connection *> &conns)
{
    for (MHD_Connection *conn : conns)
        MHD_resume_connection(conn);
}

// Takes the waiting stream s off its wait (the server's lock held); the caller resumes its
// connection once the lock is let go.
void wake_stream(Stream *s, std::vector<MHD_Connection *> *wake_up)
{
    s->waiting = false;
    wake_up->push_back(s->conn);
}

// Adds the events of the rebuilds after s->since to its text (the server's lock held).
void take_news(PreviewServer *server, Stream *s)
{
    if (server->last <= s->since)
        return;
    uint64_t first = server->last - server->recent.size() + 1;
    if (s->since + 1 < first)
        s->pending += "data: *\n\n"; // too far behind to tell what changed
    else
        for (uint64_t n = s->since + 1; n <= server->last; n++)
            s->pending += server->recent[n - first];
    s->since = server->last;
}

// True when the client of a stream has closed its end (a stream's client sends nothing).
bool peer_gone(int fd)
{
    char c;
    ssize_t n = recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

// What a stream sends next; with nothing to send, its connection waits, suspended, taking
// no thread, until notify_preview or the keeper resumes it.
ssize_t read_stream(void *cls, uint64_t, char *buf, size_t max)
{
    auto *s = static_cast<Stream *>(cls);
    PreviewServer *server = s->server;
    if (peer_gone(s->fd))
        return MHD_CONTENT_READER_END_WITH_ERROR;
    std::lock_guard<std::mutex> hold(server->lock);
    if (server->closing)
        return MHD_CONTENT_READER_END_OF_STREAM;
    try {
        if (s->pending.empty())
            take_news(server, s);
        if (s->pending.empty() && Clock::now() - s->sent >= keep_alive)
            s->pending = ": still here\n\n";
    } catch (const std::bad_alloc &) {
        return MHD_CONTENT_READER_END_WITH_ERROR;
    }
    if (s->pending.empty()) {
        s->waiting = true;
        MHD_suspend_connection(s->conn);
        return 0;
    }
    size_t n = std::min(max, s->pending.size());
    std::memcpy(buf, s->pending.data(), n);
    s->pending.erase(0, n);
    s->sent = Clock::now();
    return static_cast<ssize_t>(n);
}

void free_stream(void *cls)
{
    auto *s = static_cast<Stream *>(cls);
    {
        std::lock_guard<std::mutex> hold(s->server->lock);
        s->server->streams.erase(s->serial);
    }
    delete s;
}

ssize_t read_html(void *cls, uint64_t pos, char *buf, size_t max)
{
    long n = read_html_body(static_cast<HtmlBody *>(cls), pos, buf, max);
    return n < 0 ? MHD_CONTENT_READER_END_WITH_ERROR : n;
}

void free_html(void *cls)
{
    free_html_body(static_cast<HtmlBody *>(cls));
}

// Sends response (which may be null: the connection is then closed) with status and frees it.
MHD_Result send_response(MHD_Connection *conn, unsigned status, MHD_Response *response)
{
    if (response == nullptr)
        return MHD_NO;
    MHD_Result queued = MHD_queue_response(conn, status, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Response *text_response(const char *text)
{
    MHD_Response *response = MHD_create_response_from_buffer(
        std::strlen(text), const_cast<char *>(text), MHD_RESPMEM_PERSISTENT);
    if (response != nullptr)
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain");
    return response;
}

MHD_Result answer_events(PreviewServer *server, MHD_Connection *conn)
{
    const MHD_ConnectionInfo *info =
        MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CONNECTION_FD);
    const char *asked = MHD_lookup_connection_value(conn, MHD_GET_ARGUMENT_KIND, "since");
    auto *s = new Stream{server, conn, info->connect_fd, 0, 0, "retry: 500\n\n"};
    {
        std::lock_guard<std::mutex> hold(server->lock);
        if (server->closing) {
            delete s;
            return MHD_NO;
        }
        s->serial = server->next_serial++;
        s->since = server->last;
        if (asked != nullptr)
            s->since = std::min<uint64_t>(s->since, std::strtoull(asked, nullptr, 10));
        server->streams[s->serial] = s;
    }
    MHD_Response *response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, stream_block,
                                                               read_stream, s, free_stream);
    if (response == nullptr) {
        free_stream(s);
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    return send_response(conn, MHD_HTTP_OK, response);
}

// An HTML page, with the live-reload script, read from the file (fd, which it takes) as the
// client takes it.
MHD_Result answer_html(PreviewServer *server, MHD_Connection *conn, int fd, uint64_t size,
                       bool head)
{
    uint64_t since;
    {
        std::lock_guard<std::mutex> hold(server->lock);
        since = server->last; // taken before the file is read: a rebuild from now on reloads
    }
    HtmlBody *body = open_html_body(fd, size, reload_script(since), !head);
    if (body == nullptr)
        return MHD_NO;
    MHD_Response *response = MHD_create_response_from_callback(html_body_size(body), html_block,
                                                               read_html, body, free_html);
    if (response == nullptr) {
        free_html_body(body);
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/html");
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    return send_response(conn, MHD_HTTP_OK, response);
}

// Any other file, as it is, or the one range of it that a Range header asks for.
MHD_Result answer_file(MHD_Connection *conn, int fd, uint64_t size, const char *type)
{
    uint64_t first = 0;
    uint64_t last = size == 0 ? 0 : size - 1;
    const char *range = MHD_lookup_connection_value(conn, MHD_HEADER_KIND, "Range");
    RangeAsked asked = parse_range(range, size, &first, &last);
    std::string content_range;
    MHD_Response *response = nullptr;
    unsigned status = MHD_HTTP_OK;
    if (asked == RANGE_UNSATISFIABLE) {
        close(fd);
        status = MHD_HTTP_RANGE_NOT_SATISFIABLE;
        content_range = "bytes */" + std::to_string(size);
        response = text_response("Range not satisfiable\n");
    } else {
        if (asked == RANGE_PART) {
            status = MHD_HTTP_PARTIAL_CONTENT;
            content_range = "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                            std::to_string(size);
        }
        uint64_t length = asked == RANGE_PART ? last - first + 1 : size;
        response = MHD_create_response_from_fd_at_offset64(length, fd, first);
        if (response == nullptr)
            close(fd);
        else
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    }
    if (response != nullptr) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_ACCEPT_RANGES, "bytes");
        if (!content_range.empty())
            MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_RANGE, content_range.c_str());
    }
    return send_response(conn, status, response);
}

MHD_Result answer_path(PreviewServer *server, MHD_Connection *conn, const char *url, bool head)
{
    int fd = -1;
    std::string name;
    Found found = open_request(server->root, url, &fd, &name);
    if (found == FOUND_DIR_NO_SLASH) {
        // Relative, from the last segment: "//host" can never lead elsewhere, and "./" keeps
        // a segment such as "x:y" from reading as a scheme.
        MHD_Response *response = text_response("");
        std::string location = "./" + encoded_last_segment(url) + "/";
        if (response != nullptr)
            MHD_add_response_header(response, MHD_HTTP_HEADER_LOCATION, location.c_str());
        return send_response(conn, MHD_HTTP_MOVED_PERMANENTLY, response);
    }
    if (found == FOUND_NOTHING)
        return send_response(conn, MHD_HTTP_NOT_FOUND, text_response("Not found\n"));
    struct stat st;
    if (fstat(fd, &st) != 0) {
        close(fd);
        return send_response(conn, MHD_HTTP_INTERNAL_SERVER_ERROR,
                             text_response("Can't read the file\n"));
    }
    const char *type = content_type(name);
    auto size = static_cast<uint64_t>(st.st_size);
    if (std::strcmp(type, "text/html") == 0)
        return answer_html(server, conn, fd, size, head);
    return answer_file(conn, fd, size, type);
}

// Counts the request's Content-Length headers that differ from the first.
MHD_Result count_lengths(void *cls, MHD_ValueKind, const char *key, const char *value)
{
    auto *lengths = static_cast<std::pair<std::string, int> *>(cls);
    if (strcasecmp(key, MHD_HTTP_HEADER_CONTENT_LENGTH) != 0)
        return MHD_YES;
    if (lengths->second == 0)
        lengths->first = value;
    if (lengths->first != value)
        lengths->second = -1;
    else if (lengths->second >= 0)
        lengths->second++;
    return MHD_YES;
}

// The answer to a request that cannot be served, given before its body is read: the
// connection is then closed, so no body is ever read as a request.
MHD_Result refuse(MHD_Connection *conn, unsigned status, const char *text)
{
    MHD_Response *response = text_response(text);
    if (response != nullptr) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
        if (status == MHD_HTTP_METHOD_NOT_ALLOWED)
            MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    }
    return send_response(conn, status, response);
}

Client *client_of(MHD_Connection *conn)
{
    const MHD_ConnectionInfo *info =
        MHD_get_connection_info(conn, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info != nullptr ? static_cast<Client *>(info->socket_context) : nullptr;
}

void set_in_request(PreviewServer *server, MHD_Connection *conn, bool in_request)
{
    Client *client = client_of(conn);
    if (client == nullptr)
        return;
    std::lock_guard<std::mutex> hold(server->lock);
    client->in_request = in_request;
    client->idle_since = Clock::now();
}

// Called with the request's head, then with each piece of its body (read and dropped), then
// once more when the body has ended: the answer is given then, so a body is never read as
// the next request.
MHD_Result answer(void *cls, MHD_Connection *conn, const char *url, const char *method,
                  const char *, const char *, size_t *upload_size, void **req_cls)
{
    static char started;
    auto *server = static_cast<PreviewServer *>(cls);
    bool head = std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
    try {
        if (*req_cls == nullptr) {
            *req_cls = &started;
            set_in_request(server, conn, true);
            if (!head && std::strcmp(method, MHD_HTTP_METHOD_GET) != 0)
                return refuse(conn, MHD_HTTP_METHOD_NOT_ALLOWED, "Method not allowed\n");
            std::pair<std::string, int> lengths{"", 0};
            MHD_get_connection_values(conn, MHD_HEADER_KIND, count_lengths, &lengths);
            if (lengths.second < 0)
                return refuse(conn, MHD_HTTP_BAD_REQUEST, "Conflicting Content-Length\n");
            return MHD_YES;
        }
        if (*upload_size != 0) {
            *upload_size = 0;
            return MHD_YES;
        }
        if (std::strcmp(url, events_path) == 0)
            return answer_events(server, conn);
        return answer_path(server, conn, url, head);
    } catch (const std::bad_alloc &) {
        return MHD_NO; // this request fails, not the server
    }
}

void request_ended(void *cls, MHD_Connection *conn, void **, MHD_RequestTerminationCode)
{
    set_in_request(static_cast<PreviewServer *>(cls), conn, false);
}

void connection_changed(void *cls, MHD_Connection *conn, void **socket_context,
                        MHD_ConnectionNotificationCode code)
{
    auto *server = static_cast<PreviewServer *>(cls);
    std::lock_guard<std::mutex> hold(server->lock);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        const MHD_ConnectionInfo *info =
            MHD_get_connection_info(conn, MHD_CONNECTION_INFO_CONNECTION_FD);
        auto *client = new (std::nothrow) Client{info->connect_fd, Clock::now()};
        if (client != nullptr && !server->clients.insert(client).second) {
            delete client;
            client = nullptr;
        }
        *socket_context = client;
    } else if (*socket_context != nullptr) {
        auto *client = static_cast<Client *>(*socket_context);
        server->clients.erase(client);
        delete client;
        *socket_context = nullptr;
    }
}

// Decodes %XX in place; an encoded NUL becomes a backslash, which no served path holds, so a
// name cannot be cut short by one.
size_t unescape(void *, MHD_Connection *, char *s)
{
    char *out = s;
    for (const char *in = s; *in != '\0'; in++) {
        if (in[0] == '%' && std::isxdigit(static_cast<unsigned char>(in[1])) &&
            std::isxdigit(static_cast<unsigned char>(in[2]))) {
            char hex[3] = {in[1], in[2], '\0'};
            char c = static_cast<char>(std::strtol(hex, nullptr, 16));
            *out++ = c == '\0' ? '\\' : c;
            in += 2;
        } else {
            *out++ = *in;
        }
    }
    *out = '\0';
    return static_cast<size_t>(out - s);
}

// One pass of the keeper (the server's lock held): wakes the streams due a keep-alive (every
// waiting one when closing), shuts down clients past head_deadline, and lists the other
// waiting streams' sockets to be watched for their clients leaving.
void keeper_pass(PreviewServer *server, std::vector<pollfd> *fds, std::vector<uint64_t> *serials,
                 std::vector<MHD_Connection *> *wake_up)
{
    auto now = Clock::now();
    for (auto &[serial, s] : server->streams) {
        if (!s->waiting)
            continue;
        if (server->closing || now - s->sent >= keep_alive) {
            wake_stream(s, wake_up);
        } else {
            fds->push_back({s->fd, POLLRDHUP, 0});
            serials->push_back(serial);
        }
    }
    for (Client *c : server->clients)
        if (!c->in_request && !c->cut && now - c->idle_since >= head_deadline) {
            shutdown(c->fd, SHUT_RDWR); // the event loop then sees it end and closes it
            c->cut = true;
        }
}

void keep(PreviewServer *server)
{
    for (;;) {
        std::vector<pollfd> fds = {{server->wake, POLLIN, 0}};
        std::vector<uint64_t> serials;
        std::vector<MHD_Connection *> wake_up;
        bool closing;
        {
            std::lock_guard<std::mutex> hold(server->lock);
            closing = server->closing;
            keeper_pass(server, &fds, &serials, &wake_up);
        }
        resume_all(wake_up);
        if (closing)
            return;
        wake_up.clear();
        if (poll(fds.data(), fds.size(), 1000) <= 0)
            continue;
        {
            std::lock_guard<std::mutex> hold(server->lock);
            for (size_t i = 1; i < fds.size(); i++) {
                auto s = server->streams.find(serials[i - 1]);
                if (fds[i].revents != 0 && s != server->streams.end() && s->second->waiting)
                    wake_stream(s->second, &wake_up); // it sees its client gone and ends
            }
        }
        resume_all(wake_up);
    }
}

// The number of connections served at once: each may hold two descriptors (its socket and
// a file), and the build keeps build_descriptors beside those open now.
unsigned connection_cap()
{
    struct rlimit lim;
    long limit = getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY
                     ? static_cast<long>(std::min<rlim_t>(lim.rlim_cur, 1 << 20))
                     : 1 << 20;
    std::error_code ec;
    long open_now = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        open_now++;
    long cap = (limit - open_now - build_descriptors - server_descriptors) / 2;
    return static_cast<unsigned>(std::clamp(cap, 1L, max_connections));
}

// A socket listening on addr (its port 0: any free one), or -1 with *err set. *port is set to
// the port bound and *family to the address family.
int listen_on(const PreviewAddress *addr, int *err, int *port, int *family)
{
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    *err = 0;
    if (getaddrinfo(addr->host.c_str(), std::to_string(addr->port).c_str(), &hints, &found) != 0)
        return -1;
    int fd = -1;
    for (addrinfo *a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        // Only SO_REUSEADDR: with SO_REUSEPORT a second server on the same port would bind
        // without an error and share its requests.
        int yes = 1;
        if (fd >= 0 && (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
                        bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, 128) != 0)) {
            *err = errno;
            close(fd);
            fd = -1;
        }
        if (fd >= 0)
            *family = a->ai_family;
    }
    freeaddrinfo(found);
    sockaddr_storage bound = {};
    socklen_t len = sizeof bound;
    if (fd >= 0 && getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &len) == 0)
        *port =
            ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                              : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
    return fd;
}

MHD_Daemon *start_daemon(PreviewServer *server, int sock, int family)
{
    unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME;
    if (family == AF_INET6)
        flags |= MHD_USE_IPv6;
    return MHD_start_daemon(
        flags, 0, nullptr, nullptr, answer, server, MHD_OPTION_LISTEN_SOCKET, sock,
        MHD_OPTION_CONNECTION_LIMIT, connection_cap(), MHD_OPTION_CONNECTION_TIMEOUT, idle_timeout,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, connection_memory, MHD_OPTION_NOTIFY_CONNECTION,
        connection_changed, server, MHD_OPTION_NOTIFY_COMPLETED, request_ended, server,
        MHD_OPTION_UNESCAPE_CALLBACK, unescape, nullptr, MHD_OPTION_END);
}

} // namespace

PreviewServer *start_preview(const PreviewAddress *addr, const char *root, std::string *url)
{
    auto server = std::make_unique<PreviewServer>();
    server->root = root;
    int err = 0;
    int port = 0;
    int family = AF_INET;
    int sock = listen_on(addr, &err, &port, &family);
    std::string host =
        addr->host.find(':') != std::string::npos ? "[" + addr->host + "]" : addr->host;
    if (sock >= 0) {
        server->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        server->daemon = server->wake >= 0 ? start_daemon(server.get(), sock, family) : nullptr;
        if (server->daemon == nullptr) {
            err = server->wake >= 0 ? 0 : errno;
            close(sock);
        }
    }
    if (server->daemon == nullptr) {
        if (server->wake >= 0)
            close(server->wake);
        std::fprintf(stderr, "%s: Can't serve at %s:%d (%s)\n", program_name.c_str(), host.c_str(),
                     addr->port, err != 0 ? std::strerror(err) : "address not available");
        return nullptr;
    }
    PreviewServer *running = server.release();
    running->keeper = std::thread(keep, running);
    *url = "http://" + host + ":" + std::to_string(port) + "/";
    return running;
}

void notify_preview(PreviewServer *server, const char *const *paths, int n)
{
    if (server == nullptr)
        return;
    std::string event;
    for (int i = 0; i < n && event.size() <= max_event; i++)
        event +=
            std::strpbrk(paths[i], "\r\n") ? "data: *\n" : "data: " + std::string(paths[i]) + "\n";
    if (event.size() > max_event)
        event = "data: *\n";
    std::vector<MHD_Connection *> wake_up;
    {
        std::lock_guard<std::mutex> hold(server->lock);
        server->recent.push_back(event + "\n");
        if (server->recent.size() > max_remembered)
            server->recent.pop_front();
        server->last++;
        for (auto &[serial, s] : server->streams)
            if (s->waiting)
                wake_stream(s, &wake_up);
    }
    resume_all(wake_up);
}

void stop_preview(PreviewServer *server)
{
    if (server == nullptr)
        return;
    {
        std::lock_guard<std::mutex> hold(server->lock);
        server->closing = true;
    }
    uint64_t one = 1;
    if (write(server->wake, &one, sizeof one) < 0) {
        // the keeper still ends within its next wait
    }
    if (server->keeper.joinable())
        server->keeper.join();
    MHD_stop_daemon(server->daemon); // every stream is resumed: it ends them all
    close(server->wake);
    delete server;
}

const PreviewCalls *tovrel_preview_calls(const char *program)
{
    static const PreviewCalls calls = {start_preview, notify_preview, stop_preview};
    program_name = program;
    return &calls;
}
