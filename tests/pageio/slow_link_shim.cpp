// Loaded into the program with LD_PRELOAD by a test: a link to a hidden page name
// (".tovrel-") is held up for two seconds, before or after it is made (TOVREL_SHIM_DELAY
// "before" or "after"), and the file TOVREL_SHIM_MARK is created when the hold begins, so the
// test can send a signal in exactly that instant.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

void hold(const char *name)
{
    const char *mark = std::getenv("TOVREL_SHIM_MARK");
    if (mark == nullptr || std::strstr(name, ".tovrel-") == nullptr)
        return;
    int fd = open(mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0)
        close(fd);
    struct timespec pause = {2, 0};
    nanosleep(&pause, nullptr);
}

} // namespace

extern "C" int linkat(int olddirfd, const char *oldpath, int newdirfd, const char *newpath,
                      int flags)
{
    using Linkat = int (*)(int, const char *, int, const char *, int);
    static const Linkat real = reinterpret_cast<Linkat>(dlsym(RTLD_NEXT, "linkat"));
    const char *when = std::getenv("TOVREL_SHIM_DELAY");
    bool after = when != nullptr && std::strcmp(when, "after") == 0;
    if (!after)
        hold(newpath);
    int result = real(olddirfd, oldpath, newdirfd, newpath, flags);
    if (after && result == 0)
        hold(newpath);
    return result;
}
