// Linux-only test helpers: zvt-sim run to its end, and the raw PC end of a
// pty.
#pragma once

#include <string>
#include <vector>

#include "tests/sim_process.h"

namespace skarvel::test {

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

}  // namespace skarvel::test
