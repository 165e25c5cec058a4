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

// Byte positions in a frame. Every frame is 0x10, its type byte and a body of
// fixed length whose last two bytes are the CRC (high byte first) over all
// bytes before them; nothing is escaped, so a 0x10 inside a body is data.
namespace frame {
constexpr size_t Dle = 0;
constexpr size_t Type = 1;
constexpr size_t Body = 2;    // where the body starts
constexpr size_t CrcLen = 2;  // the CRC closes the body
// Command frame (PC to device).
constexpr size_t Command = 2;
constexpr size_t SectorHi = 3;
constexpr size_t SectorLo = 4;
constexpr size_t DataFlag = 5;  // a data block follows (answer frame: the same place)
// Answer frame (device to PC).
constexpr size_t Status = 2;    // 0: valid; anything else makes the PC ignore the answer
constexpr size_t Value = 3;     // write: non-zero while busy; identify: the device code
constexpr size_t AnswerByte4 = 4;  // not interpreted by the PC
// Data blocks both ways.
constexpr size_t Payload = 2;
}  // namespace frame

constexpr size_t CommandFrameLen = 8;
constexpr size_t AnswerFrameLen = 8;
constexpr size_t SendPayloadLen = 526;
constexpr size_t SendDataBlockLen = frame::Payload + SendPayloadLen + frame::CrcLen;  // 530
constexpr size_t RecvPayloadLen = 528;
constexpr size_t RecvDataBlockLen = frame::Payload + RecvPayloadLen + frame::CrcLen;  // 532

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
    // The machine keeps the bodies of frames: a frame's byte at offset o is
    // at o - frame::Body in its buffer.
    static constexpr uint16_t AnswerBodyLen = AnswerFrameLen - frame::Body;        // 6
    static constexpr uint16_t DataBlockBodyLen = RecvDataBlockLen - frame::Body;   // 530
    static constexpr uint16_t AnswerLast = AnswerBodyLen - 1;        // last body index of an answer frame
    static constexpr uint16_t DataBlockLast = DataBlockBodyLen - 1;  // last body index of a data block
    // Positions in AnswerHeader.
    static constexpr uint16_t HeaderStatus = frame::Status - frame::Body;
    static constexpr uint16_t HeaderValue = frame::Value - frame::Body;
    static constexpr uint16_t HeaderDataFlag = frame::DataFlag - frame::Body;

    uint16_t RxCrc = 0;
    uint16_t RxLast = 0;
    int32_t RxIndex = -1;
    bool RxDle = false;
    uint8_t RxStatusBad = 0xFF;
    bool RxDataFollows = false;
    uint8_t AnswerHeader[AnswerBodyLen] = {};   // Status, Value, byte 4, DataFlag, CRC hi, CRC lo
    uint8_t AnswerData[DataBlockBodyLen] = {};  // 528 payload bytes, CRC hi, CRC lo

    // Called on a valid answer, before the frame's last (CRC low) byte is
    // stored; the buffers hold the answer's body and, for a read, the payload.
    std::function<void(const TRxMachine&)> OnAnswer;

    // Returns true when this byte completed a valid answer (and signalled).
    bool Feed(uint8_t b);
    // Back to "between frames", as after silence on the line.
    void Reset();
};

}  // namespace skarvel
