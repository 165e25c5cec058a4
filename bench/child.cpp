#include "bench/child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
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

TSimChild::TSimChild(const std::vector<std::string>& options) {
    pid_ = Spawn(ZVT_SIM_PATH, options, false, out_);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    std::string got;
    while (got.find('\n') == std::string::npos) {
        if (Clock::now() > deadline || !ReadSome(out_, got, 100)) {
            Stop();
            throw std::runtime_error("zvt-sim did not print its pty: '" + got + "'");
        }
    }
    const std::string line = got.substr(0, got.find('\n'));
    rest_ = got.substr(got.find('\n') + 1);
    if (line.rfind("PTY ", 0) != 0) {
        Stop();
        throw std::runtime_error("zvt-sim's first line is not \"PTY <path>\": '" + line + "'");
    }
    pty_ = line.substr(4);
}

TSimChild::~TSimChild() { Stop(); }

std::string TSimChild::Stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            if (out_ >= 0) ReadSome(out_, rest_, 10);
        }
        pid_ = -1;
    }
    if (out_ >= 0) {
        while (ReadSome(out_, rest_, 100)) {
        }
        close(out_);
        out_ = -1;
    }
    return rest_;
}

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

TRawPty::TRawPty(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) throw SysError("open " + path);
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    tcsetattr(fd_, TCSANOW, &t);
    tcflush(fd_, TCIFLUSH);
}

TRawPty::~TRawPty() {
    if (fd_ >= 0) close(fd_);
}

void TRawPty::Write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) done += static_cast<size_t>(n);
        else if (n < 0 && errno != EINTR && errno != EAGAIN) throw SysError("write to the pty");
    }
}

bool TRawPty::Read(size_t n, int timeoutMs, std::string& out) {
    out.clear();
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[1024];
    while (out.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        const ssize_t r = read(fd_, buf, std::min(sizeof buf, n - out.size()));
        if (r > 0) out.append(buf, static_cast<size_t>(r));
        else if (r < 0 && errno != EINTR && errno != EAGAIN) return false;
    }
    return true;
}

}  // namespace skarvel::bench
