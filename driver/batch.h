// Batch builds over the input directory: every page (-a, menu option A) or only the pages
// whose output is missing or older than their page file (-u).
#ifndef BATCH_H
#define BATCH_H

#include <string>
#include <vector>

#include <sys/stat.h>

// Builds every page of the input directory (and subdir), in listing order.
void bld_all_page();

// Builds the pages whose output is missing or older than their page file.
void bld_upd_pages();

// The pages of the input directory (and subdir) in the order a batch builds them, with the
// progress line begun for them (end_progress ends it). When the directory cannot be listed,
// says so on standard error, counts a failure, sets *listed false and returns no page.
std::vector<std::string> list_batch_pages(bool *listed);

// Returns 1 when the page fname needs no build (or cannot be judged: its page file's status
// cannot be read, which is reported), 0 when it must be built.
int updated(const char *fname);

// True when an output made from a source with status source, whose own status is output, is
// out of date: the source was modified later, to the nanosecond (a page saved within the
// second of its last build counts).
bool out_of_date(const struct stat &source, const struct stat &output);

#endif
