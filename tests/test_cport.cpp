// The serial port on Linux against a pseudo-terminal pair, its termios
// mapping, and the port enumeration against a fake sysfs tree.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/sync.h"
#include "link/cport.h"
#include "link/cport_linux.h"
#include "link/cport_termios2.h"
#include "link/port_enum.h"
#include "tests/com_failure.h"

namespace skarvel {
namespace {

using test::ComFailure;
using test::FailureOf;

// Upper bound for things that happen "soon"; never a timing assertion.
constexpr int kPatienceMs = 5000;

// A pty pair: the test plays the device on the master side, the port opens
// the slave by its path.
struct TPty {
    TPty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        const char* name = ptsname(master);
        if (name) slave = name;
    }
    ~TPty() { CloseMaster(); }
    bool Ok() const { return master >= 0 && !slave.empty(); }
    void CloseMaster() {
        if (master >= 0) ::close(master);
        master = -1;
    }
    void Send(const std::string& bytes) const {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads exactly n bytes from the master side (or what came within the patience).
    std::string Receive(size_t n) const {
        std::string out;
        const uint64_t end = SteadyMs() + kPatienceMs;
        while (out.size() < n && SteadyMs() < end) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            char buf[4096];
            const ssize_t got = ::read(master, buf, std::min(sizeof buf, n - out.size()));
            if (got > 0) out.append(buf, static_cast<size_t>(got));
        }
        return out;
    }
    // True when the master side reports data or a hang-up within the patience.
    bool MasterEvent(short events) const {
        pollfd p{master, events, 0};
        return ::poll(&p, 1, kPatienceMs) > 0 && (p.revents & (events | POLLHUP));
    }

    int master = -1;
    std::string slave;
};

// A second descriptor on the slave, opened before the port, to look at the
// line settings the port applied.
struct TSlaveView {
    explicit TSlaveView(const std::string& path) : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~TSlaveView() {
        if (fd >= 0) ::close(fd);
    }
    termios Get() const {
        termios t{};
        EXPECT_EQ(tcgetattr(fd, &t), 0);
        return t;
    }
    uint32_t Rate() const {
        uint32_t rate = 0;
        EXPECT_EQ(detail::GetTermiosRate(fd, rate), 0);
        return rate;
    }
    int fd;
};

// A main loop that says when a call has been posted to it (run only when
// the test runs the loop).
struct TSignallingLoop : TMainLoop {
    void Post(std::function<void()> fn) override {
        TMainLoop::Post(std::move(fn));
        Posted.Set();
    }
    TEvent Posted{true, false};
};

// Waits (without running any loop) until the port has n bytes queued.
bool WaitQueued(TComPort& port, int n) {
    const uint64_t end = SteadyMs() + kPatienceMs;
    while (port.QueuedInputCount() < n) {
        if (SteadyMs() >= end) return false;
        SleepMs(1);
    }
    return true;
}

// A port on the slave side of a fresh pty.
class ComPortPty : public ::testing::Test {
protected:
    void SetUp() override {
        if (!pty.Ok()) GTEST_SKIP() << "no pseudo-terminals here";
        port.SetPort(pty.slave);
    }
    TPty pty;
    TMainLoop loop;
    TComPort port{&loop};
};

// ---------------------------------------------------------------- names

TEST(ComPortNames, DevicePathMapping) {
    // COM numbers are the serial lines; anything else is an ordinary device name.
    const std::pair<const char*, const char*> cases[] = {
        {"COM1", "/dev/ttyS0"},      {"COM2", "/dev/ttyS1"}, {"com12", "/dev/ttyS11"}, {"/dev/pts/7", "/dev/pts/7"},
        {"ttyUSB0", "/dev/ttyUSB0"}, {"COM0", "/dev/COM0"},  {"COM", "/dev/COM"},      {"COM2x", "/dev/COM2x"},
        {"usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"},
        {"", ""}};
    for (const auto& [name, path] : cases) EXPECT_EQ(ComDevicePath(name), path) << name;
}

TEST(PortEnum, SamePort) {
    EXPECT_TRUE(SamePort("COM2", "ttyS1"));
    EXPECT_TRUE(SamePort("COM2", "/dev/ttyS1"));
    EXPECT_TRUE(SamePort("com2", "COM2"));
    EXPECT_TRUE(SamePort("ttyUSB0", "/dev/ttyUSB0"));
    EXPECT_FALSE(SamePort("COM2", "ttyS2"));
    EXPECT_FALSE(SamePort("ttyUSB0", "ttyusb0"));  // device names keep their case
    EXPECT_FALSE(SamePort("", ""));
}

TEST(PortEnum, ALinkAndItsDeviceAreOnePortWhileTheDeviceIsThere) {
    TPty pty, other;
    ASSERT_TRUE(pty.Ok() && other.Ok());
    char tmpl[] = "/tmp/skarvel-links-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl, link = dir + "/zvt-port", chain = dir + "/chain";
    ASSERT_EQ(symlink(pty.slave.c_str(), link.c_str()), 0);
    ASSERT_EQ(symlink(link.c_str(), chain.c_str()), 0);
    EXPECT_TRUE(SamePort(link, pty.slave));
    EXPECT_TRUE(SamePort(chain, pty.slave));
    EXPECT_FALSE(SamePort(link, other.slave));
    // A link whose device has gone names nothing that can be compared.
    pty.CloseMaster();
    std::filesystem::remove(link);
    EXPECT_FALSE(SamePort(chain, pty.slave));
    std::filesystem::remove_all(dir);
}

// ---------------------------------------------------------------- termios mapping

// One setting at a time on a line that another program left cooked: each
// lands in its own flags, and the line is raw whatever the settings.
TEST(ComPortTermios, SettingsMapToTheirFlagsOnARawLine) {
    const tcflag_t parity = PARENB | PARODD | CMSPAR;
    const struct {
        TLineSettings s;
        tcflag_t termios::*field;
        tcflag_t mask, want;
    } rows[] = {
        {{}, &termios::c_cflag, CSIZE | parity | CSTOPB | CRTSCTS | CLOCAL | CREAD, CS8 | CLOCAL | CREAD},
        {{}, &termios::c_iflag, IXON | IXOFF | INPCK, 0},
        {{.DataBits = dbFive}, &termios::c_cflag, CSIZE, CS5},
        {{.DataBits = dbSix}, &termios::c_cflag, CSIZE, CS6},
        {{.DataBits = dbSeven}, &termios::c_cflag, CSIZE, CS7},
        {{.Parity = prOdd}, &termios::c_cflag, parity, PARENB | PARODD},
        {{.Parity = prEven}, &termios::c_cflag, parity, PARENB},
        {{.Parity = prMark}, &termios::c_cflag, parity, PARENB | PARODD | CMSPAR},
        {{.Parity = prSpace}, &termios::c_cflag, parity, PARENB | CMSPAR},
        {{.Parity = prEven}, &termios::c_iflag, INPCK, 0},  // checked only when asked
        {{.Parity = prEven, .ParityCheck = true}, &termios::c_iflag, INPCK, INPCK},
        {{.StopBits = sbOne5StopBits}, &termios::c_cflag, CSTOPB, CSTOPB},  // termios has no 1.5: two
        {{.StopBits = sbTwoStopBits}, &termios::c_cflag, CSTOPB, CSTOPB},
        {{.OutCTSFlow = true, .ControlRTS = rtsHandshake}, &termios::c_cflag, CRTSCTS, CRTSCTS},
        {{.XonXoffOut = true, .XonXoffIn = true}, &termios::c_iflag, IXON | IXOFF, IXON | IXOFF},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(i);
        termios t{};
        t.c_iflag = ICRNL | IXON | IXOFF | INPCK | ISTRIP;
        t.c_oflag = OPOST;
        t.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
        t.c_cflag = CS6 | parity | CSTOPB | CRTSCTS;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 5;
        detail::FillTermios(t, rows[i].s);
        EXPECT_EQ(t.*rows[i].field & rows[i].mask, rows[i].want);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_iflag & (ICRNL | ISTRIP), 0u);
        EXPECT_EQ(t.c_cc[VMIN] + t.c_cc[VTIME], 0);
    }
}

TEST(ComPortTermios, FlowCharactersAndRates) {
    termios t{};
    detail::FillTermios(t, TLineSettings{.XonChar = 0x01, .XoffChar = 0x02});
    EXPECT_EQ(t.c_cc[VSTART], 0x01);
    EXPECT_EQ(t.c_cc[VSTOP], 0x02);
    EXPECT_EQ(detail::StandardSpeed(115200), static_cast<speed_t>(B115200));
    EXPECT_EQ(detail::StandardSpeed(110), static_cast<speed_t>(B110));
    for (uint32_t custom : {14400u, 56000u, 128000u, 256000u, 250000u})
        EXPECT_EQ(detail::StandardSpeed(custom), static_cast<speed_t>(B0)) << custom;
}

// ---------------------------------------------------------------- on a pty

TEST_F(ComPortPty, OpenCloseAndRawLine) {
    // A rate no line can run at: storing it on a closed port is no error...
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(0);
    port.SetStopBits(sbTwoStopBits);
    EXPECT_FALSE(port.Connected());
    // ...applying it at open is, and the port stays closed.
    EXPECT_EQ(FailureOf([&] { port.Open(); }).Code, CE_SETSTATE_FAILED);
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(port.EventThreadRunning());
    port.SetCustomBaudRate(250000);
    {
        TSlaveView view(pty.slave);
        port.Open();
        EXPECT_TRUE(port.Connected());
        EXPECT_TRUE(port.EventThreadRunning());
        port.Open();  // already open: nothing happens
        const termios t = view.Get();
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD | CSTOPB), static_cast<tcflag_t>(CLOCAL | CREAD | CSTOPB));
        EXPECT_EQ(view.Rate(), 250000u);
        // A read on an empty queue returns at once; a pty has no modem lines.
        char c;
        EXPECT_EQ(port.Read(&c, 1), 0);
        EXPECT_EQ(port.QueuedInputCount(), 0);
        const TModemSignals m = port.ModemSignals();
        EXPECT_FALSE(m.CTS || m.DSR || m.Ring || m.RLSD);
        port.Close();
        EXPECT_FALSE(port.Connected());
        EXPECT_FALSE(port.EventThreadRunning());
        port.Open();
        EXPECT_TRUE(port.Connected());
        port.Close();
    }
    // Every descriptor on the slave is gone now: the master sees the hang-up.
    EXPECT_TRUE(pty.MasterEvent(0));
}

TEST_F(ComPortPty, CloseDiscardsQueuedInput) {
    port.Open();
    pty.Send("stale");
    ASSERT_TRUE(WaitQueued(port, 5));
    port.Close();  // a pty keeps its input queue across a reopen unless flushed
    port.Open();
    EXPECT_EQ(port.QueuedInputCount(), 0);
}

TEST_F(ComPortPty, SettersReapplyWhileOpenAndBeginChangeDefers) {
    TSlaveView view(pty.slave);
    port.Open();
    EXPECT_FALSE(view.Get().c_cflag & CSTOPB);

    port.SetStopBits(sbTwoStopBits);
    EXPECT_TRUE(view.Get().c_cflag & CSTOPB);
    port.FlowControl.SetFlowControl(fcHardware);
    EXPECT_TRUE(view.Get().c_cflag & CRTSCTS);
    port.FlowControl.SetFlowControl(fcSoftware);
    EXPECT_FALSE(view.Get().c_cflag & CRTSCTS);
    EXPECT_TRUE(view.Get().c_iflag & IXON);
    port.FlowControl.SetXonChar(0x05);
    EXPECT_EQ(view.Get().c_cc[VSTART], 0x05);

    port.BeginChange();
    port.SetStopBits(sbOneStopBit);
    port.SetBaudRate(br128000);
    EXPECT_TRUE(view.Get().c_cflag & CSTOPB);  // held back until EndChange
    port.EndChange();
    EXPECT_FALSE(view.Get().c_cflag & CSTOPB);
    EXPECT_EQ(view.Rate(), 128000u);

    // Custom rates through termios2 and back to a fixed one.
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(250000);
    EXPECT_EQ(view.Rate(), 250000u);
    port.SetBaudRate(br256000);
    EXPECT_EQ(view.Rate(), 256000u);
    port.SetBaudRate(br57600);
    EXPECT_EQ(view.Rate(), 57600u);
    const termios fixed = view.Get();
    EXPECT_EQ(cfgetospeed(&fixed), static_cast<speed_t>(B57600));
    // A rejected setting on an open port raises code 7 and keeps it open.
    port.SetBaudRate(brCustom);
    EXPECT_EQ(FailureOf([&] { port.SetCustomBaudRate(-5); }).Code, CE_SETSTATE_FAILED);
    EXPECT_TRUE(port.Connected());
}

TEST_F(ComPortPty, WriteStringWritesExactlyTheBytes) {
    port.Open();
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
    bytes += "\r\n\x11\x13\x03\x04";  // nothing is translated or swallowed
    EXPECT_EQ(port.WriteString(bytes), static_cast<int>(bytes.size()));
    EXPECT_EQ(pty.Receive(bytes.size()), bytes);
    EXPECT_EQ(port.WriteString(""), 0);
}

TEST_F(ComPortPty, BytesArrivingTogetherGiveOneRxChar) {
    std::vector<int> counts;
    std::string got;
    port.OnRxChar = [&](TComPort* sender, int count) {
        EXPECT_EQ(sender, &port);
        EXPECT_TRUE(loop.IsCurrent());
        counts.push_back(count);
        for (int i = 0; i < count; ++i) {  // one byte at a time, as the driver reads
            char c;
            ASSERT_EQ(sender->Read(&c, 1), 1);
            got.push_back(c);
        }
    };
    port.Open();
    const std::string first("\x01\x02\x03\x00\xFF", 5);
    pty.Send(first);
    ASSERT_TRUE(WaitQueued(port, 5));
    ASSERT_TRUE(loop.RunUntil([&] { return got.size() >= 5; }, kPatienceMs));
    EXPECT_EQ(counts, std::vector<int>{5});
    // Later bytes give a further notification.
    pty.Send("ab");
    ASSERT_TRUE(loop.RunUntil([&] { return got.size() >= 7; }, kPatienceMs));
    EXPECT_EQ(got, first + "ab");
}

TEST_F(ComPortPty, ChangingPortWhileOpenReopens) {
    TPty b;
    ASSERT_TRUE(b.Ok());
    port.Open();
    port.SetPort(b.slave);
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(port.Port(), b.slave);
    EXPECT_TRUE(pty.MasterEvent(0));  // the first line was released
    EXPECT_EQ(port.WriteString("on b"), 4);
    EXPECT_EQ(b.Receive(4), "on b");
    EXPECT_TRUE(port.EventThreadRunning());

    // A name that cannot be opened leaves the port closed under the new name.
    EXPECT_THROW(port.SetPort("/dev/skarvel-no-such-port"), EComPort);
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Port(), "/dev/skarvel-no-such-port");
}

TEST_F(ComPortPty, FarEndClosingFailsWritesAndEndsEventThread) {
    int notifications = 0;
    port.OnRxChar = [&](TComPort*, int) { ++notifications; };
    port.Open();
    ASSERT_TRUE(port.EventThreadRunning());
    pty.CloseMaster();
    ASSERT_TRUE(loop.RunUntil([&] { return !port.EventThreadRunning(); }, kPatienceMs));
    const ComFailure f = FailureOf([&] { port.WriteString("lost"); });
    EXPECT_EQ(f.Code, CE_WRITE_FAILED);
    EXPECT_EQ(f.Text, "WriteFile function failed (win error code: " + std::to_string(f.WinCode) + ")");
    EXPECT_TRUE(port.Connected());
    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(notifications, 0);
}

TEST_F(ComPortPty, WriteFailsAfterWriteTimeout) {
    port.Timeouts.SetWriteTotalMultiplier(0);
    port.Timeouts.SetWriteTotalConstant(20);
    port.Open();
    // Nobody reads the master side: a megabyte cannot all be taken.
    const ComFailure f = FailureOf([&] { port.WriteString(std::string(1 << 20, 'x')); });
    EXPECT_EQ(f.Code, CE_WRITE_FAILED);
    EXPECT_EQ(f.WinCode, ETIMEDOUT);
    EXPECT_TRUE(port.Connected());
}

// Two programs on one line would take each other's answers. The holder's
// lock stops every later opener, root included (TIOCEXCL alone does not).
// Once closed, the port is free again for every user: the exclusive mode
// goes with it also while another descriptor keeps the tty open, as the
// simulator keeps its pty's slave.
TEST_F(ComPortPty, SecondOpenerIsBusyWhileTheFirstHoldsThePort) {
    TSlaveView held(pty.slave);
    ASSERT_GE(held.fd, 0);
    const auto exclusive = [&] {
        int on = -1;
        EXPECT_EQ(ioctl(held.fd, TIOCGEXCL, &on), 0);
        return on;
    };
    TComPort second(&loop);
    second.SetPort(pty.slave);
    port.Open();
    EXPECT_EQ(exclusive(), 1);
    pty.Send("held");
    ASSERT_TRUE(WaitQueued(port, 4));
    EXPECT_EQ(FailureOf([&] { second.Open(); }),
              (ComFailure{CE_OPEN_FAILED, EBUSY,
                          "Unable to open com port (win error code: " + std::to_string(EBUSY) + ")"}));
    EXPECT_FALSE(second.Connected());
    // The refused opener left the holder's line alone: its input is still
    // queued and its writes still go out.
    EXPECT_EQ(port.QueuedInputCount(), 4);
    EXPECT_EQ(port.WriteString("ok"), 2);
    EXPECT_EQ(pty.Receive(2), "ok");

    port.Close();
    EXPECT_EQ(exclusive(), 0);
    second.Open();
    EXPECT_TRUE(second.Connected());
    EXPECT_THROW(port.Open(), EComPort);  // and now the other way round
}

// Low-latency mode is asked for where the driver has it; a pty has none and
// is used as it is (the open above and every test here succeed on one).
TEST_F(ComPortPty, PortWithoutLowLatencyModeIsLeftAlone) {
    TSlaveView view(pty.slave);
    ASSERT_GE(view.fd, 0);
    const termios before = view.Get();
    EXPECT_FALSE(detail::RequestLowLatency(view.fd));
    const termios after = view.Get();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

TEST_F(ComPortPty, CloseEndsWriteInProgressOnWorker) {
    port.Open();  // default time-outs: a megabyte may take far longer than this test
    std::atomic<int> code{0};
    std::thread worker([&] { code = FailureOf([&] { port.WriteString(std::string(1 << 20, 'y')); }).Code; });
    ASSERT_TRUE(pty.MasterEvent(POLLIN));  // the write is under way
    port.Close();
    worker.join();
    EXPECT_EQ(code.load(), CE_WRITE_FAILED);
    EXPECT_FALSE(port.Connected());
}

TEST_F(ComPortPty, CloseWhileEventThreadWaitsForMainThread) {
    TSignallingLoop main;
    TComPort manual(&main);
    int notifications = 0;
    manual.OnRxChar = [&](TComPort*, int) { ++notifications; };
    manual.SetPort(pty.slave);
    manual.Open();
    pty.Send("z");
    // The event thread has handed the batch over and waits for this thread.
    ASSERT_EQ(main.Posted.Wait(kPatienceMs), TEvent::WaitResult::Signaled);
    manual.Close();  // must not wait for the hand-over
    EXPECT_FALSE(manual.Connected());
    main.RunOnce(0);  // the abandoned hand-over does nothing
    EXPECT_EQ(notifications, 0);
}

TEST_F(ComPortPty, CloseFromInsideOnRxChar) {
    int notifications = 0;
    port.OnRxChar = [&](TComPort* sender, int) {
        ++notifications;
        sender->Close();
    };
    port.Open();
    pty.Send("q");
    ASSERT_TRUE(loop.RunUntil([&] { return notifications > 0; }, kPatienceMs));
    EXPECT_FALSE(port.Connected());
    loop.RunFor(30);  // lets the event thread be joined
    EXPECT_EQ(notifications, 1);
    port.Open();  // and the port opens again
    EXPECT_TRUE(port.Connected());
}

TEST_F(ComPortPty, DestructorClosesOpenPort) {
    {
        TComPort other(&loop);
        other.SetPort(pty.slave);
        other.Open();
        pty.Send("unread");
        ASSERT_TRUE(WaitQueued(other, 6));
    }
    EXPECT_TRUE(pty.MasterEvent(0));
    loop.RunFor(10);  // a hand-over left behind is abandoned, not run
}

}  // namespace
}  // namespace skarvel
