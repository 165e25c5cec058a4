// CRC-16 (polynomial 0x1021, MSB first), frame building and the receive
// state machine of the device protocol.
#include "link/zvt_frame.h"

#include <algorithm>
#include <cstring>

namespace skarvel {

// Table for polynomial 0x1021: entry i is the CRC register after shifting the
// byte i through it with a zero start value.
const uint16_t CrcTable[256] = {
    0x0000, 0x1021, 0x2042, 0x3063, 0x4084, 0x50A5, 0x60C6, 0x70E7,
    0x8108, 0x9129, 0xA14A, 0xB16B, 0xC18C, 0xD1AD, 0xE1CE, 0xF1EF,
    0x1231, 0x0210, 0x3273, 0x2252, 0x52B5, 0x4294, 0x72F7, 0x62D6,
    0x9339, 0x8318, 0xB37B, 0xA35A, 0xD3BD, 0xC39C, 0xF3FF, 0xE3DE,
    0x2462, 0x3443, 0x0420, 0x1401, 0x64E6, 0x74C7, 0x44A4, 0x5485,
    0xA56A, 0xB54B, 0x8528, 0x9509, 0xE5EE, 0xF5CF, 0xC5AC, 0xD58D,
    0x3653, 0x2672, 0x1611, 0x0630, 0x76D7, 0x66F6, 0x5695, 0x46B4,
    0xB75B, 0xA77A, 0x9719, 0x8738, 0xF7DF, 0xE7FE, 0xD79D, 0xC7BC,
    0x48C4, 0x58E5, 0x6886, 0x78A7, 0x0840, 0x1861, 0x2802, 0x3823,
    0xC9CC, 0xD9ED, 0xE98E, 0xF9AF, 0x8948, 0x9969, 0xA90A, 0xB92B,
    0x5AF5, 0x4AD4, 0x7AB7, 0x6A96, 0x1A71, 0x0A50, 0x3A33, 0x2A12,
    0xDBFD, 0xCBDC, 0xFBBF, 0xEB9E, 0x9B79, 0x8B58, 0xBB3B, 0xAB1A,
    0x6CA6, 0x7C87, 0x4CE4, 0x5CC5, 0x2C22, 0x3C03, 0x0C60, 0x1C41,
    0xEDAE, 0xFD8F, 0xCDEC, 0xDDCD, 0xAD2A, 0xBD0B, 0x8D68, 0x9D49,
    0x7E97, 0x6EB6, 0x5ED5, 0x4EF4, 0x3E13, 0x2E32, 0x1E51, 0x0E70,
    0xFF9F, 0xEFBE, 0xDFDD, 0xCFFC, 0xBF1B, 0xAF3A, 0x9F59, 0x8F78,
    0x9188, 0x81A9, 0xB1CA, 0xA1EB, 0xD10C, 0xC12D, 0xF14E, 0xE16F,
    0x1080, 0x00A1, 0x30C2, 0x20E3, 0x5004, 0x4025, 0x7046, 0x6067,
    0x83B9, 0x9398, 0xA3FB, 0xB3DA, 0xC33D, 0xD31C, 0xE37F, 0xF35E,
    0x02B1, 0x1290, 0x22F3, 0x32D2, 0x4235, 0x5214, 0x6277, 0x7256,
    0xB5EA, 0xA5CB, 0x95A8, 0x8589, 0xF56E, 0xE54F, 0xD52C, 0xC50D,
    0x34E2, 0x24C3, 0x14A0, 0x0481, 0x7466, 0x6447, 0x5424, 0x4405,
    0xA7DB, 0xB7FA, 0x8799, 0x97B8, 0xE75F, 0xF77E, 0xC71D, 0xD73C,
    0x26D3, 0x36F2, 0x0691, 0x16B0, 0x6657, 0x7676, 0x4615, 0x5634,
    0xD94C, 0xC96D, 0xF90E, 0xE92F, 0x99C8, 0x89E9, 0xB98A, 0xA9AB,
    0x5844, 0x4865, 0x7806, 0x6827, 0x18C0, 0x08E1, 0x3882, 0x28A3,
    0xCB7D, 0xDB5C, 0xEB3F, 0xFB1E, 0x8BF9, 0x9BD8, 0xABBB, 0xBB9A,
    0x4A75, 0x5A54, 0x6A37, 0x7A16, 0x0AF1, 0x1AD0, 0x2AB3, 0x3A92,
    0xFD2E, 0xED0F, 0xDD6C, 0xCD4D, 0xBDAA, 0xAD8B, 0x9DE8, 0x8DC9,
    0x7C26, 0x6C07, 0x5C64, 0x4C45, 0x3CA2, 0x2C83, 0x1CE0, 0x0CC1,
    0xEF1F, 0xFF3E, 0xCF5D, 0xDF7C, 0xAF9B, 0xBFBA, 0x8FD9, 0x9FF8,
    0x6E17, 0x7E36, 0x4E55, 0x5E74, 0x2E93, 0x3EB2, 0x0ED1, 0x1EF0,
};

uint16_t Crc16(const uint8_t* data, size_t len, uint16_t crc) {
    for (size_t i = 0; i < len; ++i) CrcStep(crc, data[i]);
    return crc;
}

namespace {

// A frame of len bytes: 0x10, the type byte, zeros up to its CRC.
std::string BlankFrame(uint8_t type, size_t len) {
    std::string s(len, '\0');
    s[frame::Dle] = static_cast<char>(FrameDle);
    s[frame::Type] = static_cast<char>(type);
    return s;
}

void Put(std::string& s, size_t at, uint8_t b) { s[at] = static_cast<char>(b); }

// Stores the CRC over all bytes before it in the frame's last two bytes.
void SealFrame(std::string& s) {
    const size_t crcAt = s.size() - frame::CrcLen;
    const uint16_t crc = Crc16(reinterpret_cast<const uint8_t*>(s.data()), crcAt, CrcInit);
    Put(s, crcAt, static_cast<uint8_t>(crc >> 8));
    Put(s, crcAt + 1, static_cast<uint8_t>(crc & 0xFF));
}

}  // namespace

std::string BuildFrameBytes(uint8_t cmd, uint8_t sectorHi, uint8_t sectorLo, const void* buffer,
                            uint32_t dataLen, uint32_t bytesPerSector) {
    // A data block is at least its two header and two CRC bytes.
    const size_t bareBlock = frame::Payload + frame::CrcLen;
    if (dataLen != 0 && dataLen < bareBlock) dataLen = bareBlock;
    std::string s = BlankFrame(FrameTypeAnswer, CommandFrameLen);
    Put(s, frame::Command, cmd);
    Put(s, frame::SectorHi, sectorHi);
    Put(s, frame::SectorLo, sectorLo);
    Put(s, frame::DataFlag, dataLen != 0 ? 1 : 0);
    SealFrame(s);
    if (dataLen == 0) return s;

    std::string block = BlankFrame(FrameTypeData, dataLen);
    const size_t payload = dataLen - bareBlock;
    // Never copy more than the block carries, and nothing from a missing buffer.
    const size_t copy = buffer ? std::min<size_t>(bytesPerSector, payload) : 0;
    if (copy > 0) block.replace(frame::Payload, copy, static_cast<const char*>(buffer), copy);
    SealFrame(block);
    s += block;
    return s;
}

std::string BuildAnswerBytes(uint8_t status, uint8_t value, uint8_t byte4, uint8_t dataFlag) {
    std::string s = BlankFrame(FrameTypeAnswer, AnswerFrameLen);
    Put(s, frame::Status, status);
    Put(s, frame::Value, value);
    Put(s, frame::AnswerByte4, byte4);
    Put(s, frame::DataFlag, dataFlag);
    SealFrame(s);
    return s;
}

std::string BuildDataBlockBytes(const uint8_t* payload528) {
    std::string s = BlankFrame(FrameTypeData, RecvDataBlockLen);
    if (payload528)
        s.replace(frame::Payload, RecvPayloadLen, reinterpret_cast<const char*>(payload528), RecvPayloadLen);
    SealFrame(s);
    return s;
}

bool TRxMachine::Feed(uint8_t b) {
    if (RxIndex != -1 && RxIndex < RxLast) {
        // Inside a frame body, before its last byte.
        CrcStep(RxCrc, b);
        if (RxLast == AnswerLast) {
            AnswerHeader[RxIndex] = b;
            if (RxIndex == HeaderStatus) RxStatusBad = (b == 0) ? 0 : 0xFF;
            if (RxIndex == HeaderDataFlag) RxDataFollows = (b != 0);
        } else {
            AnswerData[RxIndex] = b;
        }
        ++RxIndex;
        return false;
    }
    if (RxIndex != -1 && RxIndex == RxLast) {
        // The last byte of a frame body: the CRC over the whole frame,
        // its own two CRC bytes included, is 0 for an intact frame.
        CrcStep(RxCrc, b);
        // An answer that announces a data block is signalled by that block.
        const bool valid =
            RxCrc == 0 && RxStatusBad == 0 && (!RxDataFollows || RxLast != AnswerLast);
        if (valid && OnAnswer) OnAnswer(*this);
        if (RxLast == AnswerLast)
            AnswerHeader[AnswerLast] = b;
        else
            AnswerData[DataBlockLast] = b;
        RxIndex = -1;
        return valid;
    }
    // Between frames. A frame starts only on a type byte right after a 0x10
    // met between frames: a 0x10 kept from before an earlier frame (or from
    // its body) would start a frame whose CRC runs over bytes that are not
    // its own, so the type bytes cancel the 0x10 whether they start a frame
    // or not.
    switch (b) {
    case FrameTypeAnswer:
        if (RxDle) {
            RxIndex = 0;
            RxLast = AnswerLast;
        }
        RxDle = false;
        break;
    case FrameTypeData:
        if (RxDle && RxDataFollows) {
            RxIndex = 0;
            RxLast = DataBlockLast;
        }
        RxDle = false;
        break;
    case FrameDle:
        RxDle = true;
        RxCrc = CrcInit;
        break;
    default:
        RxDle = false;
        RxIndex = -1;
        break;
    }
    CrcStep(RxCrc, b);
    return false;
}

void TRxMachine::Reset() {
    RxIndex = -1;
    RxDle = false;
}

}  // namespace skarvel
