// zvt-sim as a child process on Linux, and the raw PC end of a pty.
#include "tests/sim_process_linux.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace skarvel::test {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::runtime_error Failure(const std::string& what) {
    return std::runtime_error(what + (errno ? std::string(": ") + std::strerror(errno) : ""));
}

int Decode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return -WTERMSIG(status);
    return -1;
}

// Starts zvt-sim with stdout on a pipe, and stderr on stderrFd (or on the
// same pipe when stderrFd < 0).
pid_t Spawn(const std::vector<std::string>& args, int stderrFd, int& readEnd) {
    const std::string bin = ZVT_SIM_PATH;
    std::vector<std::string> all{bin};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    int fds[2];
    errno = 0;
    if (pipe2(fds, O_CLOEXEC) != 0) throw Failure("pipe for zvt-sim");
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        throw Failure("fork for zvt-sim");
    }
    if (pid == 0) {
        // Child: only async-signal-safe calls until exec.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        dup2(fds[1], STDOUT_FILENO);
        dup2(stderrFd < 0 ? fds[1] : stderrFd, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    readEnd = fds[0];
    fcntl(readEnd, F_SETFL, fcntl(readEnd, F_GETFL) | O_NONBLOCK);
    return pid;
}

// Reads what the pipe holds now, waiting up to waitMs for the first bytes.
// Returns false at end of file.
bool ReadPipe(int fd, std::string& into, int waitMs) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, waitMs) <= 0) return true;
    char buf[4096];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            into.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n == 0) return false;
        return errno == EAGAIN || errno == EINTR;
    }
}

// Everything in a file, from its start (at most 64 KiB).
std::string ReadAllOf(int fd) {
    std::string text;
    char buf[4096];
    for (off_t at = 0; text.size() < 65536;) {
        const ssize_t n = pread(fd, buf, sizeof buf, at);
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
        at += n;
    }
    return text;
}

}  // namespace

// The simulator's stderr goes to a file in memory rather than a pipe, which
// nobody would read while it runs: a simulator that does not start says why
// there (an image in use, a bad option), and the reason goes into the
// exception. Once it has ended, what it wrote is passed on to our stderr.
struct SimProcess::TChild {
    pid_t pid = -1;
    int out = -1;
    int err = -1;
    int status = 0;
    std::string errText;

    TChild() {
        errno = 0;
        err = memfd_create("zvt-sim-stderr", MFD_CLOEXEC);
        if (err < 0) throw Failure("memfd for the stderr of zvt-sim");
    }
    ~TChild() {
        if (out >= 0) close(out);
        if (err >= 0) close(err);
    }
    // Takes what the ended simulator wrote to stderr into errText and
    // passes it on.
    void CollectStderr() {
        if (err < 0) return;
        errText = ReadAllOf(err);
        close(err);
        err = -1;
        if (!errText.empty()) {
            std::fwrite(errText.data(), 1, errText.size(), stderr);
            std::fflush(stderr);
        }
    }
    // Reads what stdout holds into output; closes it at its end.
    void Drain(int waitMs, std::string& output) {
        if (out < 0) return;
        if (!ReadPipe(out, output, waitMs)) {
            close(out);
            out = -1;
        }
    }
    // Waits for the child (timeoutMs < 0: for ever), collecting its stdout.
    // INT32_MIN when it is still running at the time-out.
    int WaitExit(int timeoutMs, std::string& output) {
        if (pid <= 0) return Decode(status);
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
        for (;;) {
            int st = 0;
            const pid_t r = waitpid(pid, &st, WNOHANG);
            if (r == pid || (r < 0 && errno == ECHILD)) {
                status = r == pid ? st : 0;
                pid = -1;
                // The child is gone: read its stdout to the end.
                while (out >= 0) Drain(100, output);
                CollectStderr();
                return Decode(status);
            }
            if (timeoutMs >= 0 && MsLeft(deadline) == 0) return INT32_MIN;
            if (out >= 0)
                Drain(5, output);
            else
                usleep(5000);
        }
    }
    // Sends sig and waits up to timeoutMs for the end (SIGKILL after that).
    // Returns the exit code, or minus the signal that ended it.
    int End(int sig, int timeoutMs, std::string& output) {
        if (pid > 0) {
            kill(pid, sig);
            if (WaitExit(timeoutMs, output) == INT32_MIN) {
                kill(pid, SIGKILL);
                WaitExit(-1, output);
            }
        }
        return Decode(status);
    }
};

SimProcess::SimProcess(const std::vector<std::string>& args, int startTimeoutMs) : child_(std::make_unique<TChild>()) {
    TChild& c = *child_;
    c.pid = Spawn(args, c.err, c.out);
    const auto deadline = Clock::now() + std::chrono::milliseconds(startTimeoutMs);
    std::string got;
    for (bool open = true; open && got.find('\n') == std::string::npos && MsLeft(deadline) > 0;)
        open = ReadPipe(c.out, got, std::min(MsLeft(deadline), 100));
    const std::string line = got.substr(0, got.find('\n'));
    if (line.size() == got.size() || line.rfind("PTY ", 0) != 0 || line.size() <= 4) {
        // Ended, silent or saying something else: a simulator that ended on
        // its own keeps its exit code, one still running is killed (-9).
        const int code = c.End(SIGKILL, 5000, output_);
        throw std::runtime_error("zvt-sim gave no \"PTY <path>\" line within " + std::to_string(startTimeoutMs) +
                                 " ms (exit code " + std::to_string(code) + "); its stdout: '" + got +
                                 "', its stderr: '" + c.errText + "'");
    }
    output_ = got.substr(line.size() + 1);
    ptyPath_ = line.substr(4);
}

SimProcess::~SimProcess() { child_->End(SIGKILL, 5000, output_); }

bool SimProcess::Running() const { return child_->pid > 0; }

void SimProcess::Signal(int sig) {
    if (child_->pid > 0) kill(child_->pid, sig);
}

void SimProcess::Freeze() { Signal(SIGSTOP); }

void SimProcess::Thaw() { Signal(SIGCONT); }

void SimProcess::Kill() { child_->End(SIGKILL, 5000, output_); }

int SimProcess::Stop(int timeoutMs) { return child_->End(SIGTERM, timeoutMs, output_); }

SimRun RunSimToExit(const std::vector<std::string>& args, int timeoutMs) {
    int out = -1;
    const pid_t pid = Spawn(args, -1, out);
    SimRun run;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool open = true;
    while (open && MsLeft(deadline) > 0) open = ReadPipe(out, run.Output, std::min(MsLeft(deadline), 100));
    if (open) kill(pid, SIGKILL);
    close(out);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.ExitCode = Decode(status);
    return run;
}

// ---------------------------------------------------------------- RawPty

RawPty::RawPty(const std::string& path) {
    errno = 0;
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw Failure("cannot open " + path);
    termios t{};
    if (tcgetattr(fd_, &t) != 0) {
        close(fd_);
        throw Failure(path + " is not a terminal");
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    tcsetattr(fd_, TCSANOW, &t);
    // Whatever a previous session left unread is not for us.
    tcflush(fd_, TCIFLUSH);
}

RawPty::~RawPty() { Close(); }

void RawPty::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

void RawPty::Write(const std::string& bytes) {
    size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (done < bytes.size()) {
        const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) throw Failure("write to the pty");
        if (MsLeft(deadline) == 0) throw std::runtime_error("write to the pty does not progress");
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, 50);
    }
}

std::string RawPty::Read(size_t n, int timeoutMs) {
    std::string got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char buf[4096];
    while (got.size() < n) {
        const ssize_t r = read(fd_, buf, std::min(sizeof buf, n - got.size()));
        if (r > 0) {
            got.append(buf, static_cast<size_t>(r));
            continue;
        }
        if (r < 0 && errno != EAGAIN && errno != EINTR) break;
        const int left = MsLeft(deadline);
        if (left == 0) break;
        pollfd p{fd_, POLLIN, 0};
        poll(&p, 1, left);
    }
    return got;
}

std::string RawPty::ReadFor(int ms) { return Read(SIZE_MAX, ms); }

}  // namespace skarvel::test
