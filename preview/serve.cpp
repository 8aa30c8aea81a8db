// The preview server's event loop (GNU libmicrohttpd, on a thread of its own): it answers
// requests for files and hands event streams to serve_events.cpp.
#include "preview/serve.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <netdb.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <microhttpd.h>

#include "preview/serve_files.h"
#include "preview/serve_internal.h"
#include "preview/serve_module.h"

namespace {

std::string program_name = "tovrel"; // for messages; the program says its own

// A client may be silent (or take nothing) for idle_timeout seconds at most.
constexpr unsigned idle_timeout = 10;
constexpr size_t connection_memory = size_t{32} * 1024; // a request's head and the send buffer
// Descriptors kept for the build (its page, library and output files and the directories
// it walks) and for the server's own (listener, event loop, wake-ups), whatever clients do.
constexpr long build_descriptors = 32;
constexpr long server_descriptors = 8;
constexpr long max_connections = 1000;
constexpr size_t html_block = size_t{16} * 1024;

ssize_t read_html(void *cls, uint64_t pos, char *buf, size_t max)
{
    long n = read_html_body(static_cast<HtmlBody *>(cls), pos, buf, max);
    return n < 0 ? MHD_CONTENT_READER_END_WITH_ERROR : n;
}

void free_html(void *cls)
{
    free_html_body(static_cast<HtmlBody *>(cls));
}

MHD_Response *text_response(const char *text)
{
    MHD_Response *response = MHD_create_response_from_buffer(
        std::strlen(text), const_cast<char *>(text), MHD_RESPMEM_PERSISTENT);
    if (response != nullptr)
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain");
    return response;
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
    return send_generated(conn, html_body_size(body), html_block, read_html, body, free_html,
                          "text/html");
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
    client->idle_since = ServeClock::now();
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
        return MHD_NO; // this request fails, not the server (where no new-handler ends it)
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
        auto *client = info == nullptr ? nullptr
                                       : new (std::nothrow)
                                             Client{info->connect_fd, ServeClock::now()};
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

// Sends response (which may be null: the connection is then closed) with status and frees it.
MHD_Result send_response(MHD_Connection *conn, unsigned status, MHD_Response *response)
{
    if (response == nullptr)
        return MHD_NO;
    MHD_Result queued = MHD_queue_response(conn, status, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result send_generated(MHD_Connection *conn, uint64_t size, size_t block,
                          MHD_ContentReaderCallback read, void *cls,
                          MHD_ContentReaderFreeCallback free_cls, const char *type)
{
    MHD_Response *response = MHD_create_response_from_callback(size, block, read, cls, free_cls);
    if (response == nullptr) {
        free_cls(cls);
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    return send_response(conn, MHD_HTTP_OK, response);
}

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
    if (server != nullptr)
        add_rebuild(server, paths, n);
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
    static const PreviewCalls calls = {start_preview, notify_preview, show_preview_diags,
                                       stop_preview};
    program_name = program;
    return &calls;
}
