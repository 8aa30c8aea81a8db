// Runs a test scenario in a forked child, so every scenario starts from the fresh
// process-wide state of a new program, and captures what it wrote: to the stream handed to
// it, to standard output and to standard error, each byte for byte, and its exit status.
#ifndef CHILD_RUN_H
#define CHILD_RUN_H

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "temp_dir.h"

struct ChildRun {
    std::string out;     // what the scenario wrote to its stream
    std::string std_out; // standard output
    std::string std_err; // standard error
    int status;          // exit status, or 128 + signal number
};

// Returns the whole content of fp, read from its beginning.
inline std::string read_stream(FILE *fp)
{
    std::string text;
    std::rewind(fp);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0)
        text.append(buf, n);
    return text;
}

// Returns a new temporary stream holding text, positioned at its beginning.
inline FILE *stream_with(const std::string &text)
{
    FILE *fp = std::tmpfile();
    if (!fp)
        std::abort();
    std::fwrite(text.data(), 1, text.size(), fp);
    std::rewind(fp);
    return fp;
}

// Writes text to a new temporary file and returns its path; the caller removes it.
inline std::string file_with(const std::string &text)
{
    std::string path = temp_root() + "/tovrel-test-XXXXXX";
    int fd = mkstemp(path.data());
    if (fd < 0)
        std::abort();
    FILE *fp = fdopen(fd, "w");
    std::fwrite(text.data(), 1, text.size(), fp);
    std::fclose(fp);
    return path;
}

// Runs scenario(out) in a child process with standard output and standard error sent to
// files; the child ends through exit(0), so leak checks run in it.
inline ChildRun run_child(const std::function<void(FILE *out)> &scenario)
{
    FILE *files[3] = {std::tmpfile(), std::tmpfile(), std::tmpfile()};
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fileno(files[1]), 1);
        dup2(fileno(files[2]), 2);
        scenario(files[0]);
        std::fflush(files[0]);
        std::exit(0);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    ChildRun run;
    run.out = read_stream(files[0]);
    run.std_out = read_stream(files[1]);
    run.std_err = read_stream(files[2]);
    run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    for (FILE *fp : files)
        std::fclose(fp);
    return run;
}

#endif
