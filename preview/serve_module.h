// The preview server is a module of its own (tovrel-preview.so), opened only when -p asks
// for it, so the HTTP library and what it needs (TLS, compression) are never loaded by a
// build. The module exports one function, which hands the program the server's calls.
#ifndef SERVE_MODULE_H
#define SERVE_MODULE_H

#include <string>

#include "preview/serve.h"

// The calls of serve.h that need the server, as the module has them.
struct PreviewCalls {
    PreviewServer *(*start)(const PreviewAddress *addr, const char *root, std::string *url);
    void (*notify)(PreviewServer *server, const char *const *paths, int n);
    void (*diags)(PreviewServer *server, const char *path, const PreviewDiag *diags, int n);
    void (*stop)(PreviewServer *server);
};

// The module's one export: its calls, which live as long as the module. program names the
// program in the server's messages.
extern "C" [[gnu::visibility("default")]] const PreviewCalls *
tovrel_preview_calls(const char *program);

// The file name of the module, found beside the program or in its library directory.
constexpr char preview_module_name[] = "tovrel-preview.so";

#endif
