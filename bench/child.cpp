#include "bench/child.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace skarvel::bench {

namespace {

using Clock = std::chrono::steady_clock;

std::runtime_error SysError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

// Starts program with stdout (and stderr when withStderr) on a pipe.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args, bool withStderr, int& readEnd) {
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw SysError("pipe");
    const pid_t pid = fork();
    if (pid < 0) throw SysError("fork");
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        if (withStderr) dup2(fds[1], STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    readEnd = fds[0];
    return pid;
}

int Decode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return -WTERMSIG(status);
    return -1;
}

// Reads what comes within waitMs; false at end of file.
bool ReadSome(int fd, std::string& into, int waitMs) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0) return true;
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) into.append(buf, static_cast<size_t>(n));
    return n > 0 || (n < 0 && errno == EINTR);
}

}  // namespace

TChildRun RunChild(const std::string& program, const std::vector<std::string>& args) {
    TChildRun run;
    int out = -1;
    const auto start = Clock::now();
    const pid_t pid = Spawn(program, args, true, out);
    while (ReadSome(out, run.Output, 1000)) {
    }
    close(out);
    int status = 0;
    rusage ru{};
    while (wait4(pid, &status, 0, &ru) < 0 && errno == EINTR) {
    }
    run.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.ExitCode = Decode(status);
    run.PeakRssKiB = ru.ru_maxrss;
    return run;
}

}  // namespace skarvel::bench
