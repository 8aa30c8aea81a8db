// Helpers the engine's tests share: a library loaded from a text, and repeated texts.
#ifndef ENGINE_FIXTURE_H
#define ENGINE_FIXTURE_H

#include <string>
#include <unistd.h>

#include "child_run.h"
#include "engine/bld_html.h"

// Loads text as the include library (through a temporary file, removed afterwards).
inline void load_library(const std::string &text)
{
    std::string path = file_with(text);
    bld_inc(path.c_str());
    unlink(path.c_str());
}

// Returns text written times times.
inline std::string repeat(const std::string &text, int times)
{
    std::string out;
    for (int i = 0; i < times; i++)
        out += text;
    return out;
}

#endif
