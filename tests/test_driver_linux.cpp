// The driver against a device of the test's own on a pty (Linux only: the
// Windows tests can reach only zvt-sim, through wine's COM ports).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

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
