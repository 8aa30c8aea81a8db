// The progress line of a batch on a terminal: pages done of the pages listed and pages per
// second, on standard error, only when standard error is a terminal and the listing holds
// at least 200 pages, so pipes, files and short batches see nothing of it. While the line is
// shown, standard error (and standard output when it is a terminal) go through streams that
// erase the line before any byte reaches the terminal, so it never mixes with other output.
#ifndef PROGRESS_H
#define PROGRESS_H

#include <cstddef>

// Starts the progress of a batch over pages pages. Does nothing, and so do the calls below,
// when the line is not wanted or a batch is already in progress.
void begin_progress(size_t pages);
// Counts one page done; redraws the line when a tenth of a second has passed since it
// was last drawn and the terminal's cursor stands at the start of a line.
void step_progress();
// Erases the line and gives the standard streams back.
void end_progress();

#endif
