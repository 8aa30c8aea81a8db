// What the driver's modules share besides driver/tovrel.h: the paths of a page below the
// input and output directories, and the one way a failure is reported.
#ifndef TOVREL_INTERNAL_H
#define TOVREL_INTERNAL_H

#include <string>

// dir, then "/" and subdir when one is set: the directory that holds the pages.
std::string with_subdir(const std::string &dir);

// The path of the page name below dir (indir or outdir). Settings are used as they stand, so
// a directory that ends in '/' gives a doubled separator.
std::string page_path(const std::string &dir, const char *name);

// Prints the message to standard error and counts it as a failure of the run (the exit status
// is then 2).
[[gnu::format(printf, 1, 2)]] void report_driver_failure(const char *fmt, ...);

// Counts a failure whose message goes out another way.
void count_driver_failure();

// The failures reported so far, the driver's and the engine's: a page whose build adds one is
// never taken as unchanged.
int failures_reported();

// While one lives, the announcements the pages gather for standard error (support/gather.h)
// are written when the buffer fills, before any other message, and when it dies, rather than
// after each page: a batch then spares a write per page.
struct BatchGathering {
    BatchGathering();
    ~BatchGathering();
    BatchGathering(const BatchGathering &) = delete;
    BatchGathering &operator=(const BatchGathering &) = delete;
};

#endif
