// The port settings dialog on a port object (the port stays closed).
#include <gtest/gtest.h>

#include <QGroupBox>

#include "core/sync.h"
#include "ui/com_setup.h"

using namespace skarvel;

namespace {

// Replaces the system's port list for one test.
struct PortList {
    explicit PortList(std::vector<std::string> names) : saved(TComComboBox::PortLister) {
        TComComboBox::PortLister = [names](std::vector<std::string>& out) { out = names; };
    }
    ~PortList() { TComComboBox::PortLister = saved; }
    std::function<void(std::vector<std::string>&)> saved;
};

}  // namespace

TEST(PortDialog, TextsAndTheirFallbacks) {
    EXPECT_EQ(StrToBaudRate(QStringLiteral("115200")), br115200);
    EXPECT_EQ(StrToBaudRate(QStringLiteral("custom")), brCustom);
    EXPECT_EQ(StrToBaudRate(QStringLiteral("12345")), br9600);
    EXPECT_EQ(StrToDataBits(QStringLiteral("7")), dbSeven);
    EXPECT_EQ(StrToDataBits(QString()), dbEight);
    EXPECT_EQ(StrToStopBits(QStringLiteral("1.5")), sbOne5StopBits);
    EXPECT_EQ(StrToStopBits(QStringLiteral("3")), sbOneStopBit);
    EXPECT_EQ(StrToParity(QStringLiteral("EVEN")), prEven);
    EXPECT_EQ(StrToParity(QStringLiteral("x")), prNone);
    EXPECT_EQ(StrToFlowControl(QStringLiteral("hardware")), fcHardware);
    EXPECT_EQ(StrToFlowControl(QStringLiteral("?")), fcCustom);
}

TEST(PortDialog, ShowsTheCurrentSettingsHoweverThePortIsNamed) {
    TMainLoop loop;
    TComPort port(&loop);
    port.SetPort("COM2");
    port.SetBaudRate(br115200);
    port.Parity.SetBits(prOdd);

    {
        PortList ports({"ttyS0", "ttyS1"});
        TComSetupFrm form;
        for (auto* c : form.Combos()) c->SetComPort(&port);
        EXPECT_EQ(form.GroupBox1->title(), QStringLiteral(" Settings "));
        EXPECT_EQ(form.Combo1->count(), 2);
        QStringList shown;
        for (auto* c : form.Combos()) shown << c->currentText();
        EXPECT_EQ(shown, (QStringList{"ttyS1", "115200", "8", "1", "Odd", "None"}));
    }
    {
        port.SetPort("com2");
        PortList ports({"COM1", "COM10", "COM2"});
        TComSetupFrm form;
        form.Combo1->SetComPort(&port);
        EXPECT_EQ(form.Combo1->currentText(), QStringLiteral("COM2"));
        EXPECT_EQ(form.Combo1->Selected().Port, "COM2");
    }
    {
        // A port the system does not list (a pty of the simulator) is kept.
        port.SetPort("/dev/pts/7");
        PortList ports({"ttyS0"});
        RunSettingsDialog(&port, [](TComSetupFrm& f) {
            EXPECT_EQ(f.Combo1->currentText(), QStringLiteral("/dev/pts/7"));
            return int(QDialog::Accepted);
        });
        EXPECT_EQ(port.Port(), "/dev/pts/7");
        EXPECT_EQ(port.BaudRate(), br115200);
        EXPECT_EQ(port.Parity.Bits(), prOdd);
    }
}

TEST(PortDialog, OkAppliesAndCancelKeepsEverything) {
    TMainLoop loop;
    TComPort port(&loop);
    port.SetPort("ttyS1");
    port.SetBaudRate(br115200);
    PortList ports({"ttyS0", "ttyS1"});

    RunSettingsDialog(&port, [](TComSetupFrm& f) {
        f.Combo1->setCurrentIndex(0);
        f.Combo2->setCurrentText(QStringLiteral("9600"));
        f.Combo6->setCurrentText(QStringLiteral("Hardware"));
        return int(QDialog::Rejected);
    });
    EXPECT_EQ(port.Port(), "ttyS1");
    EXPECT_EQ(port.BaudRate(), br115200);
    EXPECT_EQ(port.FlowControl.FlowControl(), fcNone);

    RunSettingsDialog(&port, [](TComSetupFrm& f) {
        f.Combo1->setCurrentIndex(0);
        f.Combo2->setCurrentText(QStringLiteral("Custom"));
        f.Combo3->setCurrentText(QStringLiteral("7"));
        f.Combo4->setCurrentText(QStringLiteral("2"));
        f.Combo5->setCurrentText(QStringLiteral("Space"));
        f.Combo6->setCurrentText(QStringLiteral("Hardware"));
        return int(QDialog::Accepted);
    });
    EXPECT_EQ(port.Port(), "ttyS0");
    EXPECT_EQ(port.BaudRate(), brCustom);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
    EXPECT_EQ(port.DataBits(), dbSeven);
    EXPECT_EQ(port.StopBits(), sbTwoStopBits);
    EXPECT_EQ(port.Parity.Bits(), prSpace);
    EXPECT_EQ(port.FlowControl.ControlRTS(), rtsHandshake);
    EXPECT_TRUE(port.FlowControl.OutCTSFlow());

    RunSettingsDialog(&port, [](TComSetupFrm& f) {
        f.Combo6->setCurrentText(QStringLiteral("None"));
        return int(QDialog::Accepted);
    });
    EXPECT_NE(port.FlowControl.ControlRTS(), rtsHandshake);
    EXPECT_FALSE(port.FlowControl.OutCTSFlow());
    EXPECT_EQ(port.Port(), "ttyS0");
}

TEST(PortDialog, UnreadablePortListIsAnError) {
    TMainLoop loop;
    TComPort port(&loop);
    port.SetPort("COM2");
    const auto saved = TComComboBox::PortLister;
    TComComboBox::PortLister = [](std::vector<std::string>&) { throw EComPort(CE_REGISTRY, 2); };
    bool shown = false;
    try {
        RunSettingsDialog(&port, [&](TComSetupFrm&) {
            shown = true;
            return int(QDialog::Accepted);
        });
        ADD_FAILURE() << "no error";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), CE_REGISTRY);
        EXPECT_EQ(std::string(e.what()).rfind("Registry error", 0), 0u);
    }
    TComComboBox::PortLister = saved;
    EXPECT_FALSE(shown);
    EXPECT_EQ(port.Port(), "COM2");
}
