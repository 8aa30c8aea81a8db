// The preview server: serves the files below the output directory over HTTP on threads of its
// own, adds a live-reload script to every HTML page it sends (never to the file), and tells
// the pages open in browsers to reload when a rebuild has changed them (server-sent events),
// and over a page whose last build gave errors, shows them.
// Its threads only read files and wait for news; they never call the engine.
#ifndef SERVE_H
#define SERVE_H

#include <string>

// Where to listen: a host (an address or a name) and a port (0: any free port).
struct PreviewAddress {
    std::string host;
    int port = 0;
};

// A running server: made by start_preview, ended and freed by stop_preview.
struct PreviewServer;

// True when this build has the preview server.
extern const bool preview_built;

// Reads text, PORT (0 to 65535) or ADDRESS:PORT (an IPv6 address in brackets), into *addr;
// a bare port is served on 127.0.0.1. Returns 0, or -1 when text is no such value.
int parse_preview_address(const char *text, PreviewAddress *addr);

// Binds addr and starts serving the directory root (copied). Returns a new server, which the
// caller ends with stop_preview, and sets *url to the address served, with the real port;
// nullptr, with a message on standard error, when the address cannot be bound.
PreviewServer *start_preview(const PreviewAddress *addr, const char *root, std::string *url);

// Tells every page shown from server whose URL path is one of the n paths (each beginning
// with '/'; "*" stands for every page) to reload. Borrows the paths.
void notify_preview(PreviewServer *server, const char *const *paths, int n);

// One diagnostic of a build, for the pages shown: its line "PATH:LINE: kind: TEXT" and the
// text of that source line ("" when there is none).
enum PreviewDiagKind { PREVIEW_ERROR, PREVIEW_WARNING, PREVIEW_NOTE };
struct PreviewDiag {
    PreviewDiagKind kind;
    const char *line;
    const char *source;
};

// Keeps the n diagnostics of the last build of the page whose URL path is path ("*": the
// library's own, shown on every page) in place of those kept before (n = 0 forgets them). The
// event stream of a page shown tells it its diagnostics when it opens; a rebuild that is
// notified after this opens a new one. Borrows diags.
void show_preview_diags(PreviewServer *server, const char *path, const PreviewDiag *diags, int n);

// Stops serving, ends every connection and frees server. A null server is passed over.
void stop_preview(PreviewServer *server);

#endif
