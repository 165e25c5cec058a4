// The serial port on Windows: the control block and time-outs built from
// the settings, and the port itself on a COM port that wine maps to
// zvt-sim's pty. Under wine a pty takes any rate without applying it, so
// nothing here looks at rates on the line.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/sync.h"
#include "link/cport.h"
#include "link/cport_win.h"
#include "link/zvt_frame.h"
#include "tests/sim_process.h"

namespace skarvel {
namespace {

using test::SimProcess;

// Upper bound for things that happen "soon"; never a timing assertion.
constexpr int kPatienceMs = 5000;

std::string IdentifyCommand() { return BuildFrameBytes(0x9F, 0, 0, nullptr, 0, 0); }
std::string IdentifyAnswer() { return BuildAnswerBytes(0, 0x2C, 0, 0); }

// Collects what OnRxChar hands over, reading it one byte at a time as the
// driver's receive side may.
struct TReceiver {
    explicit TReceiver(TComPort& port) {
        port.OnRxChar = [this](TComPort* sender, int count) {
            counts.push_back(count);
            for (int i = 0; i < count; ++i) {
                char c;
                if (sender->Read(&c, 1) == 1) bytes.push_back(c);
            }
        };
    }
    std::vector<int> counts;
    std::string bytes;
};

// ---------------------------------------------------------------- the control block

TEST(ComPortDcb, DefaultsGiveBinaryModeAlone) {
    const DCB d = detail::MakeDcb(TLineSettings{});
    EXPECT_EQ(d.DCBlength, 28u);
    EXPECT_EQ(d.BaudRate, 9600u);
    EXPECT_EQ(d.fBinary, 1u);
    EXPECT_EQ(d.fParity + d.fOutxCtsFlow + d.fOutxDsrFlow + d.fDtrControl + d.fDsrSensitivity +
                  d.fTXContinueOnXoff + d.fOutX + d.fInX + d.fErrorChar + d.fNull + d.fRtsControl + d.fAbortOnError,
              0u);
    EXPECT_EQ(d.XonLim, 256);
    EXPECT_EQ(d.XoffLim, 256);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.Parity, NOPARITY);
    EXPECT_EQ(d.StopBits, ONESTOPBIT);
    EXPECT_EQ(d.XonChar, 0x11);
    EXPECT_EQ(d.XoffChar, 0x13);
    EXPECT_EQ(d.ErrorChar, 0);
    EXPECT_EQ(d.EofChar, 0);
    EXPECT_EQ(d.EvtChar, 0);
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
        TLineSettings s;
        s.ParityCheck = c.check;
        s.ParityReplace = c.replace;
        s.ReplaceChar = '?';
        const DCB d = detail::MakeDcb(s);
        EXPECT_EQ(d.fParity, c.parity) << c.check << c.replace;
        EXPECT_EQ(d.fErrorChar, c.errorChar) << c.check << c.replace;
        EXPECT_EQ(d.ErrorChar, c.ch) << c.check << c.replace;
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
        EXPECT_EQ(d.XonLim, c.limit) << c.input;
        EXPECT_EQ(d.XoffLim, c.limit) << c.input;
    }
}

TEST(ComPortDcb, TimeoutsInTheirOrder) {
    const COMMTIMEOUTS c = detail::MakeCommTimeouts(TComTimeoutValues{});
    EXPECT_EQ(c.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(c.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(c.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(c.WriteTotalTimeoutMultiplier, 100u);
    EXPECT_EQ(c.WriteTotalTimeoutConstant, 1000u);
    const COMMTIMEOUTS d = detail::MakeCommTimeouts(TComTimeoutValues{1, 2, 3, 4, 5});
    EXPECT_EQ(d.ReadIntervalTimeout + d.ReadTotalTimeoutMultiplier * 10 + d.ReadTotalTimeoutConstant * 100 +
                  d.WriteTotalTimeoutMultiplier * 1000 + d.WriteTotalTimeoutConstant * 10000,
              54321u);
}

// ---------------------------------------------------------------- names and errors

TEST(ComPortNamesWin, DevicePaths) {
    EXPECT_EQ(ComDevicePath("COM2"), "\\\\.\\COM2");
    EXPECT_EQ(ComDevicePath("COM10"), "\\\\.\\COM10");
    EXPECT_EQ(ComDevicePath("\\\\.\\COM3"), "\\\\.\\COM3");
    EXPECT_EQ(ComDevicePath(""), "");
}

TEST(ComPortErrorsWin, MissingPortRaisesCode1WithTheWindowsError) {
    TMainLoop loop;
    TComPort port(&loop);
    port.SetPort("COM99");
    try {
        port.Open();
        FAIL() << "opened a missing port";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 1);
        EXPECT_EQ(e.WinCode(), ERROR_FILE_NOT_FOUND);
        EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 2)");
    }
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(port.EventThreadRunning());
    port.SetPort("");
    EXPECT_THROW(port.Open(), EComPort);
}

// ---------------------------------------------------------------- on zvt-sim

// A port on the COM port that wine maps to a fresh simulator's pty.
class ComPortWin : public ::testing::Test {
protected:
    void SetUp() override { port.SetPort(sim.PtyPath()); }

    // Sends an identify command; true once its answer has come in full.
    bool Identify() {
        const size_t before = rx.bytes.size();
        port.WriteString(IdentifyCommand());
        return loop.RunUntil([&] { return rx.bytes.size() >= before + 8; }, kPatienceMs) &&
               rx.bytes.substr(before) == IdentifyAnswer();
    }

    SimProcess sim;
    TMainLoop loop;
    TComPort port{&loop};
    TReceiver rx{port};
};

TEST_F(ComPortWin, OpenExchangeAndClose) {
    port.SetBaudRate(br115200);
    port.Open();
    EXPECT_TRUE(port.Connected());
    EXPECT_TRUE(port.EventThreadRunning());
    port.Open();  // already open: nothing happens
    char buf[4];
    EXPECT_EQ(port.Read(buf, 1), 0);  // an empty queue returns at once
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
    ASSERT_TRUE(loop.RunUntil([&] { return rx.bytes.size() >= 8; }, kPatienceMs));
    ASSERT_EQ(rx.bytes.substr(0, 8), BuildAnswerBytes(0, 0, 0, 0));

    rx.bytes.clear();
    rx.counts.clear();
    port.WriteString(BuildFrameBytes(0x80, 0, 9, nullptr, 0, 0));
    ASSERT_TRUE(loop.RunUntil([&] { return rx.bytes.size() >= 8 + 532; }, kPatienceMs));
    std::vector<uint8_t> payload(528, 0);
    std::copy(sector.begin(), sector.end(), payload.begin());
    EXPECT_EQ(rx.bytes.substr(8), BuildDataBlockBytes(payload.data()));
    // Each notification carried what was queued; all of it was read.
    int total = 0;
    for (int c : rx.counts) total += c;
    EXPECT_EQ(total, 8 + 532);
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
    try {
        port.SetCustomBaudRate(0);
        FAIL() << "a zero rate was accepted";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 7);
        EXPECT_EQ(e.WinCode(), ERROR_INVALID_PARAMETER);
    }
    EXPECT_TRUE(port.Connected());
    // ...and the line still works with the settings it has.
    port.SetCustomBaudRate(115200);
    EXPECT_TRUE(Identify());
}

TEST_F(ComPortWin, ZeroRateAtOpenLeavesThePortClosed) {
    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(0);
    EXPECT_THROW(port.Open(), EComPort);
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(port.EventThreadRunning());
    port.SetCustomBaudRate(9600);
    port.Open();
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
    try {
        port.WriteString(IdentifyCommand());
        FAIL() << "a write to a vanished line succeeded";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 2);
        EXPECT_NE(e.WinCode(), 0);
    }
    EXPECT_TRUE(port.Connected());
    port.Close();
    EXPECT_FALSE(port.Connected());
}

TEST_F(ComPortWin, WriteFailsAfterWriteTimeout) {
    port.Timeouts.SetWriteTotalMultiplier(0);
    port.Timeouts.SetWriteTotalConstant(20);
    port.Open();
    sim.Freeze();  // nobody reads the line: a megabyte cannot all be taken
    try {
        port.WriteString(std::string(1 << 20, 'x'));
        FAIL();
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 2);
        EXPECT_EQ(e.WinCode(), WAIT_TIMEOUT);
    }
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
        try {
            port.WriteString(std::string(1 << 20, 'y'));
        } catch (const EComPort& e) {
            code = e.Code();
        }
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
