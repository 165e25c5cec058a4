#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "link/zvt_frame.h"

using namespace skarvel;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// Bitwise reference for one table entry (polynomial 0x1021, MSB first).
uint16_t ReferenceEntry(unsigned i) {
    uint16_t c = static_cast<uint16_t>(i << 8);
    for (int k = 0; k < 8; ++k)
        c = static_cast<uint16_t>((c & 0x8000) ? (c << 1) ^ 0x1021 : (c << 1));
    return c;
}

// A machine that counts its OnAnswer calls and remembers what the buffers
// held at that moment.
struct Probe {
    TRxMachine rx;
    int answers = 0;
    uint8_t header[6] = {};
    std::vector<uint8_t> payload;
    Probe() {
        rx.OnAnswer = [this](const TRxMachine& m) {
            ++answers;
            std::memcpy(header, m.AnswerHeader, sizeof header);
            payload.assign(m.AnswerData, m.AnswerData + RecvPayloadLen);
        };
    }
    // Feeds all bytes; returns the indices at which Feed returned true.
    std::vector<size_t> Feed(const std::string& s) {
        std::vector<size_t> hits;
        for (size_t i = 0; i < s.size(); ++i)
            if (rx.Feed(static_cast<uint8_t>(s[i]))) hits.push_back(i);
        return hits;
    }
};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return v;
}

}  // namespace

TEST(Crc, CheckValueAndTable) {
    const char* check = "123456789";
    EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(check), 9), 0xE5CC);  // starts from 0x1D0F
    for (unsigned i = 0; i < 256; ++i) EXPECT_EQ(CrcTable[i], ReferenceEntry(i)) << "entry " << i;
}

TEST(Frame, CommandFramesOfTheDevice) {
    EXPECT_EQ(Bytes(BuildFrameBytes(0x9F, 0, 0, nullptr, 0, 0)),
              (std::vector<uint8_t>{0x10, 0x01, 0x9F, 0x00, 0x00, 0x00, 0x93, 0x9A}));
    EXPECT_EQ(Bytes(BuildFrameBytes(0x80, 0x01, 0x23, nullptr, 0, 512)),
              (std::vector<uint8_t>{0x10, 0x01, 0x80, 0x01, 0x23, 0x00, 0x38, 0x56}));
    EXPECT_EQ(Bytes(BuildAnswerBytes(0, 0x2C, 0, 0)),
              (std::vector<uint8_t>{0x10, 0x01, 0x00, 0x2C, 0x00, 0x00, 0x72, 0x4C}));
}

TEST(Frame, WriteFrameLayout) {
    const std::vector<uint8_t> sector = Pattern(512, 0x31);
    const std::vector<uint8_t> f = Bytes(BuildFrameBytes(0x29, 0x00, 0x05, sector.data(), 530, 512));
    ASSERT_EQ(f.size(), 538u);
    std::vector<uint8_t> head{0x10, 0x01, 0x29, 0x00, 0x05, 0x01, 0xAA, 0x06, 0x10, 0x08};
    head.insert(head.end(), sector.begin(), sector.end());
    head.resize(10 + 526);  // the sector, then zeros
    EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 536), head);
    // The block's CRC (high byte first) starts afresh at the block.
    EXPECT_EQ(Crc16(f.data() + 8, 530), 0);
}

TEST(Frame, WriteBeforeMountAndOversizedSectorsStayInTheBlock) {
    // Before the medium is mounted the worker's sector size is 0: all zeros.
    const std::vector<uint8_t> sector = Pattern(600, 0x55);
    std::string f = BuildFrameBytes(0x29, 0, 1, sector.data(), 530, 0);
    ASSERT_EQ(f.size(), 538u);
    EXPECT_EQ(f.find_first_not_of('\0', 10), 536u);
    // A sector size above the block's payload is cut to 526 bytes.
    f = BuildFrameBytes(0x29, 0, 1, sector.data(), 530, 600);
    ASSERT_EQ(f.size(), 538u);
    EXPECT_EQ(std::memcmp(f.data() + 10, sector.data(), 526), 0);
    // No buffer: zeros, never a read through a null pointer.
    f = BuildFrameBytes(0x29, 0, 1, nullptr, 530, 512);
    EXPECT_EQ(f.find_first_not_of('\0', 10), 536u);
}

TEST(Frame, DataBlockOfTheDevice) {
    const std::vector<uint8_t> payload = Pattern(528, 0x10);
    const std::vector<uint8_t> b = Bytes(BuildDataBlockBytes(payload.data()));
    ASSERT_EQ(b.size(), 532u);
    std::vector<uint8_t> body{0x10, 0x08};
    body.insert(body.end(), payload.begin(), payload.end());
    EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 530), body);
    EXPECT_EQ(Crc16(b.data(), b.size()), 0);
}

TEST(Rx, AnswerSignalsOnceOnItsLastByte) {
    Probe p;
    const std::string a = BuildAnswerBytes(0, 0x2C, 0x77, 0);
    EXPECT_EQ(p.Feed(a), std::vector<size_t>{7});
    EXPECT_EQ(p.answers, 1);
    EXPECT_EQ(std::vector<uint8_t>(p.header, p.header + 3), (std::vector<uint8_t>{0, 0x2C, 0x77}));
    // The last byte is stored after the signal.
    EXPECT_EQ(Bytes(a.substr(2)), std::vector<uint8_t>(p.rx.AnswerHeader, p.rx.AnswerHeader + 6));
    EXPECT_EQ(p.rx.RxIndex, -1);
    EXPECT_EQ(p.rx.RxStatusBad, 0);
    EXPECT_FALSE(p.rx.RxDataFollows);
    // The same answer again signals again; the machine is between frames.
    EXPECT_EQ(p.Feed(a), std::vector<size_t>{7});
    EXPECT_EQ(p.answers, 2);
}

TEST(Rx, ReadAnswerSignalsOnTheDataBlock) {
    Probe p;
    const std::vector<uint8_t> payload = Pattern(528, 0x42);
    const std::string a = BuildAnswerBytes(0, 0, 0, 1);
    const std::string b = BuildDataBlockBytes(payload.data());
    EXPECT_TRUE(p.Feed(a).empty());
    EXPECT_TRUE(p.rx.RxDataFollows);
    EXPECT_EQ(p.Feed(b), std::vector<size_t>{531});
    ASSERT_EQ(p.answers, 1);
    EXPECT_EQ(p.payload, payload);
    EXPECT_EQ(Bytes(b.substr(530)), std::vector<uint8_t>(p.rx.AnswerData + 528, p.rx.AnswerData + 530));
    // A 0x10 inside the payload is ordinary data, a 0x10 0x01 too.
    std::vector<uint8_t> tricky(528, 0x10);
    tricky[1] = 0x01;
    tricky[101] = 0x08;
    EXPECT_TRUE(p.Feed(a).empty());
    EXPECT_EQ(p.Feed(BuildDataBlockBytes(tricky.data())), std::vector<size_t>{531});
    EXPECT_EQ(p.payload, tricky);
}

TEST(Rx, DataBlockWithoutAnnouncingAnswerIsNoBlock) {
    Probe p;
    std::vector<uint8_t> payload(528, 0x00);
    EXPECT_EQ(p.Feed(BuildAnswerBytes(0, 0, 0, 0)).size(), 1u);
    const std::string b = BuildDataBlockBytes(payload.data());
    EXPECT_TRUE(p.Feed(b.substr(0, 2)).empty());
    EXPECT_EQ(p.rx.RxIndex, -1);  // the 0x08 started nothing
    EXPECT_TRUE(p.Feed(b.substr(2)).empty());
    EXPECT_EQ(p.answers, 1);
    EXPECT_EQ(p.rx.RxIndex, -1);
    // An answer right after still gets through.
    EXPECT_EQ(p.Feed(BuildAnswerBytes(0, 5, 0, 0)).size(), 1u);
    EXPECT_EQ(p.header[1], 5);
}

TEST(Rx, AnyFlippedBitOfAnAnswerOrADataBlockPreventsTheSignal) {
    const std::vector<uint8_t> payload = Pattern(528, 0x99);
    const std::string announce = BuildAnswerBytes(0, 0, 0, 1);
    const struct {
        std::string before, frame;
    } frames[] = {{"", BuildAnswerBytes(0, 0x2C, 0, 0)}, {announce, BuildDataBlockBytes(payload.data())}};
    for (const auto& f : frames) {
        for (size_t bit = 0; bit < f.frame.size() * 8; ++bit) {
            Probe p;
            std::string bad = f.frame;
            bad[bit / 8] = static_cast<char>(bad[bit / 8] ^ (1 << (bit % 8)));
            ASSERT_TRUE(p.Feed(f.before + bad).empty() && p.answers == 0) << f.frame.size() << " bytes, bit " << bit;
        }
    }
}

TEST(Rx, TypeByteAloneStartsNothing) {
    Probe p;
    const std::string a = BuildAnswerBytes(0, 0x2C, 0, 0);
    // 0x01 without the 0x10: the body bytes are run through between frames.
    EXPECT_TRUE(p.Feed(a.substr(1)).empty());
    EXPECT_EQ(p.answers, 0);
    // 0x10, a cancelling byte, then 0x01: still nothing.
    EXPECT_TRUE(p.Feed(std::string("\x10\x33", 2) + a.substr(1)).empty());
    EXPECT_EQ(p.answers, 0);
    // Garbage before a whole answer does not hurt it.
    EXPECT_EQ(p.Feed(std::string("\x01\x55\x10\x10", 4) + a).size(), 1u);
}

TEST(Rx, CutOffFrameAbsorbsTheNextBytes) {
    Probe p;
    const std::vector<uint8_t> payload = Pattern(528, 0x07);
    EXPECT_TRUE(p.Feed(BuildAnswerBytes(0, 0, 0, 1)).empty());
    // The data block stops after 100 bytes; the next answer is counted into it.
    const std::string b = BuildDataBlockBytes(payload.data());
    EXPECT_TRUE(p.Feed(b.substr(0, 100)).empty());
    const std::string a = BuildAnswerBytes(0, 0, 0, 0);
    EXPECT_TRUE(p.Feed(a).empty());
    EXPECT_EQ(p.rx.RxIndex, 98 + 8);
    EXPECT_EQ(p.rx.RxLast, TRxMachine::DataBlockLast);
    // Once the body is full the machine is between frames again.
    std::string fill(TRxMachine::DataBlockLast + 1 - (98 + 8), '\0');
    EXPECT_TRUE(p.Feed(fill).empty());
    EXPECT_EQ(p.rx.RxIndex, -1);
    EXPECT_EQ(p.answers, 0);
    EXPECT_EQ(p.Feed(a).size(), 1u);
}

TEST(Rx, NonZeroStatusIsStoredButNotSignalled) {
    Probe p;
    EXPECT_TRUE(p.Feed(BuildAnswerBytes(3, 0x2C, 0, 0)).empty());
    EXPECT_EQ(p.answers, 0);
    EXPECT_EQ(std::vector<uint8_t>(p.rx.AnswerHeader, p.rx.AnswerHeader + 2), (std::vector<uint8_t>{3, 0x2C}));
    EXPECT_EQ(p.rx.RxStatusBad, 0xFF);
    // A read answer with a bad status: its data block does not signal either.
    const std::vector<uint8_t> payload = Pattern(528, 1);
    EXPECT_TRUE(p.Feed(BuildAnswerBytes(1, 0, 0, 1) + BuildDataBlockBytes(payload.data())).empty());
    EXPECT_EQ(p.answers, 0);
    EXPECT_EQ(p.rx.AnswerData[0], payload[0]);
}

TEST(Rx, StateBeforeAnyAnswerAndReset) {
    TRxMachine rx;
    EXPECT_EQ(rx.RxIndex, -1);
    EXPECT_EQ(rx.RxStatusBad, 0xFF);
    EXPECT_FALSE(rx.RxDataFollows);
    // No handler installed: the machine still reports the signal.
    const std::string a = BuildAnswerBytes(0, 1, 0, 0);
    for (size_t i = 0; i < 4; ++i) rx.Feed(static_cast<uint8_t>(a[i]));
    EXPECT_EQ(rx.RxIndex, 2);
    rx.Reset();
    EXPECT_EQ(rx.RxIndex, -1);
    EXPECT_FALSE(rx.RxDle);
    bool signalled = false;
    for (char c : a) signalled = rx.Feed(static_cast<uint8_t>(c)) || signalled;
    EXPECT_TRUE(signalled);
}
