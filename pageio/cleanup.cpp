#include "pageio/cleanup.h"

#include <atomic>
#include <csignal>

#include <unistd.h>

#include "support/gather.h"
#include "support/util.h"

namespace {

// Read by the signal handler, so it is a lock-free atomic and nothing else.
std::atomic<const char *> cleanup_file{nullptr};
static_assert(std::atomic<const char *>::is_always_lock_free);

void remove_cleanup_file()
{
    const char *path = cleanup_file.load();
    if (path != nullptr)
        unlink(path);
}

extern "C" void end_by_signal(int sig)
{
    remove_cleanup_file();
    flush_gathered(); // the page's announcements so far: nothing written is lost
    // With the default action back, the signal, raised again, ends the program once this
    // handler returns, so the parent sees the real cause.
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// SIGPIPE too: a reader of standard output that goes away ends the run, and the
// announcements gathered until then must still reach standard error.
constexpr int ending_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

} // namespace

void set_cleanup_file(const char *path)
{
    cleanup_file.store(path);
}

void install_signal_cleanup()
{
    struct sigaction action = {};
    action.sa_handler = end_by_signal;
    sigemptyset(&action.sa_mask);
    for (int sig : ending_signals)
        sigaddset(&action.sa_mask, sig); // one cleanup at a time
    for (int sig : ending_signals) {
        struct sigaction old = {};
        // A signal ignored when the program started (nohup, a background job) stays ignored.
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            sigaction(sig, &action, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);
    set_out_of_memory_hook(remove_cleanup_file);
}
