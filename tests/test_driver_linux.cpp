// The driver against a device of the test's own on a pty (Linux only: the
// Windows tests can reach only zvt-sim, through wine's COM ports).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <ctime>
#include <optional>
#include <future>
#include <thread>
#include <vector>

#include "link/cport_linux.h"
#include "link/zvt_drv.h"

using namespace skarvel;

namespace {

struct Completions : TMessageTarget {
    void PostMsg(uint32_t, uintptr_t, intptr_t) override {}
};

}  // namespace

TEST(Driver, ReadAnsweredWithoutADataBlockIsNotTakenForData) {
    // A device of our own on a pty that answers every command with a bare
    // answer frame, as if the read's data block had been lost.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    std::atomic<bool> stop{false};
    std::thread device([&] {
        size_t got = 0;
        while (!stop) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            uint8_t buf[600];
            const ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) continue;
            for (got += static_cast<size_t>(n); got >= 8; got -= 8) {
                const std::string a = BuildAnswerBytes(0, 0, 0, 0);
                if (write(master, a.data(), a.size()) < 0) break;
            }
        }
    });

    TMainLoop loop;
    Completions window;
    {
        TZVT_drv drv(&loop, &window);
        drv.AnswerTimeoutMs = 60;
        drv.QuietMs = 20;
        drv.FBytesPerSector = 512;
        drv.ComPort.SetPort(ptsname(master));
        drv.ComPort.Open();
        std::vector<uint8_t> buf(512, 0xEE);
        auto f = std::async(std::launch::async, [&] { return drv.Exchange(cmdReadSector, 9, 0, buf.data()); });
        while (f.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) loop.RunOnce(10);
        EXPECT_EQ(f.get(), xrNoAnswer);
        EXPECT_EQ(buf, std::vector<uint8_t>(512, 0xEE));
        loop.Shutdown();
    }
    stop = true;
    device.join();
    close(master);
}

namespace {

// A pty whose far end the test writes: the device of a program that ran
// before, whose answers may still be in the line.
struct StaleLine {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    StaleLine() {
        EXPECT_GE(master, 0);
        EXPECT_EQ(grantpt(master), 0);
        EXPECT_EQ(unlockpt(master), 0);
    }
    ~StaleLine() { close(master); }
    void Send(const std::string& bytes) { EXPECT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }
};

std::string ReadAnswer(uint8_t fill) {
    const std::vector<uint8_t> payload(RecvPayloadLen, fill);
    return BuildAnswerBytes(0, 0, 0, 1) + BuildDataBlockBytes(payload.data());
}

}  // namespace

// On a quiet line the first command after an open waits the quiet time, on
// the driver's clock, and not the limit; the next one does not wait at all.
// A byte that arrives during the wait starts the quiet time again.
TEST(Driver, OpenSettlesForTheQuietTimeOfTheLine) {
    for (const bool byteArrives : {false, true}) {
        SCOPED_TRACE(byteArrives ? "a late answer comes 400 ms after the open" : "quiet line");
        StaleLine line;
        TMainLoop loop;
        Completions window;
        TZVT_drv drv(&loop, &window);
        std::atomic<uint64_t> now{10'000};
        drv.NowMs = [&] { return now.load(); };
        bool sent = false;
        drv.PauseMs = [&](unsigned ms) {
            now += ms;
            if (!byteArrives || sent || now < 10'400) return;
            sent = true;
            line.Send(ReadAnswer(0xAA));
            // The receive side runs on the loop; the pause lasts until it has the bytes.
            while (drv.LastRxMs() < 10'400) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
        drv.ComPort.SetPort(ptsname(line.master));
        drv.ComPort.Open();
        EXPECT_TRUE(drv.LineUnsettled());
        EXPECT_FALSE(drv.OwesAnswer());  // nothing sent yet: a close need not wait
        auto settle = std::async(std::launch::async, [&] { return drv.SettleLine(); });
        while (settle.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) loop.RunOnce(5);
        EXPECT_TRUE(settle.get());
        EXPECT_EQ(now.load() - 10'000, byteArrives ? 1400u : 1000u);
        EXPECT_FALSE(drv.LineUnsettled());
        const uint64_t after = now.load();
        EXPECT_FALSE(drv.SettleLine());
        EXPECT_EQ(now.load(), after);
        loop.Shutdown();
    }
}

// Answers a program before this one was owed: one already waiting in the
// line when the port opens, one that arrives just after. Neither is taken
// for the answer to the first read.
TEST(Driver, AnswersWaitingOrArrivingAtTheOpenAreNeverTaken) {
    StaleLine line;
    line.Send(ReadAnswer(0xAA));  // queued before the open (the slave is not open yet)
    std::atomic<bool> stop{false}, opened{false};
    std::thread device([&] {
        while (!opened) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        line.Send(ReadAnswer(0xBB));  // late, right after the open
        size_t got = 0;
        while (!stop) {
            pollfd p{line.master, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            uint8_t buf[600];
            const ssize_t n = read(line.master, buf, sizeof buf);
            if (n <= 0) continue;
            for (got += static_cast<size_t>(n); got >= 8; got -= 8) line.Send(ReadAnswer(0x5A));
        }
    });
    TMainLoop loop;
    Completions window;
    {
        TZVT_drv drv(&loop, &window);
        drv.QuietMs = 200;
        drv.FBytesPerSector = 512;
        drv.ComPort.SetPort(ptsname(line.master));
        drv.ComPort.Open();
        opened = true;
        std::vector<uint8_t> buf(512, 0xEE);
        auto f = std::async(std::launch::async, [&] { return drv.Exchange(cmdReadSector, 9, 0, buf.data()); });
        while (f.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) loop.RunOnce(10);
        EXPECT_EQ(f.get(), xrOk);
        EXPECT_EQ(buf, std::vector<uint8_t>(512, 0x5A));
        loop.Shutdown();
    }
    stop = true;
    device.join();
}

// The tty layer keeps the time of the last write only to its 8-second slot:
// the write may lie anywhere in that slot, so the line counts as unwritten
// only from the slot's end.
TEST(Driver, LineUnwrittenCountsFromTheEndOfTheStampsSlot) {
    const struct {
        int64_t StampSec, NowMs;
        uint64_t Unwritten;
    } cases[] = {
        {800, 800'000, 0},        // written in this slot
        {803, 807'999, 0},        // the slot 800-807 has not ended
        {807, 808'000, 0},
        {800, 810'500, 2'500},
        {805, 868'000, 60'000},
        {900, 800'000, 0},        // the clock went back: no telling
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.StampSec << " s, now " << c.NowMs << " ms");
        EXPECT_EQ(detail::UnwrittenSinceStamp(c.StampSec, c.NowMs), c.Unwritten);
    }
}

// A line nobody has written to for a minute owes no program an answer: the
// first command goes out at once. One written a moment ago settles first,
// and so does one so slow that a command written a minute ago could still
// be on the wire.
TEST(Driver, OpenOnALineLeftAloneNeedsNoQuietTime) {
    const struct {
        const char* Name;
        bool LeftAlone;
        int32_t Rate;
        bool Settles;
    } cases[] = {
        {"left alone for a minute", true, 9600, false},
        {"written a moment ago", false, 9600, true},
        {"left alone for a minute at 75 baud", true, 75, true},
    };
    for (const auto& c : cases) {
        const bool leftAlone = c.LeftAlone;
        SCOPED_TRACE(c.Name);
        StaleLine line;
        const char* path = ptsname(line.master);
        if (leftAlone) {
            const timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) - 60, 0}};
            ASSERT_EQ(utimensat(AT_FDCWD, path, times, 0), 0);
        } else {
            const int fd = open(path, O_RDWR | O_NOCTTY);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(write(fd, "x", 1), 1);
            close(fd);
        }
        TMainLoop loop;
        Completions window;
        TZVT_drv drv(&loop, &window);
        drv.ComPort.SetPort(path);
        drv.ComPort.SetBaudRate(brCustom);
        drv.ComPort.SetCustomBaudRate(c.Rate);
        drv.ComPort.Open();
        EXPECT_EQ(drv.LineUnsettled(), c.Settles);
        if (leftAlone) EXPECT_GE(drv.ComPort.UnwrittenMs().value_or(0), 50'000u);
        else EXPECT_EQ(drv.ComPort.UnwrittenMs(), std::optional<uint64_t>(0));
        loop.Shutdown();
    }
}
