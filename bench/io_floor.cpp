// The file work a build of every page cannot avoid, and nothing else: for each file of INDIR,
// open and read it whole, look at the page it replaces, write a file without a name of the
// size of the built page (the input size times PERCENT/100) and link it into OUTDIR as the
// page (a page that stands there already: under a temporary name, renamed over it), as a
// build does. No macro is expanded. bench/run times it next to tovrel -a and cp -r, so the part
// of a build that is file work and the part that is expansion show apart.
//
// usage: io_floor INDIR OUTDIR PERCENT
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reads all of path into *data; false on failure.
bool read_page(const std::string &path, std::string *data)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    data->resize(ok ? static_cast<size_t>(st.st_size) + 1 : 0);
    ssize_t n = ok ? read(fd, data->data(), data->size()) : -1;
    close(fd);
    if (n < 0)
        return false;
    data->resize(static_cast<size_t>(n));
    return true;
}

// Links the unnamed file fd at name, by the descriptor or else through /proc.
int link_unnamed(int fd, const std::string &name)
{
    if (linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0)
        return 0;
    std::string proc = "/proc/self/fd/" + std::to_string(fd);
    return linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
}

// Writes size bytes of text (repeated) to a file without a name and puts it at path.
bool replace_page(const std::string &dir, const std::string &name, const std::string &text,
                  size_t size)
{
    std::string path = dir + "/" + name;
    struct stat st;
    bool replaces = lstat(path.c_str(), &st) == 0; // its kind and bits are checked
    int fd = open(dir.c_str(), O_WRONLY | O_TMPFILE | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    std::string out;
    while (out.size() < size)
        out += text.empty() ? std::string(size, 'x') : text;
    out.resize(size);
    bool ok = write(fd, out.data(), out.size()) == static_cast<ssize_t>(out.size());
    std::string temp = dir + "/.floor-tmp";
    if (ok && replaces)
        ok = link_unnamed(fd, temp) == 0 && rename(temp.c_str(), path.c_str()) == 0;
    else if (ok)
        ok = link_unnamed(fd, path) == 0;
    return close(fd) == 0 && ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: io_floor INDIR OUTDIR PERCENT\n");
        return 2;
    }
    std::string indir = argv[1], outdir = argv[2];
    long percent = std::strtol(argv[3], nullptr, 10);
    DIR *dir = opendir(indir.c_str());
    if (!dir) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<std::string> names;
    while (const dirent *entry = readdir(dir))
        if (entry->d_name[0] != '.')
            names.emplace_back(entry->d_name);
    closedir(dir);
    std::string data;
    for (const std::string &name : names) {
        if (!read_page(indir + "/" + name, &data) ||
            !replace_page(outdir, name, data, data.size() * static_cast<size_t>(percent) / 100)) {
            std::perror(name.c_str());
            return 1;
        }
    }
    return 0;
}
