// Test helpers around zvt-sim: run the simulator as a separate process and
// keep scratch files.
//
// On Linux the simulator is a child process serving a pty
// (sim_process_linux.cpp). The Windows tests run under wine, and zvt-sim is
// a Linux program: they ask a broker outside wine to start it, and reach it
// through a COM port that wine maps to its pty (sim_process_win.cpp and
// tests/wine/).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace skarvel::test {

// zvt-sim as a separate process. The constructor starts it with the given
// arguments and waits until it serves its line; it throws
// std::runtime_error (with the reason) when the simulator does not start.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args = {}, int startTimeoutMs = 5000);
    ~SimProcess();  // kills and reaps a simulator still running
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The name to open the simulated device by: the pty's path on Linux, a
    // COM port name under wine.
    const std::string& PtyPath() const { return ptyPath_; }
    bool Running() const;

    // Sends a POSIX signal number (SIGINT, SIGTERM) without waiting.
    void Signal(int sig);
    // Stops it dead (SIGSTOP): it keeps its end of the line open but reads
    // and answers nothing until Thaw (SIGCONT).
    void Freeze();
    void Thaw();
    // Ends it at once (SIGKILL) and waits until it has ended.
    void Kill();
    // SIGTERM, then waits (SIGKILL after timeoutMs). Returns the exit code,
    // or minus the signal that ended it. The counts it printed are in Output().
    int Stop(int timeoutMs = 5000);
    // What the simulator wrote to stdout after its PTY line (complete once
    // it has ended).
    const std::string& Output() const { return output_; }

private:
    struct TChild;  // the platform's handle on the process
    std::unique_ptr<TChild> child_;
    std::string ptyPath_;
    std::string output_;
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
