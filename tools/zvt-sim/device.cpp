// The device's side of the protocol: frames parsed from the byte stream,
// commands carried out on the medium, answers sent through the fault dice.
#include "tools/zvt-sim/device.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>

#include "flashfs/transport.h"
#include "link/zvt_frame.h"

namespace skarvel::sim {

namespace {

// Status bytes of refused commands (any non-zero Status makes the PC ignore
// the answer and send again).
constexpr uint8_t StatusFault = 0x01;        // injected with --p-status
constexpr uint8_t StatusOutOfRange = 0x02;   // sector beyond the medium
constexpr uint8_t StatusNoData = 0x03;       // write without its data block
constexpr uint8_t StatusMediumError = 0x04;  // the image could not be read or written

}  // namespace

uint64_t TDice::Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double TDice::Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }

uint32_t TDice::Between(uint32_t lo, uint32_t hi) {
    return lo + static_cast<uint32_t>(Next() % (uint64_t{hi} - lo + 1));
}

std::string FormatCounts(const TSimCounts& c) {
    return "identify " + std::to_string(c.Identify) + ", read " + std::to_string(c.Read) +
           ", write " + std::to_string(c.Write) + ", other " + std::to_string(c.Other) +
           ", bad-crc " + std::to_string(c.BadCrc);
}

TSimDevice::TSimDevice(const TSimOptions& options, TMedium& medium, FILE* log)
    : options_(options), medium_(medium), log_(log), dice_(options.Seed) {}

void TSimDevice::Log(uint64_t us, const char* fmt, ...) {
    if (!log_) return;
    const uint64_t rel = started_ && us >= startUs_ ? us - startUs_ : 0;
    std::fprintf(log_, "[%4" PRIu64 ".%03" PRIu64 "] ", rel / 1'000'000, (rel / 1000) % 1000);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(log_, fmt, ap);
    va_end(ap);
    std::fputc('\n', log_);
    std::fflush(log_);
}

void TSimDevice::Receive(uint8_t b, uint64_t us) {
    if (!started_) {
        started_ = true;
        startUs_ = us;
    }
    if (!buf_.empty() && us >= lastByteUs_ + FrameGapUs) {
        Log(us, "dropped %zu bytes of a partial frame after a pause", buf_.size());
        buf_.clear();
    }
    lastByteUs_ = us;
    buf_.push_back(b);
    Parse(us);
}

void TSimDevice::Parse(uint64_t us) {
    for (;;) {
        // Skip everything up to 0x10 0x01 (a lone 0x10 at the end may start one).
        size_t skip = 0;
        while (skip < buf_.size() && !(buf_[skip] == FrameDle && (skip + 1 >= buf_.size() ||
                                                                 buf_[skip + 1] == FrameTypeAnswer)))
            ++skip;
        if (skip > 0) {
            Log(us, "skipped %zu bytes outside frames", skip);
            buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(skip));
        }
        if (buf_.size() < CommandFrameLen) return;
        if (Crc16(buf_.data(), CommandFrameLen) != 0) {
            ++counts_.BadCrc;
            Log(us, "command frame with a bad CRC: no answer");
            buf_.erase(buf_.begin());  // look for the next frame start inside it
            continue;
        }
        const uint8_t cmd = buf_[frame::Command];
        const uint16_t sector = static_cast<uint16_t>(buf_[frame::SectorHi] << 8 | buf_[frame::SectorLo]);
        if (buf_[frame::DataFlag] == 0) {
            buf_.erase(buf_.begin(), buf_.begin() + CommandFrameLen);
            Handle(cmd, sector, nullptr, us);
            continue;
        }
        // The command announces a data block.
        const uint8_t* block = buf_.data() + CommandFrameLen;
        if (buf_.size() < CommandFrameLen + frame::Body) return;
        if (block[frame::Dle] != FrameDle || block[frame::Type] != FrameTypeData) {
            ++counts_.BadCrc;
            Log(us, "command 0x%02X announces a data block that does not follow: no answer", cmd);
            buf_.erase(buf_.begin(), buf_.begin() + CommandFrameLen);
            continue;
        }
        const size_t whole = CommandFrameLen + SendDataBlockLen;
        if (buf_.size() < whole) return;
        if (Crc16(block, SendDataBlockLen) != 0) {
            ++counts_.BadCrc;
            Log(us, "data block of command 0x%02X sector %u with a bad CRC: no answer", cmd, sector);
            buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(whole));
            continue;
        }
        std::vector<uint8_t> payload(block + frame::Payload, block + frame::Payload + SendPayloadLen);
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(whole));
        Handle(cmd, sector, payload.data(), us);
    }
}

void TSimDevice::Handle(uint8_t cmd, uint16_t sector, const uint8_t* payload, uint64_t us) {
    switch (cmd) {
    case cmdIdentify:
        ++counts_.Identify;
        Log(us, "identify");
        Answer(0, options_.DeviceCode, nullptr, us);
        return;
    case cmdReadSector:
        HandleRead(sector, us);
        return;
    case cmdWriteSector:
        HandleWrite(sector, payload, us);
        return;
    default:
        ++counts_.Other;
        Log(us, "command 0x%02X sector %u", cmd, sector);
        Answer(0, 0, nullptr, us);
        return;
    }
}

void TSimDevice::HandleRead(uint16_t sector, uint64_t us) {
    ++counts_.Read;
    Log(us, "read sector %u", sector);
    std::string error;
    uint8_t data[RecvPayloadLen] = {};  // the sector, then 16 zeros
    if (sector >= medium_.Sectors()) {
        Log(us, "sector %u is beyond the medium (%u sectors)", sector, medium_.Sectors());
        Answer(StatusOutOfRange, 0, nullptr, us);
    } else if (!medium_.Read(sector, data, error)) {
        std::fprintf(stderr, "zvt-sim: sector %u: %s\n", sector, error.c_str());
        Answer(StatusMediumError, 0, nullptr, us);
    } else {
        Answer(0, 0, data, us);
    }
}

void TSimDevice::HandleWrite(uint16_t sector, const uint8_t* payload, uint64_t us) {
    ++counts_.Write;
    Log(us, "write sector %u", sector);
    std::string error;
    if (!payload) {
        Log(us, "write without a data block");
        Answer(StatusNoData, 0, nullptr, us);
    } else if (sector >= medium_.Sectors()) {
        Log(us, "sector %u is beyond the medium (%u sectors)", sector, medium_.Sectors());
        Answer(StatusOutOfRange, 0, nullptr, us);
    } else if (!medium_.Write(sector, payload, error)) {
        std::fprintf(stderr, "zvt-sim: sector %u: %s\n", sector, error.c_str());
        Answer(StatusMediumError, 0, nullptr, us);
    } else if (options_.BusyMs > 0) {
        // Busy first; the device reports again on its own when done.
        const uint64_t sent = Answer(0, 1, nullptr, us);
        Answer(0, 0, nullptr, sent + uint64_t{options_.BusyMs} * 1000);
    } else {
        Answer(0, 0, nullptr, us);
    }
}

uint64_t TSimDevice::Answer(uint8_t status, uint8_t value, const uint8_t* payload528, uint64_t us) {
    if (options_.Silent) {
        Log(us, "silent: no answer");
        return us;
    }
    // The same draws for every answer, so one seed gives one fault sequence.
    const bool drop = dice_.Chance(options_.PDrop);
    const bool late = dice_.Chance(options_.PLate);
    const bool corrupt = dice_.Chance(options_.PCorrupt);
    const bool badStatus = dice_.Chance(options_.PStatus);
    const uint32_t lateMs = dice_.Between(LateMinMs, LateMaxMs);
    const uint64_t bitDraw = dice_.Next();

    if (badStatus && status == 0) {
        status = StatusFault;
        payload528 = nullptr;
    }
    std::string bytes = BuildAnswerBytes(status, value, 0, payload528 ? 1 : 0);
    if (payload528) bytes += BuildDataBlockBytes(payload528);
    ++answers_;
    const bool lateHere = std::find(options_.LateAnswers.begin(), options_.LateAnswers.end(), answers_) !=
                          options_.LateAnswers.end();
    const uint64_t due = us + (lateHere ? uint64_t{options_.LateMs} * 1000 : late ? uint64_t{lateMs} * 1000 : 0);
    std::string notes;
    if (lateHere) notes += " [fault: answer " + std::to_string(answers_) + " late]";
    if (badStatus) notes += " [fault: status]";
    if (late) notes += " [fault: late " + std::to_string(lateMs) + " ms]";
    if (corrupt) {
        const size_t bit = static_cast<size_t>(bitDraw % (bytes.size() * 8));
        bytes[bit / 8] = static_cast<char>(bytes[bit / 8] ^ (1 << (bit % 8)));
        notes += " [fault: bit " + std::to_string(bit) + " flipped]";
    }
    if (drop) {
        Log(us, "answer status %u value 0x%02X dropped [fault: drop]", status, value);
        return due;
    }
    Log(us, "answer status %u value 0x%02X%s%s", status, value,
        payload528 ? " + data block" : "", notes.c_str());
    pending_.push(TPending{due, seq_++, std::move(bytes)});
    return due;
}

std::string TSimDevice::TakeDue(uint64_t nowUs) {
    std::string out;
    while (!pending_.empty() && pending_.top().Due <= nowUs) {
        out += pending_.top().Bytes;
        pending_.pop();
    }
    return out;
}

uint64_t TSimDevice::NextDue() const { return pending_.empty() ? UINT64_MAX : pending_.top().Due; }

}  // namespace skarvel::sim
