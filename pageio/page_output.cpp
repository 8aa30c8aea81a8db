#include "pageio/page_output.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pageio/cleanup.h"
#include "support/util.h"

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

// The page being built is held in memory, so that a page whose bytes are those already in
// place need not be written at all; a page past max_held_output goes on into its new file.
// One stream, made once, serves every page: a build has one page open at a time.
constexpr size_t max_held_output = 4 << 20;
struct HeldOutput {
    std::string bytes; // what the page holds so far, unless spilled
    int fd = -1;       // the page's new file
    bool spilled = false;
};
HeldOutput held;
char output_buffer[1 << 16];

ssize_t write_held(void *, const char *buf, size_t size)
{
    if (!held.spilled && held.bytes.size() + size <= max_held_output) {
        held.bytes.append(buf, size);
        return static_cast<ssize_t>(size);
    }
    if (!held.spilled) {
        held.spilled = true;
        if (!write_all(held.fd, held.bytes.data(), held.bytes.size()))
            return -1;
        held.bytes.clear();
    }
    return write_all(held.fd, buf, size) ? static_cast<ssize_t>(size) : -1;
}

// The stream every page is written to, or null when it cannot be made.
FILE *held_stream()
{
    static FILE *const stream = [] {
        FILE *fp = fopencookie(nullptr, "w", {nullptr, write_held, nullptr, nullptr});
        if (fp != nullptr)
            std::setvbuf(fp, output_buffer, _IOFBF, sizeof output_buffer);
        return fp;
    }();
    return stream;
}

// Starts holding a new page, whose file is fd.
void begin_held(int fd)
{
    held.bytes.clear();
    held.fd = fd;
    held.spilled = false;
    clearerr(held_stream());
}

// Forgets the page held; a rare large page does not keep its memory.
void end_held()
{
    held.fd = -1;
    if (held.bytes.capacity() > (1u << 20))
        std::string().swap(held.bytes);
}

// An unnamed file is given its name through /proc/self/fd, which needs no privilege; without
// /proc the hidden named file is used.
bool can_name_unnamed_files()
{
    static const bool proc = access("/proc/self/fd", X_OK) == 0;
    return proc;
}

// The length of the directory part of path, with its '/'; 0 when there is none.
size_t dir_length(const std::string &path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// The directory part of path, with its '/', or "./" when there is none.
std::string dir_of(const std::string &path)
{
    size_t len = dir_length(path);
    return len == 0 ? "./" : path.substr(0, len);
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

// Gives a new file a hidden name beside out->path: make (an exclusive open, or a link) is
// tried with fresh names until one is free. Each name is registered for removal before make
// runs, so a signal during or just after it leaves nothing behind, and unregistered again
// when it is taken. Returns make's result for the name that worked, kept in out->temp (and
// still registered), or -1 with out->temp empty.
template <typename Make> int make_hidden_file(PageOutput *out, Make make)
{
    for (int tries = 0; tries < 1000; tries++) {
        next_hidden_name(&out->temp, out->path);
        set_cleanup_file(out->temp.c_str());
        int result = make(out->temp.c_str());
        if (result >= 0)
            return result;
        set_cleanup_file(nullptr);
        if (errno != EEXIST)
            break;
    }
    out->temp.clear();
    return -1;
}

// Creates the file the page is written to, with no more permission than mode allows: a file
// without a name in the page's directory, else a new hidden file beside the page (then named in
// out->temp and registered for removal). Returns its descriptor, or -1.
int create_page_file(PageOutput *out, mode_t mode)
{
    if (can_name_unnamed_files()) {
        static std::string dir; // its memory serves every page
        dir.assign(out->path, 0, dir_length(out->path));
        int fd =
            open(dir.empty() ? "." : dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode & 0777);
        if (fd >= 0)
            return fd;
    }
    return make_hidden_file(out, [mode](const char *name) {
        return open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777);
    });
}

// The group a file created in the directory of path gets: the directory's own where it has the
// set-group-ID bit, else the process's. The directory is looked at once for all the pages written
// in it.
gid_t new_file_group(const std::string &path)
{
    static std::string known_dir; // with its '/'
    static gid_t known_group;
    size_t len = dir_length(path);
    if (known_dir.empty() || path.compare(0, len, known_dir) != 0 || known_dir.size() != len) {
        known_dir.assign(path, 0, len);
        struct stat st;
        const char *dir = len == 0 ? "." : known_dir.c_str();
        known_group = stat(dir, &st) == 0 && (st.st_mode & S_ISGID) ? st.st_gid : getegid();
    }
    return known_group;
}

// Gives the new file fd of the page at path the group of the page it replaces, and its owner
// when the program runs as root, where the system allows and they differ; a refusal leaves
// the file as created.
void keep_owner(int fd, const std::string &path, const struct stat &old)
{
    static const uid_t euid = geteuid();
    bool same_group = old.st_gid == new_file_group(path);
    if (euid == 0 && (old.st_uid != euid || !same_group))
        (void)fchown(fd, old.st_uid, old.st_gid);
    else if (euid != 0 && !same_group)
        (void)fchown(fd, static_cast<uid_t>(-1), old.st_gid);
}

// Makes out->fd a new file for out->path with the given permission bits, and the owner of
// old when it replaces a page, and out->fp the stream that holds the page. Returns false
// (nothing left behind) when it cannot.
bool create_page_output(PageOutput *out, mode_t mode, const struct stat *old)
{
    out->fp = held_stream();
    out->fd = out->fp != nullptr ? create_page_file(out, mode) : -1;
    if (out->fd < 0)
        return false;
    if (old != nullptr)
        keep_owner(out->fd, out->path, *old);
    // The umask may have taken bits that mode asks for, and a change of owner the set-id
    // bits; only then is a chmod needed.
    if ((mode & (creation_mask | 07000)) != 0 && fchmod(out->fd, mode) != 0) {
        close(out->fd);
        out->fd = -1;
        discard_temp(out);
        return false;
    }
    begin_held(out->fd);
    return true;
}

// Links the unnamed file fd at name: by the descriptor itself where the system lets this
// process (one try tells), else through its /proc entry.
int link_unnamed(int fd, const char *name)
{
    static bool by_descriptor = true;
    if (by_descriptor) {
        if (linkat(fd, "", AT_FDCWD, name, AT_EMPTY_PATH) == 0)
            return 0;
        if (errno != EPERM && errno != ENOENT && errno != EINVAL)
            return -1;
        by_descriptor = false;
    }
    std::string proc = "/proc/self/fd/" + std::to_string(fd);
    return linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name, AT_SYMLINK_FOLLOW);
}

// Gives the unnamed file fd the page's name: a new page is linked into place; one that
// replaces another is linked to a hidden name and renamed over it, so the page's path never
// shows a partial file. Returns false when it cannot.
bool name_page_file(PageOutput *out, int fd)
{
    if (!out->replaces) {
        if (link_unnamed(fd, out->path.c_str()) == 0)
            return true;
        if (errno != EEXIST)
            return false;
    }
    if (make_hidden_file(out, [fd](const char *name) { return link_unnamed(fd, name); }) < 0)
        return false;
    return std::rename(out->temp.c_str(), out->path.c_str()) == 0;
}

// True when bytes are byte for byte the page in place, which was then given the time of now
// as its modification time: the page is up to date without a write. Only a regular file with
// one link (the very file lstat saw) qualifies.
bool touch_if_unchanged(const PageOutput &out, const std::string &bytes)
{
    const struct stat &old = out.old;
    if (!out.replaces || !S_ISREG(old.st_mode) || old.st_nlink != 1 ||
        static_cast<size_t>(old.st_size) != bytes.size())
        return false;
    int fd = open(out.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    static std::string existing; // kept for the next page
    struct stat now;
    bool same = fstat(fd, &now) == 0 && now.st_dev == old.st_dev && now.st_ino == old.st_ino &&
                now.st_nlink == 1 && now.st_size == old.st_size &&
                read_all(fd, bytes.size(), &existing) && existing == bytes;
    static const struct timespec modified_now[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
    same = same && futimens(fd, modified_now) == 0;
    close(fd);
    if (existing.capacity() > (1u << 20))
        std::string().swap(existing);
    return same;
}

// Closes the page's new file and forgets it, with its hidden name if it has one.
void drop_page_file(PageOutput *out)
{
    if (out->fd >= 0)
        close(out->fd);
    out->fd = -1;
    discard_temp(out);
}

// Puts the page held (or spilled into out->fd) in place, or keeps the unchanged old one when
// may_keep. Returns false on any failure; the page's new file is then dropped by the caller.
bool put_page_in_place(PageOutput *out, bool may_keep)
{
    if (!held.spilled && may_keep && touch_if_unchanged(*out, held.bytes))
        return true;
    if (!held.spilled && !write_all(out->fd, held.bytes.data(), held.bytes.size()))
        return false;
    bool named = out->temp.empty() ? name_page_file(out, out->fd)
                                   : std::rename(out->temp.c_str(), out->path.c_str()) == 0;
    if (named) {
        set_cleanup_file(nullptr);
        out->temp.clear(); // renamed: the name is the page's now
    }
    return named;
}

} // namespace

PageOpen open_page_output(const struct stat &in_st, const std::string &outpath, PageOutput *out)
{
    out->path = outpath;
    out->error = 0;
    errno = 0;
    out->replaces = lstat(outpath.c_str(), &out->old) == 0;
    bool page = out->replaces && S_ISREG(out->old.st_mode);
    if (page && in_st.st_dev == out->old.st_dev && in_st.st_ino == out->old.st_ino)
        return PAGE_OPEN_IS_INPUT;
    // A link is replaced like a missing page; anything else but a page is left alone.
    if (out->replaces && !page && !S_ISLNK(out->old.st_mode)) {
        out->error = EEXIST;
        return PAGE_OPEN_FAILED;
    }
    if (!create_page_output(out, page ? (out->old.st_mode & 07777) : new_page_mode,
                            page ? &out->old : nullptr)) {
        out->error = errno != 0 ? errno : EIO;
        return PAGE_OPEN_FAILED;
    }
    return PAGE_OPENED;
}

void abandon_page_output(PageOutput *out)
{
    __fpurge(out->fp);
    drop_page_file(out);
    end_held();
}

bool finish_page_output(PageOutput *out, bool may_keep)
{
    errno = 0;
    bool done =
        std::fflush(out->fp) == 0 && std::ferror(out->fp) == 0 && put_page_in_place(out, may_keep);
    out->error = done ? 0 : errno != 0 ? errno : EIO;
    drop_page_file(out);
    end_held();
    return done;
}
