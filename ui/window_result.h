// What the window's requests and the files in them end with: a worker
// error code, or one of the window's own codes for failures on the PC side.
// Both share the byte a completion carries, so the window numbers its own
// codes where the worker shows none of its texts.
#pragma once

#include <cstdint>

#include "flashfs/fs_flash.h"

namespace skarvel {

// The window's result codes for failures on the PC side. The worker's codes
// with the system's fixed texts are 0..12 and those it has gained since
// start at 16; 12..15 are the window's here (the worker's 12 answers an
// unknown operation, which the window never posts).
enum TPcResult : uint8_t {
    pcNoMemory = 12,     // no memory to hold a file
    pcWriteFailed = 13,  // a PC file could not be written whole
    pcReadFailed = 14,   // a PC file could not be read whole
    pcMissing = 15,      // a PC file to be written does not exist
    // The window's codes past the worker's own: the worker's codes grow from
    // 16 upwards, these sit well clear of them.
    pcVerifyFailed = 32,  // a written file read back otherwise than it was written
};

// A worker error or a TPcResult; never a transport result or a bare number.
class TWindowResult {
public:
    constexpr TWindowResult(TFlashError e = feOk) : code_(e) {}
    constexpr TWindowResult(TPcResult r) : code_(r) {}
    // A completion's byte, which either side may have written.
    static constexpr TWindowResult FromByte(uint8_t code) { return TWindowResult(code, 0); }

    constexpr uint8_t Code() const { return code_; }
    constexpr bool Ok() const { return code_ == feOk; }
    friend constexpr bool operator==(TWindowResult a, TWindowResult b) { return a.code_ == b.code_; }

private:
    constexpr TWindowResult(uint8_t code, int) : code_(code) {}
    uint8_t code_;
};

}  // namespace skarvel
