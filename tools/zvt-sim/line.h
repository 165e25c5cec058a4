// The simulator's end of the line: a pseudo-terminal or a serial device
// (TLine), and the pacing of the bytes on it (TPacing).
//
// Threads: the simulator has one thread; the loop that serves the line
// (simulator.cpp) owns its TLine and TPacing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include <termios.h>

namespace skarvel::sim {

// A pty master (the PC opens the slave) or a serial device in raw mode, non-blocking.
class TLine {
public:
    TLine() = default;
    ~TLine();
    TLine(const TLine&) = delete;
    TLine& operator=(const TLine&) = delete;

    // A new pty; with a linkPath, a symlink there to its slave (an old
    // symlink is replaced, anything else is an error).
    bool OpenPty(const std::string& linkPath, std::string& error);
    bool OpenDevice(const std::string& path, uint32_t baud, std::string& error);
    // Opens the serial device again after Lost().
    bool Reopen(std::string& error);
    // A serial device that failed is closed and opened again later.
    void Lost();

    bool IsPty() const { return devicePath_.empty(); }
    int Fd() const { return fd_; }
    const std::string& SlavePath() const { return slavePath_; }

private:
    bool SetNonBlocking(std::string& error);

    int fd_ = -1;
    int slave_ = -1;
    speed_t speed_ = B115200;
    std::string slavePath_, linkPath_, devicePath_;
};

// Never more than this many answer bytes wait for the line (nobody reading).
constexpr size_t TxBacklogLimit = 1 << 20;

// The bytes under way on the line, with the times a real line would take.
// Paced (a pty with a baud rate; a serial device paces itself), a received
// byte is in one byte time (10 bits) after the one before it, and answers
// go out no faster than the rate, about a millisecond of the line at a
// time. Unpaced, bytes pass at once. Times are nanoseconds of a steady clock.
class TPacing {
public:
    explicit TPacing(uint32_t baud);  // 0: unpaced
    bool Paced() const { return byteNs_ > 0; }

    // Bytes read from the line at nowNs.
    void Received(const uint8_t* p, size_t n, uint64_t nowNs);
    // The next received byte that is completely in by nowNs, and when it
    // was; false: none.
    bool TakeReceived(uint64_t nowNs, uint8_t& b, uint64_t& inNs);

    // Answer bytes due at nowNs; false when they were dropped because the
    // backlog is full.
    bool Queue(const std::string& bytes, uint64_t nowNs);
    // The queued bytes that may be written at nowNs (empty: none yet).
    std::string_view Writable(uint64_t nowNs) const;
    void Written(size_t n);
    // The line failed: what was queued is lost.
    void DropQueued() { tx_.clear(); }

    // When there is next something to do: a received byte to hand on, or
    // (canWrite: the line takes bytes) the next piece to write; UINT64_MAX:
    // nothing.
    uint64_t NextNs(uint64_t nowNs, bool canWrite) const;

private:
    struct TRxByte {
        uint8_t B;
        uint64_t Ns;  // when its last bit is in
    };

    uint64_t byteNs_;  // 0: unpaced
    size_t chunk_;     // bytes written at once
    std::deque<TRxByte> rx_;
    uint64_t rxClock_ = 0;
    std::string tx_;
    uint64_t txClock_ = 0;  // when the line is free for the next byte
};

}  // namespace skarvel::sim
