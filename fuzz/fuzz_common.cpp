#include "fuzz_common.h"

#include <cstdlib>
#include <string_view>
#include <unistd.h>

#include "engine/bld_html.h"

const char *scratch_file_with(int slot, const char *data, size_t size)
{
    static std::string paths[2];
    std::string &path = paths[slot & 1];
    if (path.empty()) {
        const char *dir = std::getenv("TMPDIR");
        path = std::string(dir && *dir ? dir : "/tmp") + "/tovrel-fuzz-" +
               std::to_string(getpid()) + "-" + std::to_string(slot & 1);
    }
    FILE *fp = std::fopen(path.c_str(), "wb");
    if (!fp || std::fwrite(data, 1, size, fp) != size || std::fclose(fp) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
    return path.c_str();
}

FILE *sink_stream()
{
    static FILE *sink = std::fopen("/dev/null", "w");
    if (!sink) {
        std::perror("/dev/null");
        std::abort();
    }
    return sink;
}

void reset_engine()
{
    reset_inc();
    set_verbose_inc(0);
}

void split_input(const char *data, size_t size, const std::string &sep, std::string *head,
                 std::string *tail)
{
    std::string_view all(data, size);
    size_t at = all.find(sep);
    if (at == std::string_view::npos) {
        head->clear();
        tail->assign(all);
        return;
    }
    head->assign(all.substr(0, at));
    tail->assign(all.substr(at + sep.size()));
}
