// zvt-sim over its pty, spoken to with real frames.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "link/zvt_frame.h"
#include "tests/sim_process_linux.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

constexpr int AnswerMs = 2000;   // generous: only reached when something is wrong
constexpr int AbsenceMs = 300;   // how long "no answer" is watched for

std::string Identify() { return BuildFrameBytes(0x9F, 0, 0, nullptr, 0, 0); }
std::string ReadCmd(uint16_t sector) {
    return BuildFrameBytes(0x80, static_cast<uint8_t>(sector >> 8), static_cast<uint8_t>(sector), nullptr, 0, 0);
}
std::string WriteCmd(uint16_t sector, const std::vector<uint8_t>& data) {
    return BuildFrameBytes(0x29, static_cast<uint8_t>(sector >> 8), static_cast<uint8_t>(sector), data.data(),
                           530, 512);
}

std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return v;
}

bool CrcOk(const std::string& frame) {
    return Crc16(reinterpret_cast<const uint8_t*>(frame.data()), frame.size()) == 0;
}

// Runs bytes through the PC's receive machine; true when they signal.
struct PcSide {
    TRxMachine rx;
    int answers = 0;
    PcSide() {
        rx.OnAnswer = [this](const TRxMachine&) { ++answers; };
    }
    int Feed(const std::string& s) {
        const int before = answers;
        for (char c : s) rx.Feed(static_cast<uint8_t>(c));
        return answers - before;
    }
    uint8_t Status() const { return rx.AnswerHeader[0]; }
    uint8_t Value() const { return rx.AnswerHeader[1]; }
    std::vector<uint8_t> Sector() const { return {rx.AnswerData, rx.AnswerData + 512}; }
};

// Reads sector s over the line; fails the test unless a valid answer comes.
std::vector<uint8_t> ReadSector(RawPty& pty, uint16_t s) {
    pty.Write(ReadCmd(s));
    const std::string got = pty.Read(AnswerFrameLen + RecvDataBlockLen, AnswerMs);
    PcSide pc;
    EXPECT_EQ(pc.Feed(got), 1) << "read of sector " << s << " got " << got.size() << " bytes";
    if (got.size() == AnswerFrameLen + RecvDataBlockLen) {
        for (size_t i = 2 + 512; i < 2 + 528; ++i) EXPECT_EQ(got[AnswerFrameLen + i], 0) << "tail byte " << i;
    }
    return pc.Sector();
}

std::vector<uint8_t> ImageSector(const std::string& path, uint32_t s) {
    const std::vector<uint8_t> all = ReadFileBytes(path);
    if (all.size() < (s + 1) * 512ull) return {};
    return {all.begin() + s * 512, all.begin() + (s + 1) * 512};
}

}  // namespace

TEST(SimProtocol, IdentifyAnswersTheDeviceCode) {
    SimProcess sim;
    RawPty pty(sim.PtyPath());
    pty.Write(Identify());
    const std::string got = pty.Read(8, AnswerMs);
    EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.end()),
              (std::vector<uint8_t>{0x10, 0x01, 0x00, 0x2C, 0x00, 0x00, 0x72, 0x4C}));

    SimProcess other({"--device-code", "0x33"});
    RawPty pty2(other.PtyPath());
    pty2.Write(Identify());
    PcSide pc;
    EXPECT_EQ(pc.Feed(pty2.Read(8, AnswerMs)), 1);
    EXPECT_EQ(pc.Value(), 0x33);
}

TEST(SimProtocol, ReadsTheImageAndWritesThrough) {
    TempDir dir;
    const std::string image = dir.File("zvt.img");
    std::vector<uint8_t> content = Pattern(0x200000, 7);
    WriteFileBytes(image, content);
    SimProcess sim({"--image", image});
    RawPty pty(sim.PtyPath());

    const std::vector<uint8_t> s291(content.begin() + 291 * 512, content.begin() + 292 * 512);
    EXPECT_EQ(ReadSector(pty, 0x0123), s291);

    const std::vector<uint8_t> data = Pattern(512, 99);
    pty.Write(WriteCmd(5, data));
    const std::string answer = pty.Read(8, AnswerMs);
    EXPECT_EQ(answer, BuildAnswerBytes(0, 0, 0, 0));
    // In the file as soon as it is acknowledged, and nothing else changed.
    std::vector<uint8_t> expected = content;
    std::copy(data.begin(), data.end(), expected.begin() + 5 * 512);
    EXPECT_TRUE(ReadFileBytes(image) == expected);
    EXPECT_EQ(ReadSector(pty, 5), data);

    // A killed simulator has lost no acknowledged sector.
    const std::vector<uint8_t> last = Pattern(512, 100);
    pty.Write(WriteCmd(4095, last));
    EXPECT_EQ(pty.Read(8, AnswerMs), BuildAnswerBytes(0, 0, 0, 0));
    sim.Kill();
    EXPECT_EQ(ImageSector(image, 4095), last);
}

TEST(SimProtocol, MediumSizeComesFromTheImage) {
    TempDir dir;
    // A missing image becomes 2 MiB of zeros.
    const std::string fresh = dir.File("fresh.img");
    {
        SimProcess sim({"--image", fresh});
        RawPty pty(sim.PtyPath());
        EXPECT_EQ(ReadSector(pty, 4095), std::vector<uint8_t>(512, 0));
        pty.Write(ReadCmd(4096));
        PcSide pc;
        EXPECT_EQ(pc.Feed(pty.Read(8, AnswerMs)), 0);
        EXPECT_NE(pc.Status(), 0);
        EXPECT_FALSE(pc.rx.RxDataFollows);
    }
    EXPECT_EQ(std::filesystem::file_size(fresh), 0x200000u);

    // A 64 KiB image is a medium of 128 sectors; writes beyond it are refused.
    const std::string small = dir.File("small.img");
    WriteFileBytes(small, Pattern(0x10000, 3));
    SimProcess sim({"--image", small});
    RawPty pty(sim.PtyPath());
    EXPECT_EQ(ReadSector(pty, 127), ImageSector(small, 127));
    pty.Write(WriteCmd(128, Pattern(512, 4)) + ReadCmd(0xFFFF));
    const std::string got = pty.Read(16, AnswerMs);
    ASSERT_EQ(got.size(), 16u);
    EXPECT_TRUE(CrcOk(got.substr(0, 8)));
    EXPECT_NE(got[2], 0);
    EXPECT_NE(got[10], 0);
    EXPECT_EQ(std::filesystem::file_size(small), 0x10000u);
}

TEST(SimProtocol, BadCrcGetsNoAnswerAndStoresNothing) {
    TempDir dir;
    const std::string image = dir.File("zvt.img");
    SimProcess sim({"--image", image});
    RawPty pty(sim.PtyPath());
    std::string cmd = Identify();
    cmd[7] ^= 0x40;
    std::string write = WriteCmd(9, Pattern(512, 5));
    write[300] ^= 0x01;  // inside the data block
    pty.Write(cmd + write);
    EXPECT_EQ(pty.ReadFor(AbsenceMs), "");
    EXPECT_EQ(ImageSector(image, 9), std::vector<uint8_t>(512, 0));
    // Garbage, a lone 0x01 and stray 0x10s do not keep the next frame from an answer.
    pty.Write(std::string("\x01\x55\x10\x10\x99", 5) + Identify());
    EXPECT_EQ(pty.Read(8, AnswerMs), BuildAnswerBytes(0, 0x2C, 0, 0));
}

TEST(SimProtocol, PartialFrameIsDroppedAfterAPause) {
    TempDir dir;
    const std::string image = dir.File("zvt.img");
    SimProcess sim({"--image", image});
    RawPty pty(sim.PtyPath());
    // A write cut off inside its data block; without the pause rule the
    // identify that follows would be swallowed as the block's remainder.
    pty.Write(WriteCmd(3, Pattern(512, 6)).substr(0, 100));
    usleep(250 * 1000);
    pty.Write(Identify());
    EXPECT_EQ(pty.Read(8, AnswerMs), BuildAnswerBytes(0, 0x2C, 0, 0));
    EXPECT_EQ(ImageSector(image, 3), std::vector<uint8_t>(512, 0));
}

TEST(SimProtocol, BusyWriteReportsAgainWhenDone) {
    SimProcess sim({"--busy-ms", "50"});
    RawPty pty(sim.PtyPath());
    pty.Write(WriteCmd(1, Pattern(512, 8)));
    const std::string got = pty.Read(16, AnswerMs);
    ASSERT_EQ(got.size(), 16u);
    EXPECT_EQ(got.substr(0, 8), BuildAnswerBytes(0, 1, 0, 0));
    EXPECT_EQ(got.substr(8), BuildAnswerBytes(0, 0, 0, 0));
    EXPECT_EQ(ReadSector(pty, 1), Pattern(512, 8));
}

TEST(SimProtocol, PacedLineCarriesWholeSectors) {
    SimProcess sim({"--baud", "115200"});
    RawPty pty(sim.PtyPath());
    const std::vector<uint8_t> data = Pattern(512, 11);
    pty.Write(WriteCmd(77, data) + ReadCmd(77));
    EXPECT_EQ(pty.Read(8, AnswerMs), BuildAnswerBytes(0, 0, 0, 0));
    PcSide pc;
    EXPECT_EQ(pc.Feed(pty.Read(AnswerFrameLen + RecvDataBlockLen, AnswerMs)), 1);
    EXPECT_EQ(pc.Sector(), data);
}

TEST(SimFaults, SilenceAndDropsStillStoreWrites) {
    for (const char* fault : {"--silent", "--p-drop=1"}) {
        TempDir dir;
        const std::string image = dir.File("zvt.img");
        SimProcess sim({"--image", image, fault});
        RawPty pty(sim.PtyPath());
        pty.Write(WriteCmd(2, Pattern(512, 12)) + Identify());
        EXPECT_EQ(pty.ReadFor(AbsenceMs), "") << fault;
        EXPECT_EQ(ImageSector(image, 2), Pattern(512, 12)) << fault;
    }
}

TEST(SimFaults, CorruptAndStatusAnswersAreRejectedByThePc) {
    TempDir dir;
    const std::string image = dir.File("zvt.img");
    {
        SimProcess sim({"--image", image, "--p-corrupt", "1"});
        RawPty pty(sim.PtyPath());
        pty.Write(WriteCmd(6, Pattern(512, 13)));
        const std::string answer = pty.Read(8, AnswerMs);
        ASSERT_EQ(answer.size(), 8u);
        EXPECT_FALSE(CrcOk(answer));
        EXPECT_EQ(ImageSector(image, 6), Pattern(512, 13));
        pty.Write(ReadCmd(6));
        PcSide pc;
        EXPECT_EQ(pc.Feed(pty.Read(AnswerFrameLen + RecvDataBlockLen, 500)), 0);
    }
    SimProcess sim({"--image", image, "--p-status", "1"});
    RawPty pty(sim.PtyPath());
    pty.Write(Identify() + ReadCmd(6));
    const std::string got = pty.Read(16, AnswerMs);
    ASSERT_EQ(got.size(), 16u);
    PcSide pc;
    EXPECT_EQ(pc.Feed(got), 0);
    EXPECT_NE(got[2], 0);
    EXPECT_NE(got[10], 0);
    EXPECT_TRUE(CrcOk(got.substr(8)));
}

TEST(SimFaults, SameSeedSameFaultsAndLateAnswersArrive) {
    auto run = [](const std::vector<std::string>& args) {
        SimProcess sim(args);
        RawPty pty(sim.PtyPath());
        std::string all;
        for (int i = 0; i < 24; ++i) {
            pty.Write(Identify());
            all += pty.Read(8, AnswerMs);
        }
        return all;
    };
    const std::vector<std::string> args{"--seed", "42", "--p-corrupt", "0.5", "--p-status", "0.3"};
    const std::string a = run(args);
    ASSERT_EQ(a.size(), 24u * 8);
    EXPECT_EQ(run(args), a);
    int intact = 0;
    for (size_t i = 0; i < a.size(); i += 8) intact += PcSide().Feed(a.substr(i, 8));
    EXPECT_GT(intact, 0);
    EXPECT_LT(intact, 24);

    SimProcess late({"--p-late", "1"});
    RawPty pty(late.PtyPath());
    pty.Write(Identify());
    EXPECT_EQ(pty.Read(8, AnswerMs), BuildAnswerBytes(0, 0x2C, 0, 0));
}

TEST(SimProcessControl, StopPrintsTheCounts) {
    SimProcess sim;
    RawPty pty(sim.PtyPath());
    std::string bad = Identify();
    bad[6] ^= 1;
    pty.Write(bad + Identify() + ReadCmd(1) + WriteCmd(1, Pattern(512, 1)) +
              BuildFrameBytes(0x55, 0, 0, nullptr, 0, 0));
    EXPECT_EQ(pty.Read(8 + 540 + 8 + 8, AnswerMs).size(), 564u);
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(sim.Output(), "identify 1, read 1, write 1, other 1, bad-crc 1\n");
}

TEST(SimProcessControl, PortMayBeClosedAndReopenedThroughItsLink) {
    TempDir dir;
    const std::string link = dir.File("zvt0");
    ASSERT_EQ(symlink("/nonexistent/old-pty", link.c_str()), 0);  // an old link is replaced
    SimProcess sim({"--link", link});
    {
        RawPty pty(link);
        pty.Write(Identify());
        EXPECT_EQ(pty.Read(8, AnswerMs), BuildAnswerBytes(0, 0x2C, 0, 0));
    }
    RawPty again(link);
    again.Write(Identify());
    EXPECT_EQ(again.Read(8, AnswerMs), BuildAnswerBytes(0, 0x2C, 0, 0));
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.PtyPath());
    sim.Signal(SIGINT);
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST(SimOptions, HelpAndErrors) {
    SimRun help = RunSimToExit({"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_NE(help.Output.find("--busy-ms"), std::string::npos);

    TempDir dir;
    WriteFileBytes(dir.File("tiny.img"), std::vector<uint8_t>(100, 1));
    WriteFileBytes(dir.File("file"), std::vector<uint8_t>(1, 1));
    const std::vector<std::vector<std::string>> bad{
        {"--frobnicate"},
        {"--p-drop", "1.5"},
        {"--device-code", "256"},
        {"--baud", "0"},
        {"--busy-ms"},
        {"--image", dir.Path()},
        {"--image", dir.File("tiny.img")},
        {"--link", dir.File("file")},
        {"--device", dir.File("file")},
    };
    for (const auto& args : bad) {
        SimRun r = RunSimToExit(args);
        EXPECT_EQ(r.ExitCode, 2) << args[0] << ": " << r.Output;
        EXPECT_NE(r.Output.find("zvt-sim: "), std::string::npos) << r.Output;
    }
    // One image serves one simulator at a time.
    const std::string image = dir.File("zvt.img");
    SimProcess first({"--image", image});
    SimRun second = RunSimToExit({"--image", image});
    EXPECT_EQ(second.ExitCode, 2) << second.Output;
    // The small image and the plain file are untouched.
    EXPECT_EQ(ReadFileBytes(dir.File("tiny.img")), std::vector<uint8_t>(100, 1));
    EXPECT_EQ(ReadFileBytes(dir.File("file")), std::vector<uint8_t>(1, 1));
}
