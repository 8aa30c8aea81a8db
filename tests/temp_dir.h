// Where tests put their files: below $TMPDIR when it is set, else below /tmp.
#ifndef TEMP_DIR_H
#define TEMP_DIR_H

#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

// The directory temporary files go in.
inline std::string temp_root()
{
    const char *tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

// Makes a new empty directory below temp_root(), named prefix and six letters, and returns its
// path; the caller removes it. Aborts when it cannot be made.
inline std::string make_temp_dir(const char *prefix)
{
    std::string pattern = temp_root() + "/" + prefix + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr)
        std::abort();
    return name.data();
}

#endif
