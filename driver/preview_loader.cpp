// The preview server's side in the program: the address is read here, and the server itself
// is opened from its module (preview/serve_module.h) when the first one starts.
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include <dlfcn.h>
#include <unistd.h>

#include "driver/settings.h"
#include "preview/serve.h"
#include "preview/serve_module.h"

const bool preview_built = true;

#ifndef TOVREL_PREVIEW_DIR
#define TOVREL_PREVIEW_DIR "../lib/tovrel"
#endif

namespace {

// Where an installed module is, from the program's directory.
constexpr char installed_dir[] = TOVREL_PREVIEW_DIR;

// The directory the running program is in, or "." when it cannot be told.
std::string program_dir()
{
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return ".";
    std::string dir(path, static_cast<size_t>(n));
    size_t slash = dir.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : dir.substr(0, slash);
}

// The module's calls, opened once: beside the program (a build tree), else in its library
// directory (an installed program). Null, with a message, when it cannot be opened.
const PreviewCalls *preview_calls()
{
    static const PreviewCalls *const calls = []() -> const PreviewCalls * {
        std::string dir = program_dir();
        std::string error;
        for (const std::string &path : {dir + "/" + preview_module_name,
                                        dir + "/" + installed_dir + "/" + preview_module_name}) {
            void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (module == nullptr) {
                if (error.empty() || access(path.c_str(), F_OK) == 0)
                    error = dlerror();
                continue;
            }
            auto entry = reinterpret_cast<const PreviewCalls *(*)(const char *)>(
                dlsym(module, "tovrel_preview_calls"));
            if (entry != nullptr)
                return entry(Prog.c_str());
            error = dlerror();
        }
        std::fprintf(stderr, "%s: Can't load the preview server (%s)\n", Prog.c_str(),
                     error.c_str());
        return nullptr;
    }();
    return calls;
}

} // namespace

int parse_preview_address(const char *text, PreviewAddress *addr)
{
    std::string value(text);
    size_t colon = value.rfind(':');
    std::string host = colon == std::string::npos ? "127.0.0.1" : value.substr(0, colon);
    std::string port = colon == std::string::npos ? value : value.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    else if (host.find_first_of("[]:") != std::string::npos)
        return -1;
    unsigned number = 0;
    const char *end = port.data() + port.size();
    auto [stop, error] = std::from_chars(port.data(), end, number); // digits only, no sign
    if (host.empty() || port.empty() || error != std::errc() || stop != end || number > 65535)
        return -1;
    addr->host = host;
    addr->port = static_cast<int>(number);
    return 0;
}

PreviewServer *start_preview(const PreviewAddress *addr, const char *root, std::string *url)
{
    const PreviewCalls *calls = preview_calls();
    return calls != nullptr ? calls->start(addr, root, url) : nullptr;
}

void notify_preview(PreviewServer *server, const char *const *paths, int n)
{
    if (server != nullptr)
        preview_calls()->notify(server, paths, n);
}

void show_preview_diags(PreviewServer *server, const char *path, const PreviewDiag *diags, int n)
{
    if (server != nullptr)
        preview_calls()->diags(server, path, diags, n);
}

void stop_preview(PreviewServer *server)
{
    if (server != nullptr)
        preview_calls()->stop(server);
}
