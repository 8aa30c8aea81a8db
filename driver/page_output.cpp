#include "driver/page_output.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/signals.h"
#include "driver/tovrel.h"
#include "driver/tovrel_internal.h"

namespace {

// Reading the umask means setting it, so it is read once, when the program starts.
mode_t read_umask()
{
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}
const mode_t creation_mask = read_umask();
// The bits a plainly created file gets: 0666 less the umask.
const mode_t new_page_mode = 0666 & ~creation_mask;

// One stream buffer for the page being written; a build has one page open at a time, and a
// large buffer means one write per page.
char output_buffer[1 << 16];

// An unnamed file is given its name through /proc/self/fd, which needs no privilege; without
// /proc the hidden named file is used.
bool can_name_unnamed_files()
{
    static const bool proc = access("/proc/self/fd", X_OK) == 0;
    return proc;
}

// The directory part of path, with its '/', or "./" when there is none.
std::string dir_of(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

// Makes *temp a hidden name beside path, ".tovrel-" and six letters from a number unique to
// this process and attempt.
void next_hidden_name(std::string *temp, const std::string &path)
{
    static const char digits[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static unsigned long attempt = 0;
    static const unsigned long pid = static_cast<unsigned long>(getpid());
    unsigned long seed = pid * 7919 + attempt++ * 104729;
    *temp = dir_of(path) + ".tovrel-XXXXXX";
    for (size_t i = temp->size() - 6; i < temp->size(); i++) {
        (*temp)[i] = digits[seed % 62];
        seed /= 62;
    }
}

// Removes the hidden temporary file, if there is one, and forgets it.
void discard_temp(PageOutput *out)
{
    if (out->temp.empty())
        return;
    unlink(out->temp.c_str());
    set_cleanup_file(nullptr);
    out->temp.clear();
}

// Creates the file the page is written to, with no more permission than mode allows: a file
// without a name in the page's directory, else a new hidden file beside the page (then
// named in out->temp and registered for removal). Returns its descriptor, or -1.
int create_page_file(PageOutput *out, mode_t mode)
{
    if (can_name_unnamed_files()) {
        int fd = open(dir_of(out->path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode & 0777);
        if (fd >= 0)
            return fd;
    }
    for (int tries = 0; tries < 1000; tries++) {
        next_hidden_name(&out->temp, out->path);
        int fd = open(out->temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777);
        if (fd >= 0) {
            set_cleanup_file(out->temp.c_str());
            return fd;
        }
        if (errno != EEXIST)
            break;
    }
    out->temp.clear();
    return -1;
}

// Gives the new file fd the group of the page it replaces, and its owner when the program
// runs as root, where the system allows; a refusal leaves the file as created.
void keep_owner(int fd, const struct stat &old)
{
    if (geteuid() == 0)
        (void)fchown(fd, old.st_uid, old.st_gid);
    else if (old.st_gid != getegid())
        (void)fchown(fd, static_cast<uid_t>(-1), old.st_gid);
}

// Opens out->fp on a new file for out->path with the given permission bits, and the owner of
// old when it replaces a page. Returns false (nothing left behind) when it cannot.
bool create_page_output(PageOutput *out, mode_t mode, const struct stat *old)
{
    int fd = create_page_file(out, mode);
    if (fd < 0)
        return false;
    if (old != nullptr)
        keep_owner(fd, *old);
    // The umask may have taken bits that mode asks for, and a change of owner the set-id
    // bits; only then is a chmod needed.
    bool mode_ok = (mode & (creation_mask | 07000)) == 0 || fchmod(fd, mode) == 0;
    if (!mode_ok || (out->fp = fdopen(fd, "w")) == nullptr) {
        close(fd);
        discard_temp(out);
        return false;
    }
    std::setvbuf(out->fp, output_buffer, _IOFBF, sizeof output_buffer);
    return true;
}

// Gives the unnamed file fd the page's name: a new page is linked into place; one that
// replaces another is linked to a hidden name and renamed over it, so the page's path never
// shows a partial file. Returns false when it cannot.
bool name_page_file(PageOutput *out, int fd)
{
    std::string proc = "/proc/self/fd/" + std::to_string(fd);
    if (!out->replaces) {
        if (linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, out->path.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return true;
        if (errno != EEXIST)
            return false;
    }
    for (int tries = 0;; tries++) {
        next_hidden_name(&out->temp, out->path);
        if (linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, out->temp.c_str(), AT_SYMLINK_FOLLOW) == 0)
            break;
        if (errno != EEXIST || tries == 1000) {
            out->temp.clear();
            return false;
        }
    }
    set_cleanup_file(out->temp.c_str());
    return std::rename(out->temp.c_str(), out->path.c_str()) == 0;
}

} // namespace

bool open_page_output(const struct stat &in_st, const std::string &inpath,
                      const std::string &outpath, PageOutput *out)
{
    struct stat out_st;
    out->path = outpath;
    out->replaces = lstat(outpath.c_str(), &out_st) == 0;
    bool page = out->replaces && S_ISREG(out_st.st_mode);
    if (page && in_st.st_dev == out_st.st_dev && in_st.st_ino == out_st.st_ino) {
        report_driver_failure("%s: Input and output are the same file (%s)!\n", Prog.c_str(),
                              inpath.c_str());
        return false;
    }
    // A link is replaced like a missing page; anything else but a page is left alone.
    bool usable = page || !out->replaces || S_ISLNK(out_st.st_mode);
    if (!usable || !create_page_output(out, page ? (out_st.st_mode & 07777) : new_page_mode,
                                       page ? &out_st : nullptr)) {
        report_driver_failure("%s: Can't open output file (%s)!\n", Prog.c_str(), outpath.c_str());
        return false;
    }
    return true;
}

void abandon_page_output(PageOutput *out)
{
    std::fclose(out->fp);
    discard_temp(out);
}

void finish_page_output(PageOutput *out)
{
    bool unnamed = out->temp.empty();
    bool ok = std::fflush(out->fp) == 0 && std::ferror(out->fp) == 0;
    // An unnamed file is named through a descriptor, so one is kept past fclose.
    int keep = ok && unnamed ? dup(fileno(out->fp)) : -1;
    ok = std::fclose(out->fp) == 0 && ok && (keep >= 0 || !unnamed);
    if (ok)
        ok = unnamed ? name_page_file(out, keep)
                     : std::rename(out->temp.c_str(), out->path.c_str()) == 0;
    if (keep >= 0)
        close(keep);
    if (ok) {
        set_cleanup_file(nullptr);
        out->temp.clear(); // renamed: the name is the page's now
        return;
    }
    report_driver_failure("%s: Can't write output file (%s)!\n", Prog.c_str(), out->path.c_str());
    discard_temp(out);
}
