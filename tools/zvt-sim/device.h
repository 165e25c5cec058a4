// The simulated device: command frames in, answers out at their time, with
// faults drawn from a seeded dice so that one seed gives one fault sequence.
//
// Threads: the simulator has one thread. A TSimDevice is fed and drained by
// the loop that serves the line (simulator.cpp); it owns its dice, its
// counts and the answers not yet due, and uses the medium it was given.
#pragma once

#include <cstdint>
#include <cstdio>
#include <queue>
#include <string>
#include <vector>

#include "tools/zvt-sim/medium.h"
#include "tools/zvt-sim/options.h"

namespace skarvel::sim {

// A partial frame is dropped when the line has been quiet this long.
constexpr uint64_t FrameGapUs = 100'000;
// Bounds of the delay of a late answer. The PC side waits 450 ms for an
// answer and relies on a late one arriving within one second. The usage
// text and the manual page give them too.
constexpr uint32_t LateMinMs = 460;
constexpr uint32_t LateMaxMs = 900;

// Deterministic random numbers for fault injection (splitmix64).
class TDice {
public:
    explicit TDice(uint64_t seed) : state_(seed) {}
    uint64_t Next();
    double Unit();                        // [0, 1)
    bool Chance(double p) { return Unit() < p; }
    uint32_t Between(uint32_t lo, uint32_t hi);  // inclusive

private:
    uint64_t state_;
};

struct TSimCounts {
    uint32_t Identify = 0, Read = 0, Write = 0, Other = 0, BadCrc = 0;
};
std::string FormatCounts(const TSimCounts& c);

// The device: bytes in, answers out at their time. Times are microseconds
// of a steady clock.
class TSimDevice {
public:
    TSimDevice(const TSimOptions& options, TMedium& medium, FILE* log);

    // One byte that has arrived (completely) at time us.
    void Receive(uint8_t b, uint64_t us);
    // Answers whose time has come, in order.
    std::string TakeDue(uint64_t nowUs);
    // When the next answer is due (UINT64_MAX: none scheduled).
    uint64_t NextDue() const;

    const TSimCounts& Counts() const { return counts_; }

private:
    struct TPending {
        uint64_t Due;
        uint64_t Seq;
        std::string Bytes;
        bool operator>(const TPending& o) const {
            return Due != o.Due ? Due > o.Due : Seq > o.Seq;
        }
    };

    void Parse(uint64_t us);
    void Handle(uint8_t cmd, uint16_t sector, const uint8_t* payload, uint64_t us);
    void HandleRead(uint16_t sector, uint64_t us);
    void HandleWrite(uint16_t sector, const uint8_t* payload, uint64_t us);
    // Sends an answer (and a data block) through the fault dice; returns the
    // time it goes out (or would have).
    uint64_t Answer(uint8_t status, uint8_t value, const uint8_t* payload528, uint64_t us);
    void Log(uint64_t us, const char* fmt, ...) __attribute__((format(printf, 3, 4)));

    const TSimOptions& options_;
    TMedium& medium_;
    FILE* log_;
    TDice dice_;
    TSimCounts counts_;
    std::vector<uint8_t> buf_;
    uint64_t lastByteUs_ = 0;
    uint64_t startUs_ = 0;
    bool started_ = false;
    uint64_t seq_ = 0;
    uint64_t answers_ = 0;  // answers sent or dropped so far
    std::priority_queue<TPending, std::vector<TPending>, std::greater<TPending>> pending_;
};

}  // namespace skarvel::sim
