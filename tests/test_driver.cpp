// The driver's exchange against the simulated device over a pty. The test
// thread is the main thread: it runs the loop on which the port's receive
// handler parses the answers, while the exchanges run on other threads as
// they do on the worker.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "link/zvt_drv.h"
#include "tests/sim_process.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

struct Completions : TMessageTarget {
    void PostMsg(uint32_t, uintptr_t, intptr_t) override {}
};

// A driver on a pty served by the simulator.
struct Rig {
    TempDir dir;
    std::string image = dir.File("medium.img");
    TMainLoop loop;
    Completions window;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<TZVT_drv> drv;
    std::atomic<int> reads{0}, writes{0};

    explicit Rig(std::vector<std::string> simArgs = {}, bool open = true) {
        simArgs.insert(simArgs.begin(), {"--image", image});
        sim = std::make_unique<SimProcess>(simArgs);
        drv = std::make_unique<TZVT_drv>(&loop, &window);
        drv->OnReadSector = [this] { ++reads; };
        drv->OnWriteSector = [this] { ++writes; };
        drv->ComPort.SetPort(sim->PtyPath());
        if (open) drv->ComPort.Open();
    }
    ~Rig() {
        loop.Shutdown();
        drv.reset();
    }

    // Runs an exchange on another thread while this thread runs the loop.
    uint8_t Exchange(uint8_t cmd, uint16_t sector, void* buffer) {
        auto f = std::async(std::launch::async, [&] {
            return drv->Exchange(cmd, static_cast<uint8_t>(sector), static_cast<uint8_t>(sector >> 8), buffer);
        });
        while (f.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) loop.RunOnce(10);
        return f.get();
    }
};

std::vector<uint8_t> Pattern(uint16_t sector) {
    std::vector<uint8_t> s(512);
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>(sector * 7 + i * 13 + 1);
    return s;
}

void FillImage(const std::string& path, uint16_t sectors) {
    std::vector<uint8_t> img(2 * 1024 * 1024, 0);
    for (uint16_t s = 0; s < sectors; ++s) {
        auto p = Pattern(s);
        std::memcpy(img.data() + s * 512u, p.data(), 512);
    }
    WriteFileBytes(path, img);
}

}  // namespace

TEST(Driver, IdentifySetsMediumSizeAndWrongCodeLeavesIt) {
    {
        Rig rig;
        EXPECT_EQ(rig.drv->FMediumSize.load(), 0u);
        EXPECT_EQ(rig.Exchange(cmdIdentify, 0, nullptr), xrOk);
        EXPECT_EQ(rig.drv->FMediumSize.load(), 2097152u);
        EXPECT_EQ(rig.reads.load() + rig.writes.load(), 0);
    }
    {
        Rig rig({"--device-code", "0x2D"});
        EXPECT_EQ(rig.Exchange(cmdIdentify, 0, nullptr), xrWrongDevice);
        EXPECT_EQ(rig.drv->FMediumSize.load(), 0u);
    }
}

TEST(Driver, PortClosedAnswersAtOnceWithoutNotification) {
    Rig rig({}, false);
    uint8_t buf[528];
    EXPECT_EQ(rig.drv->Exchange(cmdReadSector, 0, 0, buf), xrPortClosed);
    EXPECT_EQ(rig.drv->Exchange(cmdWriteSector, 0, 0, buf), xrPortClosed);
    EXPECT_EQ(rig.reads.load() + rig.writes.load(), 0);
    EXPECT_EQ(rig.drv->FramesSent.load(), 0u);
}

TEST(Driver, SilentDeviceGetsTheFrameElevenTimes) {
    Rig rig({"--silent"});
    rig.drv->AnswerTimeoutMs = 100;  // the count matters here, not the device's 450 ms
    uint8_t buf[528];
    EXPECT_EQ(rig.Exchange(cmdReadSector, 3, buf), xrNoAnswer);
    EXPECT_EQ(rig.reads.load(), 11);
    EXPECT_EQ(rig.drv->FramesSent.load(), 11u);
    rig.sim->Stop();
    EXPECT_NE(rig.sim->Output().find("read 11"), std::string::npos) << rig.sim->Output();
}

TEST(Driver, CorruptedOrFailedAnswersCountAsSilence) {
    for (const char* fault : {"--p-corrupt", "--p-status"}) {
        Rig rig({fault, "1", "--seed", "7"});
        rig.drv->AnswerTimeoutMs = 100;
        rig.drv->QuietMs = 50;
        EXPECT_EQ(rig.Exchange(cmdIdentify, 0, nullptr), xrNoAnswer) << fault;
        EXPECT_EQ(rig.drv->FramesSent.load(), 11u) << fault;
        EXPECT_EQ(rig.drv->FMediumSize.load(), 0u) << fault;
    }
}

TEST(Driver, BusyWriteWaitsForTheDeviceAndPersists) {
    Rig rig({"--busy-ms", "200"});
    rig.drv->FBytesPerSector = 512;
    auto data = Pattern(77);
    EXPECT_EQ(rig.Exchange(cmdWriteSector, 77, data.data()), xrOk);
    EXPECT_EQ(rig.writes.load(), 1);
    // Acknowledged means stored: the image holds the sector now.
    const auto img = ReadFileBytes(rig.image);
    ASSERT_GE(img.size(), 78u * 512);
    EXPECT_EQ(std::vector<uint8_t>(img.begin() + 77 * 512, img.begin() + 78 * 512), data);
    std::vector<uint8_t> back(512);
    EXPECT_EQ(rig.Exchange(cmdReadSector, 77, back.data()), xrOk);
    EXPECT_EQ(back, data);
}

TEST(Driver, WriteWhoseDoneReportIsLostIsSentAgain) {
    // Every write is answered busy, then done 20 ms later; a third of the
    // answers are lost on the line, "done" reports included.
    Rig rig({"--busy-ms", "20", "--p-drop", "0.3", "--seed", "5"});
    rig.drv->FBytesPerSector = 512;
    rig.drv->AnswerTimeoutMs = 150;
    rig.drv->QuietMs = 100;
    int failed = 0;
    for (uint16_t s = 100; s < 116; ++s) {
        auto data = Pattern(s);
        if (rig.Exchange(cmdWriteSector, s, data.data()) != xrOk) ++failed;
    }
    EXPECT_EQ(failed, 0);
    const auto img = ReadFileBytes(rig.image);
    for (uint16_t s = 100; s < 116; ++s) EXPECT_EQ(0, std::memcmp(img.data() + s * 512u, Pattern(s).data(), 512)) << s;
}

TEST(Driver, ReadCopies528BytesUntilTheSectorSizeIsKnown) {
    Rig rig;
    FillImage(rig.image, 8);
    for (const size_t copied : {528u, 512u}) {
        SCOPED_TRACE(copied);
        if (copied == 512) rig.drv->FBytesPerSector = 512;
        std::vector<uint8_t> buf(600, 0xEE), want = Pattern(5);
        want.resize(copied, 0);  // the block's zero padding
        want.resize(buf.size(), 0xEE);
        EXPECT_EQ(rig.Exchange(cmdReadSector, 5, buf.data()), xrOk);
        EXPECT_EQ(buf, want);
    }
}

TEST(Driver, GateSerialisesExchangesOfTwoThreads) {
    Rig rig;
    FillImage(rig.image, 40);
    rig.drv->FBytesPerSector = 512;
    std::atomic<int> bad{0}, done{0};
    auto worker = [&](uint16_t first) {
        for (uint16_t s = first; s < first + 20; ++s) {
            std::vector<uint8_t> buf(512);
            const uint8_t r = rig.drv->Exchange(cmdReadSector, static_cast<uint8_t>(s), 0, buf.data());
            if (r != xrOk || buf != Pattern(s)) ++bad;
        }
        ++done;
    };
    std::thread a(worker, 0), b(worker, 20);
    rig.loop.RunUntil([&] { return done.load() == 2; }, 120000);
    a.join();
    b.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(TZVT_drv::ExchangeGate.load(), 0);
}

TEST(Driver, VanishedDeviceEndsTheExchangeAndLeavesTheGate) {
    Rig rig;
    rig.drv->FBytesPerSector = 512;
    rig.drv->AnswerTimeoutMs = 100;
    rig.drv->QuietMs = 50;
    auto data = Pattern(1);
    EXPECT_EQ(rig.Exchange(cmdWriteSector, 1, data.data()), xrOk);
    rig.sim.reset();  // killed: the pty's far end is gone
    const uint8_t r = rig.Exchange(cmdWriteSector, 2, data.data());
    EXPECT_TRUE(r == xrPortClosed || r == xrNoAnswer) << int(r);
    EXPECT_EQ(TZVT_drv::ExchangeGate.load(), 0);
}

TEST(Driver, LateAnswersNeverReachTheWrongRead) {
    Rig rig({"--p-late", "0.4", "--seed", "11"});
    FillImage(rig.image, 24);
    rig.drv->FBytesPerSector = 512;
    int wrong = 0;
    for (uint16_t s = 0; s < 24; ++s) {
        std::vector<uint8_t> buf(512);
        const uint8_t r = rig.Exchange(cmdReadSector, s, buf.data());
        ASSERT_EQ(r, xrOk) << s;
        if (buf != Pattern(s)) ++wrong;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(rig.drv->QuietWaits.load(), 0u);  // the fault did strike
}

TEST(Driver, DestroyingTheDriverMidExchangeStopsTheWorker) {
    Rig rig({"--silent"});
    rig.drv->PostRequest(opInit, nullptr);
    ASSERT_TRUE(rig.loop.RunUntil([&] { return rig.drv->FramesSent.load() > 0; }, 10000));
    // The worker sits in an exchange that would resend for seconds; freeing
    // the driver wakes it, stops it and closes the port.
    rig.loop.Shutdown();
    rig.drv.reset();
    EXPECT_EQ(TZVT_drv::ExchangeGate.load(), 0);
}
