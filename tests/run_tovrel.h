// Black-box test helpers: a fresh temporary site directory, files in it, and runs of the real
// tovrel binary (TOVREL_BIN) there with standard input from a file and standard output and
// error captured to files.
#ifndef RUN_TOVREL_H
#define RUN_TOVREL_H

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "temp_dir.h"
#include "text_lines.h"

// A temporary directory: root holds the captured streams, site is where tovrel runs.
struct Sandbox {
    std::string root;
    std::string site;
    Sandbox() : root(make_temp_dir("tovrel-test-")), site(root + "/site")
    {
        std::filesystem::create_directory(site);
    }
    ~Sandbox()
    {
        std::filesystem::remove_all(root);
    }
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;
};

// What one run left: exit status (or 128 + signal), standard output and standard error.
struct RunResult {
    int status;
    std::string out;
    std::string err;
};

// How to run: the arguments after argv[0], the standard input text, and the optional extras.
struct RunSpec {
    std::vector<std::string> args;
    std::string input;
    std::string argv0 = TOVREL_BIN; // what the program sees as its path
    std::string program = TOVREL_BIN;
    mode_t umask_bits = 022;
    long fsize_limit = -1;        // bytes any file may grow to; -1 for no limit
    long memory_limit = -1;       // bytes of address space; -1 for no limit
    long files_limit = -1;        // open descriptors; -1 for no limit
    bool obey_file_modes = false; // drop the powers that let root ignore permission bits
    std::string stdout_path;      // where standard output goes, if not to a captured file
    bool close_output = false;    // start with standard output and error closed
    unsigned time_limit = 120;    // seconds before SIGALRM ends a run that hangs
    std::vector<std::string> env; // NAME=value, added to the program's environment
};

inline std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Writes text to path (relative paths are taken below the sandbox site by callers),
// creating the directories on the way.
inline void write_file(const std::string &path, const std::string &text)
{
    std::filesystem::path p(path);
    if (p.has_parent_path())
        std::filesystem::create_directories(p.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline bool file_exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

inline void set_mtime(const std::string &path, time_t seconds, long nanoseconds = 0)
{
    struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        std::abort();
}

inline mode_t file_mode(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// The names in dir, sorted, hidden ones included.
inline std::vector<std::string> dir_names(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The lines of err without the engine's traces of a verbose run (process_include, do_if).
inline std::string without_traces(const std::string &err)
{
    return lines_starting(err, {"process_include(", "do_if"}, false);
}

// Drops, for this process and whatever it runs, the capabilities that let root read and write
// files whatever their permission bits, so chmod denies access as it would to anyone else.
// A process without those powers is unaffected.
inline void drop_file_override()
{
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
    __user_cap_header_struct head = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &head, data) != 0)
        return;
    const unsigned drop = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    data[0].effective &= ~drop;
    data[0].permitted &= ~drop;
    data[0].inheritable &= ~drop;
    syscall(SYS_capset, &head, data);
}

// True when, after drop_file_override, a file of mode 000 cannot be read: only then can a
// test deny tovrel access through permission bits.
inline bool file_modes_obeyed(const std::string &dir)
{
    std::string probe = dir + "/mode-probe";
    int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0);
    if (fd < 0)
        return false;
    close(fd);
    pid_t pid = fork();
    if (pid == 0) {
        drop_file_override();
        _exit(open(probe.c_str(), O_RDONLY) < 0 ? 0 : 1);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    unlink(probe.c_str());
    return WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0;
}

// Child side of run_tovrel: never returns.
[[noreturn]] inline void exec_tovrel(const Sandbox &box, const RunSpec &job)
{
    std::string out_path = job.stdout_path.empty() ? box.root + "/stdout" : job.stdout_path;
    int in = open((box.root + "/stdin").c_str(), O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open((box.root + "/stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(box.site.c_str()) != 0)
        _exit(126);
    if (job.close_output) {
        close(1);
        close(2);
    }
    umask(job.umask_bits);
    for (auto [resource, limit] :
         {std::pair{RLIMIT_FSIZE, job.fsize_limit}, std::pair{RLIMIT_AS, job.memory_limit},
          std::pair{RLIMIT_NOFILE, job.files_limit}}) {
        struct rlimit lim = {static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        if (limit >= 0)
            setrlimit(resource, &lim);
    }
    // Default actions, as a shell gives them: the program sets what it needs itself.
    for (int sig : {SIGXFSZ, SIGINT, SIGTERM, SIGHUP})
        signal(sig, SIG_DFL);
    alarm(job.time_limit);
    for (const std::string &setting : job.env)
        putenv(const_cast<char *>(setting.c_str())); // lives until the exec
    if (job.obey_file_modes)
        drop_file_override();
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(job.argv0.c_str()));
    for (const std::string &arg : job.args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    execv(job.program.c_str(), argv.data());
    _exit(127);
}

// Starts tovrel in box.site as job says; wait_tovrel collects it.
inline pid_t start_tovrel(const Sandbox &box, const RunSpec &job)
{
    write_file(box.root + "/stdin", job.input);
    pid_t pid = fork();
    if (pid < 0)
        std::abort();
    if (pid == 0)
        exec_tovrel(box, job);
    return pid;
}

// Waits for the run pid of start_tovrel and returns what it left.
inline RunResult wait_tovrel(const Sandbox &box, pid_t pid)
{
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    RunResult result;
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    result.out = read_file(box.root + "/stdout");
    result.err = read_file(box.root + "/stderr");
    return result;
}

// Runs tovrel in box.site as job says and returns what it left.
inline RunResult run_tovrel(const Sandbox &box, const RunSpec &job)
{
    return wait_tovrel(box, start_tovrel(box, job));
}

// Runs tovrel with these arguments and standard input.
inline RunResult run_tovrel(const Sandbox &box, std::vector<std::string> args,
                            const std::string &input = "")
{
    RunSpec job;
    job.args = std::move(args);
    job.input = input;
    return run_tovrel(box, job);
}

// A library whose frame and sub-menu macros show their arguments plainly.
inline const char *test_library()
{
    return "Test library\n"
           ">PageStart\n"
           "<start $[nargs]:$[1]:$[2]>\n"
           ">\n"
           ">PageHdr\n"
           "<hdr $[1]>\n"
           ">\n"
           ">PageEnd\n"
           "<end>\n"
           ">\n"
           ">SubMenuStart\n"
           "<menu>\n"
           ">\n"
           ">SubMenuItem\n"
           "<item $[1] $[2]>\n"
           ">\n"
           ">SubMenuEnd\n"
           "</menu>\n"
           ">\n"
           ">SubLink\n"
           "<link $[1] $[2]>\n"
           ">\n";
}

// The output test_library() gives for a page whose title is title (no '|') and whose header
// lines, body and sub-menu items are as given.
inline std::string framed_page(const std::string &title, const std::string &header,
                               const std::string &body, const std::string &items = "")
{
    return "<start 2:" + title + ":>\n" + header + "<hdr " + title + ">\n" + body + "<menu>\n" +
           items + "</menu>\n<end>\n";
}

// A sandbox site with the test library and the directories in and out.
inline void make_site(const Sandbox &box)
{
    write_file(box.site + "/include/include.txt", test_library());
    std::filesystem::create_directories(box.site + "/in");
    std::filesystem::create_directories(box.site + "/out");
}

#endif
