// The event streams of the preview server and the keeper thread that looks after them and
// after clients that send their heads too slowly.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <poll.h>
#include <sys/socket.h>

#include "preview/serve_internal.h"

namespace {

constexpr size_t max_remembered = 64;           // rebuilds a late stream can still catch up on
constexpr size_t max_event = size_t{64} * 1024; // an event longer than this reloads every page
constexpr auto keep_alive = std::chrono::seconds(15);
constexpr size_t stream_block = 4096;

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
    if (peer_gone(s->fd)) {
        // libmicrohttpd (0.9.75) may release a connection its reader ended only when its
        // loop next wakes, which can be the idle timeout away; a connection with a timeout
        // of its own is looked at within that second.
        MHD_set_connection_option(s->conn, MHD_CONNECTION_OPTION_TIMEOUT, 1U);
        return MHD_CONTENT_READER_END_WITH_ERROR;
    }
    std::lock_guard<std::mutex> hold(server->lock);
    if (server->closing)
        return MHD_CONTENT_READER_END_OF_STREAM;
    try {
        if (s->pending.empty())
            take_news(server, s);
        if (s->pending.empty() && ServeClock::now() - s->sent >= keep_alive)
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
    std::copy_n(s->pending.data(), n, buf);
    s->pending.erase(0, n);
    s->sent = ServeClock::now();
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

// One pass of the keeper (the server's lock held): wakes the streams due a keep-alive (every
// waiting one when closing), shuts down clients past head_deadline, and lists the other
// waiting streams' sockets to be watched for their clients leaving.
void keeper_pass(PreviewServer *server, std::vector<pollfd> *fds, std::vector<uint64_t> *serials,
                 std::vector<MHD_Connection *> *wake_up)
{
    auto now = ServeClock::now();
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
            // The event loop sees it end and closes it. A connection is told closed (and
            // taken out of clients) before its socket is, so c->fd is still this client's.
            shutdown(c->fd, SHUT_RDWR);
            c->cut = true;
        }
}

} // namespace

// The script added to every HTML page: it reloads the page when a rebuild after since
// changes its path (a directory's page is its index.html), and shows the diagnostics its
// stream tells it.
std::string reload_script(uint64_t since)
{
    return "<script>/* live reload: tovrel -p */(function(){" + std::string(overlay_script) +
           "var p=location.pathname;"
           "try{p=decodeURIComponent(p)}catch(e){}if(p.endsWith('/'))p+='index.html';"
           "var s=new EventSource('" +
           std::string(events_path) + "?since=" + std::to_string(since) +
           "&page='+encodeURIComponent(p));s.onmessage=function(m){var l=m.data.split('\\n');"
           "if(l.indexOf('*')>=0||l.indexOf(p)>=0){s.close();location.reload()}};"
           "s.addEventListener('diags',function(m){try{show(JSON.parse(m.data))}catch(e){}})})();"
           "</script>";
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
        const char *page = MHD_lookup_connection_value(conn, MHD_GET_ARGUMENT_KIND, "page");
        if (page != nullptr)
            s->pending += diags_event(server, page);
    }
    return send_generated(conn, MHD_SIZE_UNKNOWN, stream_block, read_stream, s, free_stream,
                          "text/event-stream");
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

void add_rebuild(PreviewServer *server, const char *const *paths, int n)
{
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
