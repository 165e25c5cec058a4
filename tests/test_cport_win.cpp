// The serial port on Windows: the control block and time-outs built from
// the settings, and the port itself on a COM port that wine maps to
// zvt-sim's pty. Under wine a pty takes any rate without applying it, so
// nothing here looks at rates on the line.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "core/sync.h"
#include "link/cport.h"
#include "link/cport_win.h"
#include "link/zvt_frame.h"
#include "tests/com_failure.h"
#include "tests/sim_process.h"

namespace skarvel {
namespace {

using test::ComFailure;
using test::FailureOf;
using test::SimProcess;

// Upper bound for things that happen "soon"; never a timing assertion.
constexpr int kPatienceMs = 5000;

std::string IdentifyCommand() { return BuildFrameBytes(0x9F, 0, 0, nullptr, 0, 0); }
std::string IdentifyAnswer() { return BuildAnswerBytes(0, 0x2C, 0, 0); }

// ---------------------------------------------------------------- the control block

TEST(ComPortDcb, DefaultsGiveBinaryModeAlone) {
    // Every field not named here is zero: no flow control, no parity check.
    DCB expected{};
    expected.DCBlength = 28;
    expected.BaudRate = 9600;
    expected.fBinary = 1;
    expected.XonLim = expected.XoffLim = 256;
    expected.ByteSize = 8;
    expected.Parity = NOPARITY;
    expected.StopBits = ONESTOPBIT;
    expected.XonChar = 0x11;
    expected.XoffChar = 0x13;
    const DCB d = detail::MakeDcb(TLineSettings{});
    EXPECT_EQ(std::memcmp(&d, &expected, sizeof d), 0);
}

TEST(ComPortDcb, FramingValues) {
    TLineSettings s;
    const BYTE sizes[] = {5, 6, 7, 8};
    for (int bits = dbFive; bits <= dbEight; ++bits) {
        s.DataBits = static_cast<TDataBits>(bits);
        EXPECT_EQ(detail::MakeDcb(s).ByteSize, sizes[bits]);
    }
    const BYTE parities[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
    for (int p = prNone; p <= prSpace; ++p) {
        s.Parity = static_cast<TParityBits>(p);
        EXPECT_EQ(detail::MakeDcb(s).Parity, parities[p]);
    }
    const BYTE stops[] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};
    for (int b = sbOneStopBit; b <= sbTwoStopBits; ++b) {
        s.StopBits = static_cast<TStopBits>(b);
        EXPECT_EQ(detail::MakeDcb(s).StopBits, stops[b]);
    }
    s.BaudRate = 250000;
    EXPECT_EQ(detail::MakeDcb(s).BaudRate, 250000u);
}

TEST(ComPortDcb, FlowControlFields) {
    const DWORD dtr[] = {DTR_CONTROL_DISABLE, DTR_CONTROL_ENABLE, DTR_CONTROL_HANDSHAKE};
    const DWORD rts[] = {RTS_CONTROL_DISABLE, RTS_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE, RTS_CONTROL_TOGGLE};
    TLineSettings s;
    for (int v = dtrDisable; v <= dtrHandshake; ++v) {
        s.ControlDTR = static_cast<TDTRFlowControl>(v);
        EXPECT_EQ(detail::MakeDcb(s).fDtrControl, dtr[v]);
    }
    for (int v = rtsDisable; v <= rtsToggle; ++v) {
        s.ControlRTS = static_cast<TRTSFlowControl>(v);
        EXPECT_EQ(detail::MakeDcb(s).fRtsControl, rts[v]);
    }
    s = TLineSettings{};
    s.OutCTSFlow = s.OutDSRFlow = s.XonXoffOut = s.XonXoffIn = true;
    s.DSRSensitivity = s.TxContinueOnXoff = s.DiscardNull = true;
    s.XonChar = 0x01;
    s.XoffChar = 0x02;
    s.EventChar = 0x0D;
    const DCB d = detail::MakeDcb(s);
    EXPECT_EQ(d.fOutxCtsFlow + d.fOutxDsrFlow + d.fOutX + d.fInX + d.fDsrSensitivity + d.fTXContinueOnXoff + d.fNull,
              7u);
    EXPECT_EQ(d.XonChar, 0x01);
    EXPECT_EQ(d.XoffChar, 0x02);
    EXPECT_EQ(d.EvtChar, 0x0D);
}

TEST(ComPortDcb, ReplacementCharacterNeedsCheckAndReplace) {
    const struct {
        bool check, replace;
        DWORD parity, errorChar;
        char ch;
    } cases[] = {
        {false, false, 0, 0, 0},
        {true, false, 1, 0, 0},
        {false, true, 0, 0, 0},
        {true, true, 1, 1, '?'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.check << c.replace);
        TLineSettings s;
        s.ParityCheck = c.check;
        s.ParityReplace = c.replace;
        s.ReplaceChar = '?';
        const DCB d = detail::MakeDcb(s);
        EXPECT_EQ(d.fParity, c.parity);
        EXPECT_EQ(d.fErrorChar, c.errorChar);
        EXPECT_EQ(d.ErrorChar, c.ch);
    }
}

TEST(ComPortDcb, XonXoffLimitsAreAQuarterOfTheInputQueue) {
    const struct {
        int32_t input;
        WORD limit;
    } cases[] = {{1024, 256}, {4096, 1024}, {6, 1}, {0, 0}, {1 << 20, 0xFFFF}};
    for (const auto& c : cases) {
        TLineSettings s;
        s.InputSize = c.input;
        const DCB d = detail::MakeDcb(s);
        EXPECT_EQ(std::make_pair(d.XonLim, d.XoffLim), std::make_pair(c.limit, c.limit)) << c.input;
    }
}

TEST(ComPortDcb, TimeoutsInTheirOrder) {
    const COMMTIMEOUTS defaults{MAXDWORD, 0, 0, 100, 1000}, given{1, 2, 3, 4, 5};
    const COMMTIMEOUTS c = detail::MakeCommTimeouts(TComTimeoutValues{});
    const COMMTIMEOUTS d = detail::MakeCommTimeouts(TComTimeoutValues{1, 2, 3, 4, 5});
    EXPECT_EQ(std::memcmp(&c, &defaults, sizeof c), 0);
    EXPECT_EQ(std::memcmp(&d, &given, sizeof d), 0);
}

// ---------------------------------------------------------------- names

TEST(ComPortNamesWin, DevicePaths) {
    EXPECT_EQ(ComDevicePath("COM2"), "\\\\.\\COM2");
    EXPECT_EQ(ComDevicePath("COM10"), "\\\\.\\COM10");
    EXPECT_EQ(ComDevicePath("\\\\.\\COM3"), "\\\\.\\COM3");
    EXPECT_EQ(ComDevicePath(""), "");
}

// ---------------------------------------------------------------- on zvt-sim

// A port on the COM port that wine maps to a fresh simulator's pty.
class ComPortWin : public ::testing::Test {
protected:
    // Collects what OnRxChar hands over, reading it one byte at a time as the
    // driver's receive side may.
    void SetUp() override {
        port.SetPort(sim.PtyPath());
        port.OnRxChar = [this](TComPort* sender, int count) {
            counts.push_back(count);
            for (char c; count > 0 && sender->Read(&c, 1) == 1; --count) rx.push_back(c);
        };
    }

    // Sends an identify command; true once its answer has come in full.
    bool Identify() {
        const size_t before = rx.size();
        port.WriteString(IdentifyCommand());
        return loop.RunUntil([&] { return rx.size() >= before + 8; }, kPatienceMs) &&
               rx.substr(before) == IdentifyAnswer();
    }

    SimProcess sim;
    TMainLoop loop;
    TComPort port{&loop};
    std::vector<int> counts;
    std::string rx;
};

TEST_F(ComPortWin, OpenExchangeAndClose) {
    // A rate no line can run at fails the open and leaves the port closed.
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(0);
    EXPECT_THROW(port.Open(), EComPort);
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(port.EventThreadRunning());
    port.SetBaudRate(br115200);
    port.Open();
    EXPECT_TRUE(port.Connected());
    EXPECT_TRUE(port.EventThreadRunning());
    port.Open();  // already open: nothing happens
    char c;
    EXPECT_EQ(port.Read(&c, 1), 0);  // an empty queue returns at once
    EXPECT_EQ(port.QueuedInputCount(), 0);
    const TModemSignals m = port.ModemSignals();
    EXPECT_FALSE(m.CTS || m.DSR || m.Ring || m.RLSD);
    EXPECT_TRUE(Identify());

    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(port.EventThreadRunning());
    port.Open();  // and again
    EXPECT_TRUE(Identify());
}

TEST_F(ComPortWin, SectorGoesOutAndComesBackByteForByte) {
    port.Open();
    // Every byte value, XON and XOFF, CR, LF and Ctrl-Z among them: nothing
    // may be translated or swallowed on the way.
    std::vector<uint8_t> sector(512);
    for (size_t i = 0; i < sector.size(); ++i) sector[i] = static_cast<uint8_t>(i * 7 + 0x11);
    port.WriteString(BuildFrameBytes(0x29, 0, 9, sector.data(), 530, 512));
    ASSERT_TRUE(loop.RunUntil([&] { return rx.size() >= 8; }, kPatienceMs));
    ASSERT_EQ(rx.substr(0, 8), BuildAnswerBytes(0, 0, 0, 0));

    rx.clear();
    counts.clear();
    port.WriteString(BuildFrameBytes(0x80, 0, 9, nullptr, 0, 0));
    ASSERT_TRUE(loop.RunUntil([&] { return rx.size() >= 8 + 532; }, kPatienceMs));
    sector.resize(528);
    EXPECT_EQ(rx.substr(8), BuildDataBlockBytes(sector.data()));
    // Each notification carried what was queued; all of it was read.
    EXPECT_EQ(std::accumulate(counts.begin(), counts.end(), 0), 8 + 532);
}

TEST_F(ComPortWin, SettingsApplyWhileOpenAndBeginChangeDefers) {
    port.Open();
    port.SetStopBits(sbTwoStopBits);
    port.FlowControl.SetFlowControl(fcSoftware);
    port.FlowControl.SetFlowControl(fcNone);
    port.Buffer.SetInputSize(4096);
    port.Timeouts.SetWriteTotalConstant(2000);
    port.BeginChange();
    port.SetStopBits(sbOneStopBit);
    port.SetBaudRate(br57600);
    port.EndChange();
    // A zero rate is refused with code 7 and the port stays open...
    port.SetBaudRate(brCustom);
    const ComFailure f = FailureOf([&] { port.SetCustomBaudRate(0); });
    EXPECT_EQ(f.Code, CE_SETSTATE_FAILED);
    EXPECT_EQ(f.WinCode, ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(port.Connected());
    // ...and the line still works with the settings it has.
    port.SetCustomBaudRate(115200);
    EXPECT_TRUE(Identify());
}

TEST_F(ComPortWin, ChangingPortWhileOpenReopens) {
    SimProcess other;
    port.Open();
    port.SetPort(other.PtyPath());
    EXPECT_TRUE(port.Connected());
    EXPECT_TRUE(port.EventThreadRunning());
    EXPECT_TRUE(Identify());
    other.Stop();
    EXPECT_NE(other.Output().find("identify 1"), std::string::npos) << other.Output();
    sim.Stop();
    EXPECT_EQ(sim.Output().find("identify 1"), std::string::npos) << sim.Output();
}

TEST_F(ComPortWin, DeviceGoneFailsWritesAndEndsEventThread) {
    port.Open();
    ASSERT_TRUE(port.EventThreadRunning());
    sim.Kill();
    ASSERT_TRUE(loop.RunUntil([&] { return !port.EventThreadRunning(); }, kPatienceMs));
    const ComFailure f = FailureOf([&] { port.WriteString(IdentifyCommand()); });
    EXPECT_EQ(f.Code, CE_WRITE_FAILED);
    EXPECT_NE(f.WinCode, 0);
    EXPECT_TRUE(port.Connected());
    port.Close();
    EXPECT_FALSE(port.Connected());
}

TEST_F(ComPortWin, WriteFailsAfterWriteTimeout) {
    port.Timeouts.SetWriteTotalMultiplier(0);
    port.Timeouts.SetWriteTotalConstant(20);
    port.Open();
    sim.Freeze();  // nobody reads the line: a megabyte cannot all be taken
    const ComFailure f = FailureOf([&] { port.WriteString(std::string(1 << 20, 'x')); });
    EXPECT_EQ(f.Code, CE_WRITE_FAILED);
    EXPECT_EQ(f.WinCode, WAIT_TIMEOUT);
    EXPECT_TRUE(port.Connected());
    sim.Thaw();
}

TEST_F(ComPortWin, CloseEndsWriteInProgressOnWorker) {
    port.Open();  // default time-outs: a megabyte may take far longer than this test
    sim.Freeze();
    std::atomic<int> code{0};
    std::atomic<bool> started{false};
    std::thread worker([&] {
        started = true;
        code = FailureOf([&] { port.WriteString(std::string(1 << 20, 'y')); }).Code;
    });
    while (!started) SleepMs(1);
    SleepMs(50);  // lets the write get under way; the outcome is the same if it has not
    port.Close();
    worker.join();
    EXPECT_EQ(code.load(), 2);
    EXPECT_FALSE(port.Connected());
    sim.Thaw();
}

TEST_F(ComPortWin, CloseFromInsideOnRxChar) {
    int notifications = 0;
    port.OnRxChar = [&](TComPort* sender, int) {
        ++notifications;
        sender->Close();
    };
    port.Open();
    port.WriteString(IdentifyCommand());
    ASSERT_TRUE(loop.RunUntil([&] { return notifications > 0; }, kPatienceMs));
    EXPECT_FALSE(port.Connected());
    loop.RunFor(30);  // lets the event thread be joined
    EXPECT_EQ(notifications, 1);
    port.Open();
    EXPECT_TRUE(port.Connected());
}

}  // namespace
}  // namespace skarvel
