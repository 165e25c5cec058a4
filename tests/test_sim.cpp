// zvt-sim over its pty, spoken to with real frames.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "link/zvt_frame.h"
#include "tests/sim_process_linux.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

constexpr int AnswerMs = 2000;   // generous: only reached when something is wrong
constexpr int AbsenceMs = 300;   // how long "no answer" is watched for
const std::string Ok = BuildAnswerBytes(0, 0, 0, 0);
const std::string IdentifyAnswer = BuildAnswerBytes(0, 0x2C, 0, 0);

std::string Identify() { return BuildFrameBytes(0x9F, 0, 0, nullptr, 0, 0); }
std::string ReadCmd(uint16_t sector) {
    return BuildFrameBytes(0x80, static_cast<uint8_t>(sector >> 8), static_cast<uint8_t>(sector), nullptr, 0, 0);
}
std::string WriteCmd(uint16_t sector, const std::vector<uint8_t>& data) {
    return BuildFrameBytes(0x29, static_cast<uint8_t>(sector >> 8), static_cast<uint8_t>(sector), data.data(),
                           530, 512);
}

std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

bool CrcOk(const std::string& frame) {
    return Crc16(reinterpret_cast<const uint8_t*>(frame.data()), frame.size()) == 0;
}

// Runs bytes through the PC's receive machine; Feed counts the answers.
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

// A simulator on an image in a scratch folder, and the PC's end of its line.
class Sim : public testing::Test {
protected:
    RawPty& Start(std::vector<std::string> args = {}, const std::string& img = {}) {
        args.insert(args.begin(), {"--image", img.empty() ? image : img});
        pty.reset();
        sim.reset();
        sim = std::make_unique<SimProcess>(args);
        pty = std::make_unique<RawPty>(sim->PtyPath());
        return *pty;
    }
    std::vector<uint8_t> ImageSector(uint32_t s, const std::string& img = {}) {
        const std::vector<uint8_t> all = ReadFileBytes(img.empty() ? image : img);
        if (all.size() < (s + 1) * 512ull) return {};
        return {all.begin() + s * 512, all.begin() + (s + 1) * 512};
    }
    TempDir dir;
    const std::string image = dir.File("zvt.img");
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<RawPty> pty;
};

}  // namespace

TEST_F(Sim, IdentifyAnswersTheDeviceCode) {
    Start().Write(Identify());
    const std::string got = pty->Read(8, AnswerMs);
    EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.end()),
              (std::vector<uint8_t>{0x10, 0x01, 0x00, 0x2C, 0x00, 0x00, 0x72, 0x4C}));

    Start({"--device-code", "0x33"}).Write(Identify());
    PcSide pc;
    EXPECT_EQ(pc.Feed(pty->Read(8, AnswerMs)), 1);
    EXPECT_EQ(pc.rx.AnswerHeader[1], 0x33);
}

TEST_F(Sim, ReadsTheImageAndWritesThrough) {
    const std::vector<uint8_t> content = Pattern(0x200000, 7);
    WriteFileBytes(image, content);
    RawPty& port = Start();
    EXPECT_EQ(ReadSector(port, 0x0123), std::vector<uint8_t>(content.begin() + 291 * 512, content.begin() + 292 * 512));

    const std::vector<uint8_t> data = Pattern(512, 99);
    port.Write(WriteCmd(5, data));
    EXPECT_EQ(port.Read(8, AnswerMs), Ok);
    // In the file as soon as it is acknowledged, and nothing else changed.
    std::vector<uint8_t> expected = content;
    std::copy(data.begin(), data.end(), expected.begin() + 5 * 512);
    EXPECT_TRUE(ReadFileBytes(image) == expected);
    EXPECT_EQ(ReadSector(port, 5), data);

    // A killed simulator has lost no acknowledged sector.
    const std::vector<uint8_t> last = Pattern(512, 100);
    port.Write(WriteCmd(4095, last));
    EXPECT_EQ(port.Read(8, AnswerMs), Ok);
    sim->Kill();
    EXPECT_EQ(ImageSector(4095), last);
}

TEST_F(Sim, MediumSizeComesFromTheImage) {
    // A missing image becomes 2 MiB of zeros.
    EXPECT_EQ(ReadSector(Start(), 4095), std::vector<uint8_t>(512, 0));
    pty->Write(ReadCmd(4096));
    PcSide pc;
    EXPECT_EQ(pc.Feed(pty->Read(8, AnswerMs)), 0);
    EXPECT_NE(pc.rx.AnswerHeader[0], 0);
    EXPECT_FALSE(pc.rx.RxDataFollows);
    sim->Stop();
    EXPECT_EQ(std::filesystem::file_size(image), 0x200000u);

    // A 64 KiB image is a medium of 128 sectors; writes beyond it are refused.
    const std::string small = dir.File("small.img");
    WriteFileBytes(small, Pattern(0x10000, 3));
    EXPECT_EQ(ReadSector(Start({}, small), 127), ImageSector(127, small));
    pty->Write(WriteCmd(128, Pattern(512, 4)) + ReadCmd(0xFFFF));
    const std::string got = pty->Read(16, AnswerMs);
    ASSERT_EQ(got.size(), 16u);
    EXPECT_TRUE(CrcOk(got.substr(0, 8)));
    EXPECT_NE(got[2], 0);
    EXPECT_NE(got[10], 0);
    EXPECT_EQ(std::filesystem::file_size(small), 0x10000u);
}

TEST_F(Sim, BrokenFramesGetNoAnswerAndStoreNothing) {
    std::string cmd = Identify();
    cmd[7] ^= 0x40;
    std::string write = WriteCmd(9, Pattern(512, 5));
    write[300] ^= 0x01;  // a bad CRC inside the data block
    Start().Write(cmd + write);
    EXPECT_EQ(pty->ReadFor(AbsenceMs), "");
    // Garbage, a lone 0x01 and stray 0x10s do not keep the next frame from an answer.
    pty->Write(std::string("\x01\x55\x10\x10\x99", 5) + Identify());
    EXPECT_EQ(pty->Read(8, AnswerMs), IdentifyAnswer);
    // A write cut off inside its data block; without the pause rule the
    // identify that follows would be swallowed as the block's remainder.
    pty->Write(WriteCmd(3, Pattern(512, 6)).substr(0, 100));
    usleep(250 * 1000);
    pty->Write(Identify());
    EXPECT_EQ(pty->Read(8, AnswerMs), IdentifyAnswer);
    EXPECT_EQ(ImageSector(9), std::vector<uint8_t>(512, 0));
    EXPECT_EQ(ImageSector(3), std::vector<uint8_t>(512, 0));
}

TEST_F(Sim, BusyWriteReportsAgainWhenDone) {
    Start({"--busy-ms", "50"}).Write(WriteCmd(1, Pattern(512, 8)));
    EXPECT_EQ(pty->Read(16, AnswerMs), BuildAnswerBytes(0, 1, 0, 0) + Ok);
    EXPECT_EQ(ReadSector(*pty, 1), Pattern(512, 8));
}

TEST_F(Sim, PacedLineCarriesWholeSectors) {
    const std::vector<uint8_t> data = Pattern(512, 11);
    Start({"--baud", "115200"}).Write(WriteCmd(77, data) + ReadCmd(77));
    EXPECT_EQ(pty->Read(8, AnswerMs), Ok);
    PcSide pc;
    EXPECT_EQ(pc.Feed(pty->Read(AnswerFrameLen + RecvDataBlockLen, AnswerMs)), 1);
    EXPECT_EQ(pc.Sector(), data);
}

TEST_F(Sim, SilenceAndDropsStillStoreWrites) {
    for (const char* fault : {"--silent", "--p-drop=1"}) {
        const std::string img = dir.File(std::string(fault) + ".img");
        Start({fault}, img).Write(WriteCmd(2, Pattern(512, 12)) + Identify());
        EXPECT_EQ(pty->ReadFor(AbsenceMs), "") << fault;
        EXPECT_EQ(ImageSector(2, img), Pattern(512, 12)) << fault;
    }
}

TEST_F(Sim, CorruptAndStatusAnswersAreRejectedByThePc) {
    Start({"--p-corrupt", "1"}).Write(WriteCmd(6, Pattern(512, 13)));
    const std::string answer = pty->Read(8, AnswerMs);
    ASSERT_EQ(answer.size(), 8u);
    EXPECT_FALSE(CrcOk(answer));
    EXPECT_EQ(ImageSector(6), Pattern(512, 13));
    pty->Write(ReadCmd(6));
    EXPECT_EQ(PcSide().Feed(pty->Read(AnswerFrameLen + RecvDataBlockLen, 500)), 0);

    Start({"--p-status", "1"}).Write(Identify() + ReadCmd(6));
    const std::string got = pty->Read(16, AnswerMs);
    ASSERT_EQ(got.size(), 16u);
    EXPECT_EQ(PcSide().Feed(got), 0);
    EXPECT_NE(got[2], 0);
    EXPECT_NE(got[10], 0);
    EXPECT_TRUE(CrcOk(got.substr(8)));
}

TEST_F(Sim, SameSeedSameFaultsAndLateAnswersArrive) {
    auto run = [this] {
        Start({"--seed", "42", "--p-corrupt", "0.5", "--p-status", "0.3"});
        std::string all;
        for (int i = 0; i < 24; ++i) {
            pty->Write(Identify());
            all += pty->Read(8, AnswerMs);
        }
        return all;
    };
    const std::string a = run();
    ASSERT_EQ(a.size(), 24u * 8);
    EXPECT_EQ(run(), a);
    int intact = 0;
    for (size_t i = 0; i < a.size(); i += 8) intact += PcSide().Feed(a.substr(i, 8));
    EXPECT_GT(intact, 0);
    EXPECT_LT(intact, 24);

    Start({"--p-late", "1"}).Write(Identify());
    EXPECT_EQ(pty->Read(8, AnswerMs), IdentifyAnswer);
}

TEST_F(Sim, StopPrintsTheCounts) {
    std::string bad = Identify();
    bad[6] ^= 1;
    Start().Write(bad + Identify() + ReadCmd(1) + WriteCmd(1, Pattern(512, 1)) +
                  BuildFrameBytes(0x55, 0, 0, nullptr, 0, 0));
    EXPECT_EQ(pty->Read(8 + 540 + 8 + 8, AnswerMs).size(), 564u);
    EXPECT_EQ(sim->Stop(), 0);
    EXPECT_EQ(sim->Output(), "identify 1, read 1, write 1, other 1, bad-crc 1\n");
}

TEST_F(Sim, PortMayBeClosedAndReopenedThroughItsLink) {
    const std::string link = dir.File("zvt0");
    ASSERT_EQ(symlink("/nonexistent/old-port", link.c_str()), 0);  // an old link is replaced
    SimProcess linked({"--link", link});
    for (int open = 0; open < 2; ++open) {
        RawPty port(link);
        port.Write(Identify());
        EXPECT_EQ(port.Read(8, AnswerMs), IdentifyAnswer) << open;
    }
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), linked.PtyPath());
    linked.Signal(SIGINT);
    EXPECT_EQ(linked.Stop(), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST_F(Sim, HelpAndErrors) {
    SimRun help = RunSimToExit({"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_NE(help.Output.find("--busy-ms"), std::string::npos);

    WriteFileBytes(dir.File("tiny.img"), std::vector<uint8_t>(100, 1));
    WriteFileBytes(dir.File("file"), std::vector<uint8_t>(1, 1));
    const std::vector<std::vector<std::string>> bad{
        {"--frobnicate"},           {"--p-drop", "1.5"}, {"--device-code", "256"},
        {"--baud", "0"},            {"--busy-ms"},       {"--image", dir.Path()},
        {"--image", dir.File("tiny.img")}, {"--link", dir.File("file")}, {"--device", dir.File("file")},
    };
    for (const auto& args : bad) {
        SimRun r = RunSimToExit(args);
        EXPECT_EQ(r.ExitCode, 2) << args[0] << ": " << r.Output;
        EXPECT_NE(r.Output.find("zvt-sim: "), std::string::npos) << r.Output;
    }
    // One image serves one simulator at a time.
    Start();
    SimRun second = RunSimToExit({"--image", image});
    EXPECT_EQ(second.ExitCode, 2) << second.Output;
    // The small image and the plain file are untouched.
    EXPECT_EQ(ReadFileBytes(dir.File("tiny.img")), std::vector<uint8_t>(100, 1));
    EXPECT_EQ(ReadFileBytes(dir.File("file")), std::vector<uint8_t>(1, 1));
}
