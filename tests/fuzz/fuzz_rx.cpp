// Fuzz target: the receive state machine and the frame builder.
//
// The input is a byte stream as it could arrive on the line. Besides what
// the sanitizers catch, every byte checks the machine's invariants, and
// every signal is checked against the bytes that were really fed: a signal
// is only ever given for an intact answer or data block. After the stream
// the machine must still take a well-formed answer.
//
// The first input byte also drives one call of BuildFrameBytes with a
// buffer exactly as large as what the call may read.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "link/zvt_frame.h"

using namespace skarvel;

namespace {

[[noreturn]] void Fail(const char* what, size_t at) {
    std::fprintf(stderr, "fuzz_rx: %s (at byte %zu)\n", what, at);
    std::abort();
}

void Check(bool ok, const char* what, size_t at = 0) {
    if (!ok) Fail(what, at);
}

// CRC by shifting bits, independent of the table.
uint16_t BitCrc(const uint8_t* p, size_t n, uint16_t crc = CrcInit) {
    for (size_t i = 0; i < n; ++i) {
        crc = static_cast<uint16_t>(crc ^ (p[i] << 8));
        for (int k = 0; k < 8; ++k)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

struct TFeeder {
    TRxMachine rx;
    std::vector<uint8_t> fed;
    int callbacks = 0;

    TFeeder() {
        rx.OnAnswer = [this](const TRxMachine& m) {
            ++callbacks;
            // The handler runs on the frame's last byte, before it is stored.
            Check(m.RxIndex == m.RxLast, "handler called outside a frame's last byte", fed.size());
        };
    }

    bool Feed(uint8_t b) {
        fed.push_back(b);
        const size_t at = fed.size() - 1;
        const int before = callbacks;
        const bool signaled = rx.Feed(b);
        Check(callbacks - before == (signaled ? 1 : 0), "signal and handler disagree", at);
        Check(rx.RxIndex >= -1 && rx.RxIndex <= static_cast<int32_t>(rx.RxLast), "RxIndex outside -1..RxLast", at);
        if (rx.RxIndex != -1)
            Check(rx.RxLast == TRxMachine::AnswerLast || rx.RxLast == TRxMachine::DataBlockLast,
                  "a frame body of unknown length", at);
        Check(rx.RxStatusBad == 0 || rx.RxStatusBad == 0xFF, "RxStatusBad neither 0 nor 0xFF", at);
        if (signaled) CheckSignal(at);
        return signaled;
    }

    // The bytes just fed must end an intact frame that deserves a signal.
    void CheckSignal(size_t at) {
        if (rx.RxLast == TRxMachine::AnswerLast) {
            Check(at + 1 >= AnswerFrameLen, "answer signalled before 8 bytes came", at);
            const uint8_t* f = fed.data() + at + 1 - AnswerFrameLen;
            Check(f[0] == FrameDle && f[1] == FrameTypeAnswer, "answer signalled without 10 01", at);
            Check(BitCrc(f, AnswerFrameLen) == 0, "answer signalled with a bad CRC", at);
            Check(f[2] == 0, "answer signalled with a non-zero Status", at);
            Check(f[5] == 0, "answer announcing a data block signalled by itself", at);
            Check(std::memcmp(rx.AnswerHeader, f + 2, 6) == 0, "AnswerHeader differs from the frame", at);
        } else {
            Check(rx.RxLast == TRxMachine::DataBlockLast, "signal from a frame of unknown length", at);
            Check(at + 1 >= RecvDataBlockLen, "data block signalled before 532 bytes came", at);
            const uint8_t* f = fed.data() + at + 1 - RecvDataBlockLen;
            Check(f[0] == FrameDle && f[1] == FrameTypeData, "data block signalled without 10 08", at);
            Check(BitCrc(f, RecvDataBlockLen) == 0, "data block signalled with a bad CRC", at);
            Check(std::memcmp(rx.AnswerData, f + 2, RecvPayloadLen + 2) == 0, "AnswerData differs from the block", at);
            // The answer that announced it had Status 0 and a data flag.
            Check(rx.AnswerHeader[0] == 0 && rx.AnswerHeader[3] != 0, "data block without an announcing answer", at);
        }
    }

    int FeedAll(const std::string& s) {
        int n = 0;
        for (char c : s) n += Feed(static_cast<uint8_t>(c)) ? 1 : 0;
        return n;
    }
};

void FuzzBuildFrame(const uint8_t* data, size_t size) {
    if (size < 6) return;
    const uint8_t cmd = data[0];
    const uint8_t hi = data[1];
    const uint8_t lo = data[2];
    // Data lengths around the real 530, and small ones.
    const uint32_t dataLen = (data[3] & 1) ? 530 : data[4] % 8;
    const uint32_t bps = static_cast<uint32_t>(data[5]) * 4;  // 0..1020
    const uint32_t effectiveLen = (dataLen != 0 && dataLen < 4) ? 4 : dataLen;
    const size_t payload = effectiveLen ? effectiveLen - 4 : 0;
    const size_t readable = std::min<size_t>(bps, payload);
    // Exactly the bytes the call may read, on the heap so reading more is caught.
    std::unique_ptr<uint8_t[]> buf(new uint8_t[readable + 1]);
    for (size_t i = 0; i < readable; ++i) buf[i] = data[i % size];
    const std::string s = BuildFrameBytes(cmd, hi, lo, buf.get(), dataLen, bps);
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    Check(s.size() == CommandFrameLen + effectiveLen, "frame of the wrong length");
    Check(p[0] == FrameDle && p[1] == FrameTypeAnswer && p[2] == cmd && p[3] == hi && p[4] == lo,
          "command frame fields");
    Check(p[5] == (effectiveLen ? 1 : 0), "data flag");
    Check(BitCrc(p, CommandFrameLen) == 0, "command frame CRC");
    if (effectiveLen) {
        Check(p[8] == FrameDle && p[9] == FrameTypeData, "data block header");
        Check(BitCrc(p + 8, effectiveLen) == 0, "data block CRC");
        Check(std::memcmp(p + 10, buf.get(), readable) == 0, "data block payload");
        for (size_t i = readable; i < payload; ++i) Check(p[10 + i] == 0, "data block padding");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The table and the bitwise CRC agree, and the library's run does too.
    Check(Crc16(data, size) == BitCrc(data, size), "table CRC differs from the bitwise CRC");

    FuzzBuildFrame(data, size);

    TFeeder f;
    for (size_t i = 0; i < size; ++i) f.Feed(data[i]);

    // Whatever came before, a body in progress is full after 530 bytes and
    // a byte other than 10, 01 and 08 cancels a pending 0x10: the next
    // answer is then taken without any silence.
    f.FeedAll(std::string(TRxMachine::DataBlockLast + 2, '\x55'));
    Check(f.rx.RxIndex == -1, "machine inside a frame after 531 filler bytes");
    const uint8_t value = size ? data[0] : 0x2C;
    Check(f.FeedAll(BuildAnswerBytes(0, value, 0, 0)) == 1, "intact answer not taken after filler");
    Check(f.rx.AnswerHeader[1] == value, "answer Value not stored");

    // After silence (Reset) a read answer and its data block signal once,
    // on the block's last byte, with the payload in place.
    f.FeedAll(std::string(data, data + std::min<size_t>(size, 64)));
    f.rx.Reset();
    uint8_t payload[RecvPayloadLen];
    for (size_t i = 0; i < RecvPayloadLen; ++i) payload[i] = size ? data[i % size] : 0;
    Check(f.FeedAll(BuildAnswerBytes(0, 0, 0, 1)) == 0, "read answer signalled by itself");
    const std::string block = BuildDataBlockBytes(payload);
    for (size_t i = 0; i < block.size(); ++i) {
        const bool s = f.Feed(static_cast<uint8_t>(block[i]));
        Check(s == (i + 1 == block.size()), "data block signalled at the wrong byte", i);
    }
    Check(std::memcmp(f.rx.AnswerData, payload, RecvPayloadLen) == 0, "payload not delivered");
    return 0;
}
