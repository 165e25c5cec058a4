// The sector transport between the flash worker and whatever carries its
// sectors (the device driver on the serial line, an in-memory medium in
// the tests): the commands, the results and the routine's type.
//
// The worker owns this contract; the driver implements it.
#pragma once

#include <cstdint>
#include <functional>

namespace skarvel {

// Commands the worker sends.
enum TTransportCommand : uint8_t {
    cmdWriteSector = 0x29,  // the sector holds the buffer's bytes when the result is xrOk
    cmdReadSector = 0x80,   // the buffer holds the sector when the result is xrOk
    cmdIdentify = 0x9F,     // xrOk: the known device, and the worker's medium size is set
};

// Results of one exchange.
enum TTransportResult : uint8_t {
    xrOk = 0,
    xrNoAnswer = 1,
    xrBusyTimeout = 3,  // the device stayed busy after a write
    xrStillBusy = 4,    // the same, reported by the device itself
    xrPortClosed = 5,
    xrWrongDevice = 6,  // identify answered with another device code
    // Never sent: a sector run the worker refused to pass to the transport
    // because it would address a sector beyond 65535 or a cluster outside
    // the volume.
    xrOutOfRange = 0xFF,
    // Never sent: the transport threw instead of answering (a fault of this
    // program, not of the line).
    xrInternalError = 0xFE,
};

// (command, sector low byte, sector high byte, buffer) -> the result.
// A read delivers 512 bytes, or the answer's 528 while the worker's sector
// size is still unknown; identify takes no buffer.
using TExchangeFn = std::function<TTransportResult(uint8_t cmd, uint8_t secLo, uint8_t secHi, void* buffer)>;

}  // namespace skarvel
