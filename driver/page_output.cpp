#include "driver/page_output.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "driver/tovrel.h"

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

// Looks at what stands at outpath now. Returns false when nothing does; otherwise fills *st.
// A link is followed: *target becomes the file it points to, which is the one replaced, so
// the link stays. Otherwise *target is outpath itself.
bool stat_output(const std::string &outpath, struct stat *st, std::string *target)
{
    *target = outpath;
    if (lstat(outpath.c_str(), st) != 0)
        return false;
    if (!S_ISLNK(st->st_mode))
        return true;
    std::unique_ptr<char, decltype(&std::free)> real(realpath(outpath.c_str(), nullptr),
                                                     &std::free);
    if (real)
        *target = real.get();
    return stat(outpath.c_str(), st) == 0;
}

// Fills the six X of a temporary name from a number unique to this process and attempt.
void fill_temp_name(std::string *temp, unsigned long seed)
{
    static const char digits[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (size_t i = temp->size() - 6; i < temp->size(); i++) {
        (*temp)[i] = digits[seed % 62];
        seed /= 62;
    }
}

// Creates a new file beside path with a name ".tovrel-" and six letters, never one that
// exists, with no more permission than mode allows. Returns its descriptor, or -1.
int create_temp_file(std::string *temp, const std::string &path, mode_t mode)
{
    static unsigned long attempt = 0;
    static const unsigned long pid = static_cast<unsigned long>(getpid());
    *temp = path.substr(0, path.rfind('/') + 1) + ".tovrel-XXXXXX";
    for (int tries = 0; tries < 1000; tries++) {
        fill_temp_name(temp, pid * 7919 + attempt++ * 104729);
        int fd = open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Creates the temporary file for out->path with the given permission bits. Returns false
// (nothing left behind) when it cannot be created.
bool create_temp_output(PageOutput *out, mode_t mode)
{
    int fd = create_temp_file(&out->temp, out->path, mode);
    if (fd < 0)
        return false;
    // The umask may have taken bits that mode asks for; only then is a chmod needed.
    bool mode_ok = (mode & (creation_mask | 07000)) == 0 || fchmod(fd, mode) == 0;
    if (!mode_ok || (out->fp = fdopen(fd, "w")) == nullptr) {
        close(fd);
        unlink(out->temp.c_str());
        return false;
    }
    std::setvbuf(out->fp, output_buffer, _IOFBF, sizeof output_buffer);
    return true;
}

} // namespace

bool open_page_output(const struct stat &in_st, const std::string &inpath,
                      const std::string &outpath, PageOutput *out)
{
    struct stat out_st;
    bool exists = stat_output(outpath, &out_st, &out->path);
    if (exists && in_st.st_dev == out_st.st_dev && in_st.st_ino == out_st.st_ino) {
        std::fprintf(stderr, "%s: Input and output are the same file (%s)!\n", Prog.c_str(),
                     inpath.c_str());
        return false;
    }
    if ((exists && !S_ISREG(out_st.st_mode)) ||
        !create_temp_output(out, exists ? (out_st.st_mode & 07777) : new_page_mode)) {
        std::fprintf(stderr, "%s: Can't open output file (%s)!\n", Prog.c_str(), outpath.c_str());
        return false;
    }
    return true;
}

void abandon_page_output(PageOutput *out)
{
    std::fclose(out->fp);
    unlink(out->temp.c_str());
}

void finish_page_output(PageOutput *out, const std::string &outpath)
{
    bool ok = std::ferror(out->fp) == 0;
    ok = std::fclose(out->fp) == 0 && ok;
    if (ok && std::rename(out->temp.c_str(), out->path.c_str()) == 0)
        return;
    std::fprintf(stderr, "%s: Can't write output file (%s)!\n", Prog.c_str(), outpath.c_str());
    unlink(out->temp.c_str());
}
