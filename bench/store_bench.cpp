// Times the engine's stores on their own: N distinct variables set in random order (each a
// new name, as a macro that marks every page it is given would make), then N lookups of
// macros in a library of M macros. Prints the time per operation, so a step that grows with
// the store shows as a per-operation time that grows with N.
//
// usage: store_bench [N ...]   (default 1000 10000 100000)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "engine/bld_html.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A library of count macros named M0, M1, ... plus Mark, which sets one variable named
// after its argument, and Reset, which clears every variable.
std::string write_library(int count)
{
    std::string path = "/tmp/tovrel-store-bench-" + std::to_string(count) + ".txt";
    FILE *fp = std::fopen(path.c_str(), "w");
    if (!fp) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::fputs(">Mark\n>!set|seen $[1]|yes\n>\n>Reset\n>!clear\n>\n", fp);
    for (int i = 0; i < count; i++)
        std::fprintf(fp, ">M%d\n$[1]\n>\n", i);
    std::fclose(fp);
    return path;
}

void time_store(int n)
{
    std::vector<int> ids(static_cast<size_t>(n));
    for (int i = 0; i < n; i++)
        ids[static_cast<size_t>(i)] = i;
    std::shuffle(ids.begin(), ids.end(), std::mt19937(12345));
    FILE *sink = std::fopen("/dev/null", "w");
    auto start = std::chrono::steady_clock::now();
    char text[64];
    for (int id : ids) {
        std::snprintf(text, sizeof text, "Mark|page%d", id);
        do_include(sink, text);
    }
    double set_time = seconds_since(start);
    start = std::chrono::steady_clock::now();
    for (int id : ids) {
        std::snprintf(text, sizeof text, "M%d|x", id % 1000);
        do_include(sink, text);
    }
    double find_time = seconds_since(start);
    std::fclose(sink);
    std::printf(
        "%8d new variables: %.3f s, %.2f us each; %d includes of 1000 macros: %.2f us each\n", n,
        set_time, set_time / n * 1e6, n, find_time / n * 1e6);
}

} // namespace

int main(int argc, char **argv)
{
    bld_inc(write_library(1000).c_str());
    std::vector<int> sizes;
    for (int i = 1; i < argc; i++)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {1000, 10000, 100000};
    for (int n : sizes) {
        time_store(n);
        do_include(nullptr, "Reset");
    }
    return 0;
}
