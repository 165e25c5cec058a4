// How close a transfer comes to the line: the exchanges an operation needs,
// the time they need on the line at the simulator's pace, and the time the
// operation took. Shared by the client's and the window's figures.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace skarvel {
class TZVT_drv;
}

namespace skarvel::bench {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b);
double Percentile(std::vector<double> v, double p);

// Bytes on the line per exchange, both ways.
constexpr double WriteExchangeBytes = 538 + 8;
constexpr double ReadExchangeBytes = 8 + 540;
constexpr double IdentifyExchangeBytes = 8 + 8;

// Counts the frames a driver builds, by command, with the time of each. The
// driver's own notifications keep running after the count.
struct TFrameCounter {
    std::atomic<uint32_t> Reads{0}, Writes{0};
    std::mutex Mutex;
    std::vector<Clock::time_point> Times;

    // Only while the driver's worker is idle.
    void Install(TZVT_drv& d);
    void Clear();

private:
    void Note(std::atomic<uint32_t>& n);
};

struct TLineResult {
    std::string Name;
    uint32_t Reads = 0, Writes = 0, Identifies = 0;
    double Bound = 0, Taken = 0;
    double PayloadBytes = 0;
    // Frame start to frame start, less the line time of one exchange.
    double MedianGapUs = 0, P90GapUs = 0, MaxGapUs = 0;
    double Ratio() const { return Taken > 0 ? Bound / Taken : 0; }
};

// Runs op (which returns the worker's error code) and measures it against
// the line; throws std::runtime_error when op fails.
TLineResult MeasureOnLine(const std::string& name, TZVT_drv& d, TFrameCounter& frames, uint32_t baud,
                          double payload, const std::function<uint8_t()>& op);

void PrintLineTable(const std::string& title, uint32_t baud, const std::vector<TLineResult>& rows);

// Reproducible file contents.
std::vector<uint8_t> Content(size_t n);

}  // namespace skarvel::bench
