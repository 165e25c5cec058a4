// zvt-sim: opens the medium and the line, then hands bytes between the
// line and the device until a stop signal comes.
#include "tools/zvt-sim/simulator.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

#include "tools/zvt-sim/device.h"
#include "tools/zvt-sim/line.h"
#include "tools/zvt-sim/medium.h"

namespace skarvel::sim {

namespace {

volatile sig_atomic_t gStop = 0;

void OnStopSignal(int) { gStop = 1; }

// Blocks SIGINT and SIGTERM except while waiting, so none is missed between
// a look at the flag and the wait; returns the mask to wait with.
sigset_t BlockStopSignals() {
    sigset_t stopSignals, waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return waitMask;
}

uint64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000ull + static_cast<uint64_t>(ts.tv_nsec);
}

// Sleeps up to ms, woken early by SIGINT/SIGTERM (blocked outside waits).
void PauseMs(int ms, const sigset_t& waitMask) {
    timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1'000'000};
    ppoll(nullptr, 0, &ts, &waitMask);
}

// The image named on the command line, or a 2 MiB medium in memory.
bool OpenMedium(const TSimOptions& options, TMedium& medium, std::string& error) {
    if (options.ImagePath.empty()) {
        medium.OpenMemory(ZvtMediumSize);
        return true;
    }
    return medium.Open(options.ImagePath, error);
}

// Opens the pty or the serial device and says on stdout which it is.
bool OpenLine(const TSimOptions& options, TLine& line, std::string& error) {
    if (options.DevicePath.empty()) {
        if (!line.OpenPty(options.LinkPath, error)) return false;
        std::printf("PTY %s\n", line.SlavePath().c_str());
    } else {
        if (!line.OpenDevice(options.DevicePath, options.Baud, error)) return false;
        std::printf("DEVICE %s\n", options.DevicePath.c_str());
    }
    std::fflush(stdout);
    return true;
}

// The loop that serves the line: received bytes go to the device at the
// time they are in, its answers go out when due, and in between it sleeps
// until the next of these is due or the line has something.
class TServer {
public:
    TServer(const TSimOptions& options, TLine& line, TSimDevice& device, const sigset_t& waitMask)
        : options_(options), line_(line), device_(device), waitMask_(waitMask),
          // A serial device paces itself; on a pty the bytes are paced here.
          pacing_(line.IsPty() ? options.Baud : 0) {
        // The kernel may run a timed wait up to 50 us late by default; a paced
        // line wakes twice per frame, and a real line has no such lag.
        if (pacing_.Paced()) prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    }

    // Until SIGINT or SIGTERM.
    void Run() {
        while (!gStop) {
            if (line_.Fd() < 0 && !Reconnect()) continue;
            const uint64_t now = NowNs();
            uint8_t b = 0;
            uint64_t inNs = 0;
            while (pacing_.TakeReceived(now, b, inNs)) device_.Receive(b, inNs / 1000);
            QueueAnswers(now);
            if (!WriteAnswers(now)) continue;
            WaitAndRead(now);
        }
    }

private:
    bool Reconnect();
    void QueueAnswers(uint64_t now);
    bool WriteAnswers(uint64_t now);
    void WaitAndRead(uint64_t now);
    bool Read();

    const TSimOptions& options_;
    TLine& line_;
    TSimDevice& device_;
    const sigset_t waitMask_;
    TPacing pacing_;
    bool txBlocked_ = false;  // the line took no more: wait until it does
};

// The serial device went away: try it again now and then. False: not yet.
bool TServer::Reconnect() {
    std::string error;
    if (!line_.Reopen(error)) {
        PauseMs(500, waitMask_);
        return false;
    }
    std::fprintf(stderr, "zvt-sim: %s is back\n", options_.DevicePath.c_str());
    return true;
}

void TServer::QueueAnswers(uint64_t now) {
    const std::string due = device_.TakeDue(now / 1000);
    if (!due.empty() && !pacing_.Queue(due, now) && options_.Verbose)
        std::fprintf(stderr, "zvt-sim: nobody reads the line, %zu answer bytes dropped\n", due.size());
}

// False when the line failed.
bool TServer::WriteAnswers(uint64_t now) {
    if (txBlocked_) return true;
    const std::string_view out = pacing_.Writable(now);
    if (out.empty()) return true;
    const ssize_t n = write(line_.Fd(), out.data(), out.size());
    if (n > 0) {
        pacing_.Written(static_cast<size_t>(n));
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        txBlocked_ = true;
    } else if (n < 0 && errno != EINTR) {
        // Nobody on the other end: the answer is lost like on an open line.
        pacing_.DropQueued();
        line_.Lost();
        return false;
    }
    return true;
}

// Sleeps until the next thing is due, the line has bytes or takes more,
// or a stop signal comes.
void TServer::WaitAndRead(uint64_t now) {
    uint64_t wake = pacing_.NextNs(now, !txBlocked_);
    const uint64_t nextAnswer = device_.NextDue();
    if (nextAnswer != UINT64_MAX) wake = std::min(wake, nextAnswer * 1000);
    timespec ts{};
    timespec* timeout = nullptr;
    if (wake != UINT64_MAX) {
        const uint64_t d = wake > now ? wake - now : 0;
        ts.tv_sec = static_cast<time_t>(d / 1'000'000'000ull);
        ts.tv_nsec = static_cast<long>(d % 1'000'000'000ull);
        timeout = &ts;
    }
    pollfd pfd{line_.Fd(), static_cast<short>(POLLIN | (txBlocked_ ? POLLOUT : 0)), 0};
    const int r = ppoll(&pfd, 1, timeout, &waitMask_);
    if (r <= 0) return;  // time-out or a signal
    if (pfd.revents & POLLOUT) txBlocked_ = false;
    if ((pfd.revents & POLLIN) && Read()) return;
    if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL | POLLIN)) {
        // The PC side has closed the port: wait until it opens it again.
        if (!line_.IsPty() && (pfd.revents & (POLLERR | POLLNVAL))) line_.Lost();
        PauseMs(20, waitMask_);
    }
}

// Reads what the line has. False: nothing came because the PC side has
// closed the pty.
bool TServer::Read() {
    uint8_t buf[4096];
    const ssize_t n = read(line_.Fd(), buf, sizeof buf);
    if (n > 0) {
        pacing_.Received(buf, static_cast<size_t>(n), NowNs());
        return true;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    if (line_.IsPty()) return false;
    std::fprintf(stderr, "zvt-sim: %s: %s\n", options_.DevicePath.c_str(), n < 0 ? std::strerror(errno) : "closed");
    line_.Lost();
    return true;
}

int Fail(const std::string& error) {
    std::fprintf(stderr, "zvt-sim: %s\n", error.c_str());
    return 2;
}

}  // namespace

int RunSimulator(const TSimOptions& options) {
    TMedium medium;
    std::string error;
    if (!OpenMedium(options, medium, error)) return Fail(error);
    const sigset_t waitMask = BlockStopSignals();
    TLine line;
    if (!OpenLine(options, line, error)) return Fail(error);

    TSimDevice device(options, medium, options.Verbose ? stderr : nullptr);
    if (options.Verbose)
        std::fprintf(stderr, "zvt-sim: medium of %u sectors, device code 0x%02X\n", medium.Sectors(),
                     options.DeviceCode);
    TServer(options, line, device, waitMask).Run();

    std::printf("%s\n", FormatCounts(device.Counts()).c_str());
    std::fflush(stdout);
    return 0;
}

}  // namespace skarvel::sim
