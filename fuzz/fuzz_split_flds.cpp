// Fuzzes the field splitter. The first three bytes choose the delimiter, skip and the field
// limit (-2 to 125); the rest is the text (no text at all: a null text). The fields must lie
// in the text in order, hold no delimiter, and (without skip, below the limit) join back
// into the original text; a limit of 0 or less leaves the text unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/splitfld.h"

namespace {

void check_fields(const std::string &original, char *text, char **flds, int n, char delim, int skip,
                  int maxflds)
{
    if (n < 0 || n > (maxflds > 0 ? maxflds : 0))
        std::abort();
    if (maxflds <= 0 && std::memcmp(text, original.data(), original.size()) != 0)
        std::abort();
    size_t len = std::strlen(original.c_str()); // the splitter sees the text up to its NUL
    if (len == 0 && n != 0)
        std::abort();
    const char *prev_end = text;
    std::string joined;
    for (int i = 0; i < n; i++) {
        if (flds[i] < prev_end || flds[i] > text + len)
            std::abort(); // fields lie in the text, in order, without overlap
        size_t flen = std::strlen(flds[i]);
        if (delim != '\0' && std::memchr(flds[i], delim, flen))
            std::abort();
        prev_end = flds[i] + flen;
        if (i > 0)
            joined.push_back(delim);
        joined.append(flds[i], flen);
    }
    if (!skip && n > 0 && n < maxflds && joined != original.substr(0, len))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    char delim = static_cast<char>(data[0]);
    int skip = data[1] & 1;
    int maxflds = data[2] % 128 - 2;
    bool null_text = size == 3;
    std::string original(reinterpret_cast<const char *>(data) + 3, size - 3);
    // Exactly maxflds slots on the heap, so a write past the limit is caught.
    std::vector<char *> flds(maxflds > 0 ? maxflds : 0);
    char **table = flds.empty() ? nullptr : flds.data();
    if (null_text) {
        char *dummy = nullptr;
        if (split_flds(nullptr, table ? table : &dummy, delim, skip, maxflds) != 0)
            std::abort();
        return 0;
    }
    char *text = static_cast<char *>(std::malloc(original.size() + 1));
    std::memcpy(text, original.c_str(), original.size() + 1);
    char *none = nullptr;
    int n = split_flds(text, table ? table : &none, delim, skip, maxflds);
    check_fields(original, text, table, n, delim, skip, maxflds);
    std::free(text);
    return 0;
}
