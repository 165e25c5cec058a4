// The end of a wait: started once with its length, then asked whether it
// has passed and how long is left. Every blocking loop of the link, the
// main loop and the tools measures its time-out with it.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <functional>
#include <utility>

#include "core/sync.h"

namespace skarvel {

class TDeadline {
public:
    // Milliseconds on a steady clock: SteadyMs, or one a test drives.
    using TClock = std::function<uint64_t()>;

    // Starts now and ends ms from now; ms < 0 never ends.
    explicit TDeadline(int64_t ms, TClock clock = SteadyMs)
        : clock_(std::move(clock)), never_(ms < 0), end_(never_ ? 0 : clock_() + static_cast<uint64_t>(ms)) {}

    bool Expired() const { return !never_ && clock_() >= end_; }
    // Milliseconds left: 0 once it has passed, -1 for one that never ends
    // (what waits take as "no limit").
    int RemainingMs() const {
        if (never_) return -1;
        const uint64_t now = clock_();
        return now >= end_ ? 0 : static_cast<int>(std::min<uint64_t>(end_ - now, INT_MAX));
    }
    // The same, at most cap: the slice a loop waits before it looks again.
    int RemainingMs(int cap) const {
        const int left = RemainingMs();
        return left < 0 || left > cap ? cap : left;
    }

private:
    TClock clock_;
    bool never_;
    uint64_t end_;
};

}  // namespace skarvel
