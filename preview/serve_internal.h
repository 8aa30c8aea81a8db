// What the parts of the preview server share: the server's record, the connections and
// event streams it keeps, and the event streams' calls (serve_events.cpp).
#ifndef SERVE_INTERNAL_H
#define SERVE_INTERNAL_H

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <microhttpd.h>

#include "preview/serve.h"

// The URL of the event stream. It begins with a dot, and dot files are never served, so no
// file of the site can hide it.
constexpr char events_path[] = "/.tovrel/reload";
// A client gets this long for each request's head, however slowly it sends.
constexpr auto head_deadline = std::chrono::seconds(20);

using ServeClock = std::chrono::steady_clock;

// One connection, from its accept to its close.
struct Client {
    int fd;
    ServeClock::time_point idle_since; // since when the head of its next request is awaited
    bool in_request = false;           // its request's head has arrived; it is being answered
    bool cut = false;                  // it ran past head_deadline and was shut down
};

// An open event stream (the response on one connection).
struct Stream {
    PreviewServer *server;
    MHD_Connection *conn;
    int fd;
    uint64_t serial;
    uint64_t since;                // the last rebuild it has told of
    std::string pending;           // text to send
    bool waiting = false;          // suspended until news, a keep-alive or its client leaving
    ServeClock::time_point sent{}; // when it last sent something
};

// Diagnostics of one kind (errors, or warnings) with the notes that follow them: the first
// entries as JSON objects, and the counts of all.
struct DiagGroup {
    std::vector<std::string> entries;
    size_t count = 0; // errors or warnings, notes not counted
    size_t total = 0; // entries, notes counted
};

// The diagnostics of one page's last build (or of the library's).
struct PageDiags {
    DiagGroup errors, warnings;
};

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
    std::map<uint64_t, Stream *> streams;   // by serial number (owned by their responses)
    std::set<Client *> clients;             // owned by their connections
    std::map<std::string, PageDiags> diags; // by page path ("*": the library's)
};

// The script added to every HTML page: it reloads the page when a rebuild after since
// changes its path (a directory's page is its index.html).
std::string reload_script(uint64_t since);

// The event that tells the page at path its diagnostics and the library's, or "" when
// neither has any (the server's lock held).
std::string diags_event(PreviewServer *server, const std::string &path);

// The script's function show(d), which puts the diagnostics of a diags event over the page.
extern const char overlay_script[];

// Queues response (null: the connection is closed) with status on conn and lets it go.
MHD_Result send_response(MHD_Connection *conn, unsigned status, MHD_Response *response);

// Sends 200 with a body of size bytes (MHD_SIZE_UNKNOWN: until read ends it) that read makes
// from cls, block bytes at a time, as the client takes it, never cached; free_cls(cls) is
// called once the response is done, or at once when it cannot be made.
MHD_Result send_generated(MHD_Connection *conn, uint64_t size, size_t block,
                          MHD_ContentReaderCallback read, void *cls,
                          MHD_ContentReaderFreeCallback free_cls, const char *type);

// Answers a request for the event stream on conn: a stream that waits, suspended and taking
// no thread, for rebuilds, keep-alives or its client leaving.
MHD_Result answer_events(PreviewServer *server, MHD_Connection *conn);

// Records a rebuild that changed the n paths and wakes every waiting stream.
void add_rebuild(PreviewServer *server, const char *const *paths, int n);

// The keeper thread: sends keep-alives, ends streams whose clients left, and shuts down
// clients past head_deadline; once the server is closing, resumes every stream and returns.
void keep(PreviewServer *server);

#endif
