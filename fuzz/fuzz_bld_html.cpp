// Fuzzes the page transformation the way a page build runs it: the input is an include
// library, the line "%%page%%", and a page file (title line, header lines up to an empty
// line, body). The page is framed by PageStart and PageHdr, its body goes through bld_html,
// its sub-menu through find_smenu, and PageEnd closes it; output goes to /dev/null. A
// library that starts with byte 1, 2 or 3 runs at verbosity 1, 6 or 10.
#include <cstdint>
#include <string>

#include "engine/bld_html.h"
#include "fuzz_common.h"
#include "support/read_line.h"

namespace {

void copy_header_lines(FILE *outf, FILE *inf)
{
    std::string line;
    while (read_whole_line(&line, inf)) {
        if (line.empty() || line[0] == '\n' || line[0] == '\r' || line[0] == '\0')
            return;
        std::fwrite(line.data(), 1, line.size(), outf);
    }
}

void build_page(FILE *outf, FILE *inf)
{
    std::string title;
    if (!read_whole_line(&title, inf))
        return;
    title.resize(std::min(title.find_first_of("\r\n"), title.size()));
    do_include(outf, ("PageStart|" + title).c_str());
    copy_header_lines(outf, inf);
    do_include(outf, ("PageHdr|" + title).c_str());
    bld_html(outf, inf);
    find_smenu(outf, inf);
    do_include(outf, "PageEnd");
}

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
    build_page(sink_stream(), inf);
    std::fclose(inf);
    reset_engine();
    return 0;
}
