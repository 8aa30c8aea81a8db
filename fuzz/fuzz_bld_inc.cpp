// Fuzzes the include library loader: the input is written to a file and loaded with
// bld_inc; the macro index must then hold sorted, unique, lower-cased names whose bodies
// hold no line ends and no closing line. An input that starts with byte 1 loads with full
// tracing.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "engine/bld_html.h"
#include "fuzz_common.h"

namespace {

void check_name(const char *name)
{
    for (const char *p = name; *p; p++)
        if (*p >= 'A' && *p <= 'Z')
            std::abort(); // names are stored lower-cased
}

void check_body(const ProdAlphaList *body)
{
    if (!body || body->nitems < 0 || body->nitems > body->maxitems)
        std::abort();
    for (int i = 0; i < body->nitems; i++) {
        const char *line = body->item[i];
        if (!line || std::strpbrk(line, "\r\n") || std::strcmp(line, ">") == 0)
            std::abort();
    }
}

void check_index()
{
    if (!incs)
        return;
    if (!vars) // both stores are created together
        std::abort();
    for (int i = 0; i < incs->nitems; i++) {
        check_name(incs->key[i]);
        check_body(static_cast<const ProdAlphaList *>(incs->item[i]));
        if (i > 0 && std::strcmp(incs->key[i - 1], incs->key[i]) >= 0)
            std::abort(); // keys ascend without duplicates
        if (bsearch_aptr_prodlist(incs, incs->key[i]) != i)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    reset_engine();
    if (size > 0 && data[0] == 1)
        set_verbose_inc(10);
    const char *path = scratch_file_with(0, reinterpret_cast<const char *>(data), size);
    bld_inc(path);
    check_index();
    reset_engine();
    return 0;
}
