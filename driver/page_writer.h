// The page writer: during a batch, a second thread puts each built page in place (writes it
// and links it, or keeps the unchanged old page) while the next page is built, so the file
// work of one page and the building of the next share the machine's cores.
//
// Nothing a user sees changes: messages keep the order one thread gives. While pages are in
// the writer's hands, whatever the build writes to standard error is held back
// (support/gather.h), and a page's failure, when it has one, is put where its page ended. So the
// writer runs only while announcements are gathered and standard output is another file than
// standard error. A page that must see an earlier page in place (the same output page again,
// or a page file that leads to a page being written) waits for the writer first.
#ifndef PAGE_WRITER_H
#define PAGE_WRITER_H

#include <string>

#include <sys/stat.h>

#include "driver/page_output.h"

// Starts the writer for a batch; without it (no thread to be had) pages are put in place
// by the building thread.
void start_page_writer();

// Waits for the pages in hand, reports those that failed, and ends the writer.
void stop_page_writer();

// Waits for the pages in hand and reports those that failed.
void settle_page_writer();

// A file without a name that the writer made ahead in the directory dir, with a new page's
// permission bits, which the caller now owns; -1 when there is none. The first call of a
// batch names the directory (later ones for another directory get none).
int take_made_page_file(const char *dir);

// Takes the page to put it in place on the writer's thread. Returns false, taking nothing,
// when there is no writer or the page needs the building thread (it has a hidden temporary
// file registered for removal).
bool hand_to_page_writer(FinishedPage *page);

// Settles the writer if the page file with status in_st may be a page it replaces, or if the
// page file could not be opened (in_st null), maybe for want of a page still in its hands.
// Returns true when it waited, so the page file must be opened again.
bool wait_for_page_file(const struct stat *in_st);

#endif
