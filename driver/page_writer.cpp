#include "driver/page_writer.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "driver/tovrel.h"
#include "driver/tovrel_internal.h"
#include "support/gather.h"
#include "support/util.h"

namespace {

// Pages handed over and not yet reported, at most. The writer is woken when half of them
// wait: a sleep and its wake-up cost two system calls, so they are shared by several pages.
constexpr int max_pages = 16;
constexpr int wake_at = max_pages / 2;
// Files made ahead for pages to be built, at most: opening one is among the dearest calls of
// a build, and the writer has the time for it.
constexpr int max_made = 16;

// A page in the writer's hands, and where its failure message would go on standard error.
struct Job {
    FinishedPage page;
    size_t mark = 0;     // gathered_size() when it was handed over
    bool failed = false; // written by the writer before it counts the page done
};

// The building thread hands pages over in jobs[posted % max_pages] and counts them in posted;
// the writer counts the pages it has put in place in done. Each side sleeps on a futex only
// after it has said so, so the other wakes it only then.
struct Writer {
    Job jobs[max_pages];
    std::atomic<int> posted{0};
    std::atomic<int> done{0};
    std::atomic<int> wake_writer{0}; // changed to wake the writer
    std::atomic<int> writer_asleep{0};
    std::atomic<int> builder_waits{0};
    std::atomic<bool> ending{false};
    int reported = 0; // building thread: pages whose outcome is reported
    // Building thread: a bit for each page in hand that replaces another, at its inode number
    // modulo 64, so most page files are cleared of leading to one without a look at each.
    uint64_t replaced_inodes = 0;
    // Files without a name made ahead in made_in, which the building thread takes in order:
    // the writer makes made_files[made % max_made], the builder takes the oldest.
    std::string made_in; // set by the building thread before it hands over its first page
    int made_files[max_made] = {};
    std::atomic<int> made{0};
    std::atomic<int> taken{0};
    bool cannot_make = false; // the writer's: a file could not be made, so no more are tried
    std::thread thread;
};
static_assert(sizeof(std::atomic<int>) == sizeof(int) && std::atomic<int>::is_always_lock_free);
Writer *writer = nullptr; // made by start_page_writer, owned here until stop_page_writer

void futex_wait(std::atomic<int> *word, int value)
{
    syscall(SYS_futex, reinterpret_cast<int *>(word), FUTEX_WAIT_PRIVATE, value, nullptr, nullptr,
            0);
}

void futex_wake(std::atomic<int> *word)
{
    syscall(SYS_futex, reinterpret_cast<int *>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

// Makes files without a name ahead, with a new page's bits, until max_made wait.
void make_files(Writer *w)
{
    // made_in is read only once a page was handed over: it was set before that.
    if (w->posted.load(std::memory_order_acquire) == 0 || w->made_in.empty() || w->cannot_make)
        return;
    int made = w->made.load(std::memory_order_relaxed);
    while (made - w->taken.load(std::memory_order_acquire) < max_made) {
        int fd = open(w->made_in.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd < 0) {
            w->cannot_make = true;
            return;
        }
        w->made_files[made % max_made] = fd;
        w->made.store(++made, std::memory_order_release);
    }
}

void run_writer(Writer *w)
{
    // Signals are handled by the building thread, whose state the handler reads.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    int next = 0;
    for (;;) {
        int seen = w->wake_writer.load();
        if (next < w->posted.load(std::memory_order_acquire)) {
            Job &job = w->jobs[next % max_pages];
            job.failed = !complete_page(&job.page);
            w->done.store(++next);
            if (w->builder_waits.load())
                futex_wake(&w->done);
            continue;
        }
        if (w->ending.load())
            return;
        make_files(w);
        w->writer_asleep.store(1);
        if (next == w->posted.load() && !w->ending.load())
            futex_wait(&w->wake_writer, seen);
        w->writer_asleep.store(0);
    }
}

void wake(Writer *w)
{
    if (w->writer_asleep.load()) {
        w->wake_writer.fetch_add(1);
        futex_wake(&w->wake_writer);
    }
}

// Waits until the writer has done every page handed over.
void wait_for_writer(Writer *w)
{
    int posted = w->posted.load(std::memory_order_relaxed);
    if (w->done.load(std::memory_order_acquire) == posted)
        return;
    wake(w);
    w->builder_waits.store(1);
    for (int now; (now = w->done.load()) != posted;)
        futex_wait(&w->done, now);
    w->builder_waits.store(0);
}

// Waits until every page handed over is done, then reports them: each failure takes its
// place on standard error before everything written after its page was handed over.
void settle()
{
    Writer *w = writer;
    if (w == nullptr || w->reported == w->posted.load(std::memory_order_relaxed))
        return;
    wait_for_writer(w);
    std::vector<std::string> messages;
    std::vector<size_t> at;
    for (; w->reported < w->posted.load(std::memory_order_relaxed); w->reported++) {
        Job &job = w->jobs[w->reported % max_pages];
        if (job.failed) {
            count_driver_failure();
            messages.push_back(strprintf("%s: Can't write output file (%s)!\n", Prog.c_str(),
                                         job.page.out.path.c_str()));
            at.push_back(job.mark);
        }
        reuse_page_bytes(&job.page.bytes);
        job.page = FinishedPage();
    }
    w->replaced_inodes = 0;
    std::vector<const char *> texts;
    texts.reserve(messages.size());
    for (const std::string &message : messages)
        texts.push_back(message.c_str());
    release_gathered(texts.size(), at.data(), texts.data());
}

} // namespace

void start_page_writer()
{
    // With one core the writer would only take turns with the building thread.
    if (writer != nullptr || !gather_stderr() || std::thread::hardware_concurrency() < 2)
        return;
    auto w = std::make_unique<Writer>();
    try {
        w->thread = std::thread(run_writer, w.get());
    } catch (const std::system_error &) {
        return; // no thread: pages are put in place by the building thread
    }
    writer = w.release();
}

void stop_page_writer()
{
    if (writer == nullptr)
        return;
    settle();
    writer->ending.store(true);
    writer->wake_writer.fetch_add(1);
    futex_wake(&writer->wake_writer);
    writer->thread.join();
    for (int i = writer->taken.load(); i < writer->made.load(); i++)
        close(writer->made_files[i % max_made]);
    delete writer;
    writer = nullptr;
}

int take_made_page_file(const char *dir)
{
    Writer *w = writer;
    if (w == nullptr)
        return -1;
    if (w->made_in.empty() && w->posted.load(std::memory_order_relaxed) == 0)
        w->made_in = dir; // before any page is handed over, so the writer sees it
    int taken = w->taken.load(std::memory_order_relaxed);
    if (w->made_in != dir || taken == w->made.load(std::memory_order_acquire))
        return -1;
    int fd = w->made_files[taken % max_made];
    w->taken.store(taken + 1, std::memory_order_release);
    return fd;
}

void settle_page_writer()
{
    settle();
}

bool hand_to_page_writer(FinishedPage *page)
{
    Writer *w = writer;
    if (w == nullptr || !page->out.temp.empty())
        return false;
    if (w->posted.load(std::memory_order_relaxed) - w->reported == max_pages)
        settle();
    int n = w->posted.load(std::memory_order_relaxed);
    hold_gathered(settle);
    Job &job = w->jobs[n % max_pages];
    if (page->out.replaces)
        w->replaced_inodes |= uint64_t{1} << (page->out.old.st_ino % 64);
    job.page = std::move(*page);
    job.mark = gathered_size();
    job.failed = false;
    w->posted.store(n + 1);
    if (n + 1 - w->done.load(std::memory_order_relaxed) >= wake_at)
        wake(w);
    return true;
}

bool wait_for_page_file(const struct stat *in_st)
{
    if (writer == nullptr ||
        (in_st != nullptr && (writer->replaced_inodes >> (in_st->st_ino % 64) & 1) == 0))
        return false;
    // The pages' statuses are read only: the writer does not change them.
    for (int i = writer->reported; i < writer->posted.load(std::memory_order_relaxed); i++) {
        const PageOutput &out = writer->jobs[i % max_pages].page.out;
        if (in_st == nullptr ||
            (out.replaces && in_st->st_dev == out.old.st_dev && in_st->st_ino == out.old.st_ino)) {
            settle();
            return true;
        }
    }
    return false;
}
