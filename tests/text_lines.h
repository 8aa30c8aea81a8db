// Picking lines out of captured output.
#ifndef TEXT_LINES_H
#define TEXT_LINES_H

#include <string>
#include <vector>

// The lines of text (each with its line end) that begin with one of prefixes; with keep
// false, the lines that begin with none of them.
inline std::string lines_starting(const std::string &text, const std::vector<std::string> &prefixes,
                                  bool keep = true)
{
    std::string kept;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(at, end - at);
        bool starts = false;
        for (const std::string &prefix : prefixes)
            starts = starts || line.compare(0, prefix.size(), prefix) == 0;
        if (starts == keep)
            kept += line;
        at = end;
    }
    return kept;
}

#endif
