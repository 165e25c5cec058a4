// Frames of the device protocol: the CRC-16, the outgoing command frame and
// data block, and the receive state machine that turns the incoming byte
// stream into answers and data blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace skarvel {

constexpr uint16_t CrcInit = 0x1D0F;
extern const uint16_t CrcTable[256];

inline void CrcStep(uint16_t& crc, uint8_t b) {
    crc = static_cast<uint16_t>(CrcTable[((crc >> 8) ^ b) & 0xFF] ^ (crc << 8));
}
uint16_t Crc16(const uint8_t* data, size_t len, uint16_t crc = CrcInit);

// The first two bytes of every frame: 0x10, then the frame type.
constexpr uint8_t FrameDle = 0x10;
constexpr uint8_t FrameTypeAnswer = 0x01;  // command frame (PC) or answer frame (device)
constexpr uint8_t FrameTypeData = 0x08;    // data block

constexpr size_t CommandFrameLen = 8;
constexpr size_t AnswerFrameLen = 8;
constexpr size_t SendDataBlockLen = 530;   // 10 08, 526 payload bytes, CRC
constexpr size_t SendPayloadLen = 526;
constexpr size_t RecvDataBlockLen = 532;   // 10 08, 528 payload bytes, CRC
constexpr size_t RecvPayloadLen = 528;

// The bytes to send: a command frame, followed for dataLen 530 by a data
// block carrying the first bytesPerSector bytes of buffer, then zeros up to
// 526 payload bytes. At most dataLen - 4 bytes are copied; a null buffer
// sends zeros.
std::string BuildFrameBytes(uint8_t cmd, uint8_t sectorHi, uint8_t sectorLo, const void* buffer,
                            uint32_t dataLen, uint32_t bytesPerSector);

// An answer frame (device to PC), for the simulator and the tests.
std::string BuildAnswerBytes(uint8_t status, uint8_t value, uint8_t byte4, uint8_t dataFlag);
// A data block (device to PC) with 528 payload bytes.
std::string BuildDataBlockBytes(const uint8_t* payload528);

// The receive state machine. Feed it every received byte; when a valid
// answer (or the data block that follows an answer announcing one) is
// complete, OnAnswer is called with the answer's body and the data block's.
class TRxMachine {
public:
    static constexpr uint16_t AnswerLast = 5;      // last body index of an answer frame
    static constexpr uint16_t DataBlockLast = 529; // last body index of a data block

    uint16_t RxCrc = 0;
    uint16_t RxLast = 0;
    int32_t RxIndex = -1;
    bool RxDle = false;
    uint8_t RxStatusBad = 0xFF;
    bool RxDataFollows = false;
    uint8_t AnswerHeader[6] = {};   // Status, Value, byte 4, DataFlag, CRC hi, CRC lo
    uint8_t AnswerData[530] = {};   // 528 payload bytes, CRC hi, CRC lo

    // Called on a valid answer, before the frame's last (CRC low) byte is
    // stored; the buffers hold the answer's body and, for a read, the payload.
    std::function<void(const TRxMachine&)> OnAnswer;

    // Returns true when this byte completed a valid answer (and signalled).
    bool Feed(uint8_t b);
    // Back to "between frames", as after silence on the line.
    void Reset();
};

}  // namespace skarvel
