// Fuzzes the page transformation the way a page build runs it: the input is an include
// library, the line "%%page%%", and a page file (title line, header lines up to an empty
// line, body), written by the driver's own write_page: framed by PageStart and PageHdr, the
// body through bld_html, the sub-menu through find_smenu, and PageEnd; output goes to
// /dev/null. A
// library that starts with byte 1, 2 or 3 runs at verbosity 1, 6 or 10.
#include <cstdint>
#include <string>

#include "driver/page_build.h"
#include "engine/bld_html.h"
#include "fuzz_common.h"

namespace {

int verbosity_of(const std::string &library)
{
    static const int levels[] = {0, 1, 6, 10};
    if (library.empty() || library[0] < 1 || library[0] > 3)
        return 0;
    return levels[static_cast<int>(library[0])];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string library;
    std::string page;
    split_input(reinterpret_cast<const char *>(data), size, "\n%%page%%\n", &library, &page);
    reset_engine();
    set_verbose_inc(verbosity_of(library));
    bld_inc(scratch_file_with(0, library.data(), library.size()));
    FILE *inf = std::fopen(scratch_file_with(1, page.data(), page.size()), "r");
    if (!inf)
        return 0;
    write_page(sink_stream(), inf, "page");
    std::fclose(inf);
    reset_engine();
    return 0;
}
