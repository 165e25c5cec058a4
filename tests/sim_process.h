// Test helpers around zvt-sim: run the simulator as a child process, talk
// to its pty without the serial port class, and keep scratch files.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

namespace skarvel::test {

// zvt-sim as a child process. The constructor starts it with the given
// arguments and waits for its "PTY <path>" line; it throws
// std::runtime_error (with the reason) when the simulator does not start.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args = {}, int startTimeoutMs = 5000);
    ~SimProcess();  // kills and reaps a simulator still running
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    static std::string BinaryPath();

    const std::string& PtyPath() const { return ptyPath_; }
    pid_t Pid() const { return pid_; }
    bool Running() const { return pid_ > 0; }

    // Sends sig without waiting (e.g. SIGSTOP / SIGCONT).
    void Signal(int sig);
    // Sends sig and waits until the simulator has ended.
    void Kill(int sig = SIGKILL);
    // SIGTERM, then waits (SIGKILL after timeoutMs). Returns the exit code,
    // or minus the signal that ended it. The counts it printed are in Output().
    int Stop(int timeoutMs = 5000);
    // What the simulator wrote to stdout after its PTY line (complete once
    // it has ended).
    const std::string& Output() const { return output_; }

private:
    int WaitExit(int timeoutMs);  // reaps; returns like Stop
    void Drain(int waitMs);

    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = 0;
    std::string ptyPath_;
    std::string output_;
};

// Runs zvt-sim to its end (for option errors and --help): exit code (or
// minus the signal) and everything it wrote to stdout and stderr. A
// simulator still running after timeoutMs is killed.
struct SimRun {
    int ExitCode = 0;
    std::string Output;
};
SimRun RunSimToExit(const std::vector<std::string>& args, int timeoutMs = 5000);

// The PC's end of a pty, opened raw, without the serial port class.
// The constructor throws std::runtime_error when the path cannot be opened.
class RawPty {
public:
    explicit RawPty(const std::string& path);
    ~RawPty();
    RawPty(const RawPty&) = delete;
    RawPty& operator=(const RawPty&) = delete;

    void Write(const std::string& bytes);
    // Reads until n bytes have come or timeoutMs has passed.
    std::string Read(size_t n, int timeoutMs);
    // Everything that arrives within ms (to check that nothing comes).
    std::string ReadFor(int ms);
    void Close();
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

// A scratch directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Whole-file helpers for images.
std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& data);

}  // namespace skarvel::test
