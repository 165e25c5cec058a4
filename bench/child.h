// Child processes for the benchmark: zvt-sim on its pty, and the zvt client
// run to its end with its peak memory.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace skarvel::bench {

// zvt-sim started with the given options; the constructor waits for its
// "PTY <path>" line and throws std::runtime_error when it does not come.
class TSimChild {
public:
    explicit TSimChild(const std::vector<std::string>& options);
    ~TSimChild();  // SIGTERM, then waits
    TSimChild(const TSimChild&) = delete;
    TSimChild& operator=(const TSimChild&) = delete;

    const std::string& Pty() const { return pty_; }
    // Stops the simulator and returns the counts it printed.
    std::string Stop();

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pty_;
    std::string rest_;
};

struct TChildRun {
    int ExitCode = -1;       // minus the signal when one ended it
    long PeakRssKiB = 0;     // ru_maxrss of the child
    double Seconds = 0;
    std::string Output;      // stdout and stderr
};

// Runs program with args to its end.
TChildRun RunChild(const std::string& program, const std::vector<std::string>& args);

// The PC's end of a pty opened raw, for the bare round trip.
class TRawPty {
public:
    explicit TRawPty(const std::string& path);
    ~TRawPty();
    TRawPty(const TRawPty&) = delete;
    TRawPty& operator=(const TRawPty&) = delete;
    void Write(const std::string& bytes);
    // Reads exactly n bytes; false after timeoutMs.
    bool Read(size_t n, int timeoutMs, std::string& out);

private:
    int fd_ = -1;
};

}  // namespace skarvel::bench
