// zvt-sim: a stand-in for the ZVT on a pseudo-terminal or a serial device.
//
// TSimDevice is the device itself (frames in, answers out, sectors in an
// image file); TSimLine moves its bytes over the pty or serial device and,
// with a baud rate given, paces them like a real line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <queue>
#include <string>
#include <vector>

namespace skarvel::sim {

constexpr uint32_t DefaultMediumBytes = 0x200000;  // 2 MiB, what the device reports
constexpr uint8_t DefaultDeviceCode = 0x2C;
constexpr uint32_t SectorBytes = 512;
// A partial frame is dropped when the line has been quiet this long.
constexpr uint64_t FrameGapUs = 100'000;
// Bounds of the delay of a late answer. The PC side waits 450 ms for an
// answer and relies on a late one arriving within one second.
constexpr uint32_t LateMinMs = 460;
constexpr uint32_t LateMaxMs = 900;

struct TSimOptions {
    std::string ImagePath;     // empty: a 2 MiB medium in memory
    std::string LinkPath;      // symlink to the pty's slave
    std::string DevicePath;    // serve a serial device instead of a pty
    uint32_t Baud = 0;         // 0: no pacing
    uint8_t DeviceCode = DefaultDeviceCode;
    uint32_t BusyMs = 0;
    uint64_t Seed = 1;
    double PDrop = 0, PCorrupt = 0, PStatus = 0, PLate = 0;
    // A fault at a known place: these answers (counted from 1 over every
    // answer sent) go out LateMs late.
    std::vector<uint64_t> LateAnswers;
    uint32_t LateMs = 600;
    bool Silent = false;
    bool Verbose = false;
};

enum class TParse { Run, Help, Error };
// Parses the command line (argv[0] is the program). On Error, error says why.
TParse ParseOptions(int argc, char** argv, TSimOptions& out, std::string& error);
std::string UsageText();

// The medium: an image file written through sector by sector, or memory.
class TMedium {
public:
    TMedium() = default;
    ~TMedium();
    TMedium(const TMedium&) = delete;
    TMedium& operator=(const TMedium&) = delete;

    // Opens (or creates as 2 MiB of zeros) the image; false with error set
    // when it cannot be used.
    bool Open(const std::string& path, std::string& error);
    void OpenMemory(uint32_t bytes);

    uint32_t Sectors() const { return sectors_; }
    bool Read(uint32_t sector, uint8_t* out512, std::string& error);
    // Returns once the sector is in the file (a killed process loses nothing).
    bool Write(uint32_t sector, const uint8_t* in512, std::string& error);

private:
    int fd_ = -1;
    uint32_t sectors_ = 0;
    std::vector<uint8_t> memory_;
};

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
    uint64_t answers_ = 0;
    std::priority_queue<TPending, std::vector<TPending>, std::greater<TPending>> pending_;
};

// Runs the simulator until SIGINT or SIGTERM; returns the exit code.
int RunSimulator(const TSimOptions& options);

}  // namespace skarvel::sim
