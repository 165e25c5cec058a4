#include "bench/line_measure.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "link/zvt_drv.h"

namespace skarvel::bench {

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
    return v[i];
}

void TFrameCounter::Install(TZVT_drv& d) {
    d.OnReadSector = [this, next = d.OnReadSector] {
        Note(Reads);
        if (next) next();
    };
    d.OnWriteSector = [this, next = d.OnWriteSector] {
        Note(Writes);
        if (next) next();
    };
}

void TFrameCounter::Clear() {
    Reads = 0;
    Writes = 0;
    std::lock_guard<std::mutex> lock(Mutex);
    Times.clear();
}

void TFrameCounter::Note(std::atomic<uint32_t>& n) {
    n.fetch_add(1);
    std::lock_guard<std::mutex> lock(Mutex);
    Times.push_back(Clock::now());
}

TLineResult MeasureOnLine(const std::string& name, TZVT_drv& d, TFrameCounter& frames, uint32_t baud,
                          double payload, const std::function<uint8_t()>& op) {
    frames.Clear();
    const uint32_t sentBefore = d.FramesSent.load();
    const auto t0 = Clock::now();
    const uint8_t r = op();
    const auto t1 = Clock::now();
    if (r != 0) throw std::runtime_error(name + " failed with error " + std::to_string(r));
    TLineResult res;
    res.Name = name;
    res.Reads = frames.Reads;
    res.Writes = frames.Writes;
    const uint32_t sent = d.FramesSent.load() - sentBefore;
    res.Identifies = sent - res.Reads - res.Writes;
    const double byteSec = 10.0 / baud;
    res.Bound = (res.Reads * ReadExchangeBytes + res.Writes * WriteExchangeBytes +
                 res.Identifies * IdentifyExchangeBytes) * byteSec;
    res.Taken = Seconds(t0, t1);
    res.PayloadBytes = payload;
    // How much longer than its line time an exchange took, frame start to
    // frame start, over the run of same-command frames.
    std::vector<double> extra;
    {
        std::lock_guard<std::mutex> lock(frames.Mutex);
        const double line = (res.Writes >= res.Reads ? WriteExchangeBytes : ReadExchangeBytes) * byteSec;
        for (size_t i = 1; i < frames.Times.size(); ++i)
            extra.push_back((Seconds(frames.Times[i - 1], frames.Times[i]) - line) * 1e6);
    }
    res.MedianGapUs = Percentile(extra, 0.5);
    res.P90GapUs = Percentile(extra, 0.9);
    res.MaxGapUs = Percentile(extra, 1.0);
    return res;
}

void PrintLineTable(const std::string& title, uint32_t baud, const std::vector<TLineResult>& rows) {
    std::printf("\n%s, zvt-sim pacing %u baud (10 bits a byte):\n", title.c_str(), baud);
    std::printf("  %-25s %-16s %10s %10s %7s %12s   %s\n", "operation", "exchanges r/w/id", "line bound", "taken",
                "ratio", "payload B/s", "extra per exchange: median/p90/max");
    for (const TLineResult& r : rows) {
        char ex[32];
        std::snprintf(ex, sizeof ex, "%u/%u/%u", r.Reads, r.Writes, r.Identifies);
        std::printf("  %-25s %-16s %9.3fs %9.3fs %7.4f %12.0f   %.0f/%.0f/%.0f us\n", r.Name.c_str(), ex, r.Bound,
                    r.Taken, r.Ratio(), r.Taken > 0 ? r.PayloadBytes / r.Taken : 0, r.MedianGapUs, r.P90GapUs,
                    r.MaxGapUs);
    }
}

std::vector<uint8_t> Content(size_t n) {
    std::vector<uint8_t> v(n);
    uint32_t x = 12345;
    for (auto& b : v) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return v;
}

}  // namespace skarvel::bench
