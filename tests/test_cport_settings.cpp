// What the serial port does alike on every platform: its settings, their
// defaults, the flow-control summary, and its error messages.
#include <gtest/gtest.h>

#include <vector>

#include "core/sync.h"
#include "link/cport.h"
#include "tests/com_failure.h"

namespace skarvel {
namespace {

using test::ComFailure;
using test::FailureOf;

TEST(ComPortErrors, MessagesCarryTheSystemError) {
    EXPECT_STREQ(EComPort(CE_OPEN_FAILED, 2).what(), "Unable to open com port (win error code: 2)");
    EXPECT_STREQ(EComPort(CE_INVALID_ASYNC, -1).what(), "Invalid Async parameter");
}

TEST(ComPortErrors, ClosedPortRefusesIo) {
    TMainLoop loop;
    TComPort port(&loop);
    char c = 0;
    const ComFailure write = FailureOf([&] { port.WriteString("x"); });
    EXPECT_EQ(write.Code, CE_WRITE_FAILED);
    EXPECT_EQ(write.WinCode, ComErrorClosed);
    EXPECT_EQ(FailureOf([&] { port.Read(&c, 1); }).Code, CE_READ_FAILED);
    EXPECT_EQ(port.WriteString(""), 0);  // nothing to write is no failure
    port.Close();                       // closing a closed port does nothing
}

// COM99 is missing on both systems (/dev/ttyS98 on Linux); the system's
// "no such file" is 2 on both.
TEST(ComPortErrors, MissingPortRaisesCode1AndStaysClosed) {
    TMainLoop loop;
    TComPort port(&loop);
    port.SetPort("COM99");
    EXPECT_EQ(FailureOf([&] { port.Open(); }),
              (ComFailure{CE_OPEN_FAILED, 2, "Unable to open com port (win error code: 2)"}));
    EXPECT_FALSE(port.Connected());
    EXPECT_FALSE(port.EventThreadRunning());
    port.SetPort("");  // an empty name opens nothing either
    EXPECT_THROW(port.Open(), EComPort);
    EXPECT_FALSE(port.Connected());
}

// ---------------------------------------------------------------- settings

TEST(ComPortSettings, DefaultsAndStoredValues) {
    TMainLoop loop;
    TComPort port(&loop);
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.Events(), AllComEvents);
    EXPECT_EQ(port.Timeouts.ReadInterval(), -1);
    EXPECT_EQ(port.Timeouts.WriteTotalMultiplier(), 100);
    EXPECT_EQ(port.Timeouts.WriteTotalConstant(), 1000);
    EXPECT_EQ(port.FlowControl.FlowControl(), fcNone);

    port.Buffer.SetInputSize(4097);  // odd sizes are kept even
    EXPECT_EQ(port.Buffer.InputSize(), 4096);

    EXPECT_EQ(BaudRateValue(br115200), 115200u);
    EXPECT_EQ(BaudRateValue(br14400), 14400u);
    EXPECT_EQ(BaudRateValue(br256000), 256000u);
    EXPECT_EQ(BaudRateValue(brCustom), 0u);
}

TEST(ComPortSettings, FlowControlSummary) {
    TMainLoop loop;
    TComPort port(&loop);
    TComFlowControl& fc = port.FlowControl;
    fc.SetControlDTR(dtrEnable);

    fc.SetFlowControl(fcHardware);
    EXPECT_EQ(fc.ControlRTS(), rtsHandshake);
    EXPECT_TRUE(fc.OutCTSFlow());
    EXPECT_EQ(fc.FlowControl(), fcHardware);

    fc.SetFlowControl(fcNone);
    EXPECT_EQ(fc.ControlRTS(), rtsDisable);
    EXPECT_FALSE(fc.OutCTSFlow());
    EXPECT_EQ(fc.FlowControl(), fcNone);

    fc.SetFlowControl(fcSoftware);
    EXPECT_TRUE(fc.XonXoffIn() && fc.XonXoffOut());
    EXPECT_EQ(fc.FlowControl(), fcSoftware);

    fc.SetFlowControl(fcHardware);  // leaves no XON/XOFF behind
    EXPECT_FALSE(fc.XonXoffIn() || fc.XonXoffOut());
    EXPECT_EQ(fc.FlowControl(), fcHardware);

    fc.SetFlowControl(fcCustom);  // changes nothing
    EXPECT_EQ(fc.FlowControl(), fcHardware);

    fc.SetXonXoffOut(true);  // a mix is "custom"
    EXPECT_EQ(fc.FlowControl(), fcCustom);

    EXPECT_EQ(fc.ControlDTR(), dtrEnable);  // never touched by the summary
}

// Each setter lands in its own field of what the platform's line applies.
TEST(ComPortSettings, LineSettingsCarryEverySetting) {
    TMainLoop loop;
    TComPort port(&loop);
    TLineSettings s = port.LineSettings();
    EXPECT_EQ(s.BaudRate, 9600u);
    EXPECT_EQ(s.DataBits, dbEight);
    EXPECT_EQ(s.StopBits, sbOneStopBit);
    EXPECT_EQ(s.Parity, prNone);
    EXPECT_EQ(s.InputSize, 1024);
    EXPECT_FALSE(s.ParityCheck || s.ParityReplace || s.DSRSensitivity || s.TxContinueOnXoff || s.DiscardNull);

    port.SetBaudRate(brCustom);
    port.SetCustomBaudRate(250000);
    port.SetDataBits(dbSeven);
    port.SetStopBits(sbOne5StopBits);
    port.SetDiscardNull(true);
    port.SetEventChar(0x0D);
    port.Parity.SetBits(prMark);
    port.Parity.SetCheck(true);
    port.Parity.SetReplace(true);
    port.Parity.SetReplaceChar('?');
    port.FlowControl.SetOutDSRFlow(true);
    port.FlowControl.SetControlDTR(dtrHandshake);
    port.FlowControl.SetControlRTS(rtsToggle);
    port.FlowControl.SetDSRSensitivity(true);
    port.FlowControl.SetTxContinueOnXoff(true);
    port.FlowControl.SetXonChar(0x01);
    port.FlowControl.SetXoffChar(0x02);
    port.Buffer.SetInputSize(4096);
    s = port.LineSettings();
    EXPECT_EQ(s.BaudRate, 250000u);
    EXPECT_EQ(s.DataBits, dbSeven);
    EXPECT_EQ(s.StopBits, sbOne5StopBits);
    EXPECT_EQ(s.Parity, prMark);
    EXPECT_EQ(s.ControlDTR, dtrHandshake);
    EXPECT_EQ(s.ControlRTS, rtsToggle);
    EXPECT_EQ(s.InputSize, 4096);
    EXPECT_TRUE(s.DiscardNull && s.ParityCheck && s.ParityReplace && s.OutDSRFlow && s.DSRSensitivity &&
                s.TxContinueOnXoff);
    EXPECT_EQ((std::vector<uint8_t>{s.EventChar, s.ReplaceChar, s.XonChar, s.XoffChar}),
              (std::vector<uint8_t>{0x0D, '?', 0x01, 0x02}));
}

}  // namespace
}  // namespace skarvel
