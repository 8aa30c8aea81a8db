// Many small random libraries and pages, from a fixed seed so every run sees the same ones:
// every page ends (the run's time limit would end a hang), every run ends with status 0 or
// 2, and no run leaves a hidden or partial file in the output directory.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "run_tovrel.h"

namespace {

// A small generator of its own, so the sequence is the same with every standard library.
struct Random {
    uint64_t state;
    unsigned below(unsigned n)
    {
        state = state * 6364136223846793005u + 1442695040888963407u;
        return static_cast<unsigned>(state >> 33) % n;
    }
    const char *pick(const std::vector<const char *> &from)
    {
        return from[below(static_cast<unsigned>(from.size()))];
    }
};

const std::vector<const char *> macro_names = {
    "PageStart",  "PageHdr", "PageEnd", "SubMenuStart", "SubMenuItem",
    "SubMenuEnd", "A",       "B",       "SubLink"};
const std::vector<const char *> body_lines = {
    "text $[1]",
    "$[nargs] $[2]",
    ">A|$[1]|x",
    ">B",
    ">!set|v|$[v]$[1]",
    ">!set|w|$[v]$[v]",
    ">!if|$[v]|<|m|yes|no",
    ">!clear",
    "<p>$[v]</p>",
    ">Unknown",
    ">!bogus|1",
    ">SubLink|$[1]|l.html",
    "$[arg1]$[w]",
    "",
    ">!if|a|==",
    "$[99]$[",
};
const std::vector<const char *> page_lines = {
    "plain text",
    ">A|one|two",
    " ]B",
    ">!set|v|page",
    ">SubLink|Home|index.html",
    "\t>SubLink|x",
    ">!if|$[v]|==|page|p|q",
    "",
    "]!clear",
    ">PageEnd",
};

std::string random_library(Random *rng)
{
    std::string text = rng->below(4) == 0 ? "\xEF\xBB\xBF" : "";
    for (unsigned m = 0, macros = 3 + rng->below(8); m < macros; m++) {
        text += std::string(">") + rng->pick(macro_names) + "\n";
        for (unsigned l = 0, lines = rng->below(6); l < lines; l++)
            text += std::string(rng->pick(body_lines)) + "\n";
        text += ">\n";
    }
    return text;
}

std::string random_page(Random *rng)
{
    if (rng->below(10) == 0)
        return "";
    std::string text = "Title " + std::to_string(rng->below(100)) + "\nmeta\n\n";
    for (unsigned l = 0, lines = rng->below(12); l < lines; l++)
        text += std::string(rng->pick(page_lines)) + "\n";
    return text;
}

// True when err holds a failure message (warnings and the announcements of exec lines are
// none).
bool reports_a_failure(const std::string &err)
{
    for (const char *failure :
         {"Can't", "unknown include", "Include nesting", "Include expansion", "too long",
          "Invalid command", "input file is empty", "Page output too large", "only CR"})
        if (err.find(failure) != std::string::npos)
            return true;
    return false;
}

} // namespace

TEST(RandomSites, EveryPageEndsAndLeavesNoStrayFile)
{
    Random rng{20261207};
    for (int site = 0; site < 60; site++) {
        Sandbox box;
        make_site(box);
        write_file(box.site + "/include/include.txt", random_library(&rng));
        for (int p = 0; p < 4; p++)
            write_file(box.site + "/in/p" + std::to_string(p) + ".html", random_page(&rng));
        write_file(box.site + "/out/p0.html", "earlier page\n");
        RunSpec job;
        job.args = {"-a"};
        job.time_limit = 60;
        RunResult r = run_tovrel(box, job);
        EXPECT_TRUE(r.status == 0 || r.status == 2) << "site " << site << ": " << r.status;
        EXPECT_EQ(r.status == 2, reports_a_failure(r.err)) << "site " << site << ": " << r.err;
        for (const std::string &name : dir_names(box.site + "/out"))
            EXPECT_NE(name[0], '.') << "site " << site << " left " << name;
    }
}
