// The port settings dialog on a port object (the port stays closed).
#include <gtest/gtest.h>

#include <QGroupBox>

#include "core/sync.h"
#include "ui/com_setup.h"

using namespace skarvel;

namespace {

std::vector<TPortInfo> Named(const std::vector<std::string>& names) {
    std::vector<TPortInfo> ports;
    for (const std::string& n : names) {
        TPortInfo p;
        p.Name = n;
        p.Path = ComDevicePath(n);
        ports.push_back(p);
    }
    return ports;
}

// Replaces the system's port list for one test; Ports may change meanwhile.
struct PortList {
    PortList(std::initializer_list<const char*> names) : PortList(Named({names.begin(), names.end()})) {}
    explicit PortList(std::vector<TPortInfo> ports) : Ports(std::move(ports)), saved(TComComboBox::PortLister) {
        TComComboBox::PortLister = [this](std::vector<TPortInfo>& out) { out = Ports; };
    }
    ~PortList() { TComComboBox::PortLister = saved; }
    std::vector<TPortInfo> Ports;
    std::function<void(std::vector<TPortInfo>&)> saved;
};

// A USB adapter as udev describes it.
TPortInfo Adapter(const std::string& name, const std::string& model, const std::string& serial) {
    TPortInfo p = Named({name})[0];
    p.Usb = true;
    p.Vendor = "FTDI";
    p.Model = model;
    p.Serial = serial;
    p.Driver = "ftdi_sio";
    p.ById = "/dev/serial/by-id/usb-FTDI_" + model + "_" + serial + "-if00-port0";
    p.Links = {p.ById};
    return p;
}

QStringList Items(const QComboBox& c) {
    QStringList items;
    for (int i = 0; i < c.count(); ++i) items << c.itemText(i);
    return items;
}

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
    TComComboBox::PortLister = [](std::vector<TPortInfo>&) { throw EComPort(CE_REGISTRY, 2); };
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

TEST(PortDialog, PortsShowWhatTheyAreAndAnAdapterIsGivenItsStableName) {
    TMainLoop loop;
    TComPort port(&loop);
    port.SetPort("COM2");
    TPortInfo board = Named({"ttyS0"})[0];
    board.Driver = "serial8250";
    const TPortInfo adapter = Adapter("ttyUSB0", "FT232R USB UART", "A50285BI");
    PortList ports({board, adapter});

    EXPECT_TRUE(RunSettingsDialog(&port, [](TComSetupFrm& f) {
        EXPECT_EQ(Items(*f.Combo1), (QStringList{"ttyS0 — serial8250", "ttyUSB0 — FT232R USB UART (A50285BI)", "COM2"}));
        f.Combo1->setCurrentIndex(1);
        return int(QDialog::Accepted);
    }));
    EXPECT_EQ(port.Port(), adapter.ById);

    // The adapter's item shows however the port is named.
    for (const std::string& name : {adapter.ById, std::string("ttyUSB0"), std::string("/dev/ttyUSB0")}) {
        port.SetPort(name);
        EXPECT_FALSE(RunSettingsDialog(&port, [](TComSetupFrm& f) {
            EXPECT_EQ(f.Combo1->count(), 2);
            EXPECT_EQ(f.Combo1->currentIndex(), 1);
            return int(QDialog::Rejected);
        })) << name;
    }
}

TEST(PortDialog, TheListFollowsPortsThatComeAndGoAndKeepsTheChoice) {
    TMainLoop loop;
    TComPort port(&loop);
    port.SetPort("ttyS0");
    const TPortInfo adapter = Adapter("ttyUSB0", "FT232R USB UART", "A50285BI");
    PortList ports({Named({"ttyS0"})[0], adapter});
    TComSetupFrm form;
    for (auto* c : form.Combos()) c->SetComPort(&port);
    form.Combo1->setCurrentIndex(1);

    // Pulled: gone from the list, but still the choice.
    ports.Ports = Named({"ttyS0"});
    NotifyPortsChanged();
    EXPECT_EQ(Items(*form.Combo1), (QStringList{"ttyS0", QString::fromStdString(adapter.ById)}));
    EXPECT_EQ(form.Combo1->currentIndex(), 1);
    // Another one plugged in: listed; the choice stays.
    ports.Ports.push_back(Adapter("ttyUSB1", "CP2102 USB to UART Bridge Controller", "0001"));
    NotifyPortsChanged();
    EXPECT_EQ(form.Combo1->count(), 3);
    EXPECT_EQ(form.Combo1->itemText(1), QStringLiteral("ttyUSB1 — CP2102 USB to UART Bridge Controller (0001)"));
    EXPECT_EQ(form.Combo1->currentText(), QString::fromStdString(adapter.ById));
    // Back, under another name: its own item again, still chosen.
    TPortInfo back = Adapter("ttyUSB2", "FT232R USB UART", "A50285BI");
    ports.Ports.push_back(back);
    NotifyPortsChanged();
    EXPECT_EQ(form.Combo1->count(), 3);
    EXPECT_EQ(form.Combo1->currentText(), QStringLiteral("ttyUSB2 — FT232R USB UART (A50285BI)"));
    EXPECT_EQ(form.Combo1->Selected().Port, adapter.ById);
    // The other boxes do not change with the ports.
    EXPECT_EQ(form.Combo2->count(), static_cast<int>(BaudRateTexts().size()));
}
