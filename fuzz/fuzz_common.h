// Shared pieces of the fuzz targets: scratch files made from fuzz input, a sink stream for
// output, and a reset of the engine's process-wide stores so every input starts alike.
#ifndef FUZZ_COMMON_H
#define FUZZ_COMMON_H

#include <cstddef>
#include <cstdio>
#include <string>

// The path of this process's scratch file number slot (0 or 1), rewritten with data.
// Aborts when the file cannot be written: a fuzz run without its input is worthless.
const char *scratch_file_with(int slot, const char *data, size_t size);

// A stream that swallows everything written to it, opened once per process.
FILE *sink_stream();

// Puts the engine back to its start state (reset_inc) at verbosity 0, so the next library
// loads into fresh stores.
void reset_engine();

// Splits data at the first occurrence of sep: *head before it, *tail after it. Without sep
// the whole data is the tail and the head is empty.
void split_input(const char *data, size_t size, const std::string &sep, std::string *head,
                 std::string *tail);

#endif
