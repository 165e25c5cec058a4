// The window and USB adapters plugged in and pulled while it runs, on the
// recorded FT232R adapter of tests/data that umockdev makes up.
//
// The window's port is a link to the adapter that udev names in its events
// (as a udev rule's SYMLINK+= adds one), pointing at the simulator's pty.
// It lies outside /dev: umockdev takes over the ioctls of whatever is opened
// under /dev, and a serial line needs its own. That the adapter's by-id
// name finds it in the events as well is the port list's tests' to show.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <unistd.h>

#include "flashfs/fs_flash.h"
#include "link/zvt_drv.h"
#include "tests/sim_process.h"
#include "tests/udev/testbed.h"
#include "tests/ui/ui_test_support.h"
#include "ui/com_setup.h"
#include "ui/lamps.h"
#include "ui/my_list_box.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

const TFiles kFiles = {{"PROG1.TNC", std::string(700, 'G')}, {"PROG2.TNC", "N10 G0 X0\n"}};
const QString kAdapterLabel = QStringLiteral("ttyUSB0 — FT232R USB UART (A50285BI)");

QStringList Items(const QComboBox& c) {
    QStringList items;
    for (int i = 0; i < c.count(); ++i) items << c.itemText(i);
    return items;
}

// A window on the adapter's stable name with the port watch on, the
// simulator serving a medium with two files, and the port dialog open on
// the window's port.
struct HotplugRig {
    explicit HotplugRig(bool plugged) {
        WriteFormattedImage(image, kFiles);
        sim = std::make_unique<SimProcess>(std::vector<std::string>{"--image", image});
        if (plugged) PlugIn();
        TFormOptions o = FastOptions(link, &boxes);
        o.WatchPorts = true;
        form = std::make_unique<TForm1>(o);
        log = std::make_unique<TDoneLog>(*form);
        dialog = std::make_unique<TComSetupFrm>();
        for (auto* c : dialog->Combos()) c->SetComPort(&form->Driver()->ComPort);
    }
    // The adapter appears (umockdev announces it), its link the simulator's
    // line: the first time as ttyUSB0 in USB socket 2, then as ttyUSB1 in
    // socket 3.
    void PlugIn() {
        ASSERT_EQ(symlink(sim->PtyPath().c_str(), link.c_str()), 0);
        if (plugs++ == 0) {
            bed.AddRecorded("ft232r.umockdev", {link});
            return;
        }
        bed.AddRecorded("ft232r.umockdev", {link},
                        {{"ttyUSB0", "ttyUSB1"}, {"1-2", "1-3"}, {"usb-0:2:", "usb-0:3:"}, {"188:0", "188:1"},
                         {"MINOR=0", "MINOR=1"}, {"001/003", "001/004"}});
    }
    void Pull() {
        const bool first = plugs == 1;
        bed.Event(first ? kAdapterSysPath : kSocket3 + "/1-3:1.0/ttyUSB1/tty/ttyUSB1", "remove");
        bed.Remove(first ? kAdapterUsbPath : kSocket3);
        unlink(link.c_str());
    }
    int MediumRows() {
        int n = 0;
        for (int i = 0; i < form->MyListBox()->Count(); ++i) n += form->MyListBox()->Flags(i) ? 1 : 0;
        return n;
    }
    TForm1& F() { return *form; }

    Testbed bed;  // first: the window's watch listens to the bed's events
    TempDir dir;
    std::string image = dir.File("medium.img");
    std::string link = dir.File("zvt-adapter");
    int plugs = 0;
    const std::string kSocket3 = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-3";
    std::unique_ptr<SimProcess> sim;
    TScriptedBoxes boxes;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TDoneLog> log;
    std::unique_ptr<TComSetupFrm> dialog;
};

}  // namespace

TEST(Hotplug, TheRememberedAdapterPluggedInIsOpenedAndAskedAtOnce) {
    HotplugRig rig(false);
    TForm1& f = rig.F();
    ASSERT_EQ(rig.boxes.Boxes.size(), 1u);  // not there at start: said once
    EXPECT_TRUE(rig.boxes.Texts()[0].contains(QString::fromStdString(rig.link) + QStringLiteral(" не найден")));
    EXPECT_TRUE(f.WaitingForPort());
    // The dialog keeps the window's port although it is missing.
    EXPECT_EQ(Items(*rig.dialog->Combo1), QStringList{QString::fromStdString(rig.link)});

    rig.PlugIn();
    // No tick: the timer is stopped. The watch alone opens the port.
    ASSERT_TRUE(ProcessUntil([&] { return f.LinkUp() && rig.log->Count(opReadDir) >= 1; }, 10000));
    EXPECT_TRUE(f.Driver()->ComPort.Connected());
    EXPECT_EQ(rig.log->Count(opInit), 1);
    EXPECT_EQ(f.LinkLamp(), lampGreen);
    EXPECT_EQ(rig.MediumRows(), 2);
    EXPECT_FALSE(f.WaitingForPort());
    EXPECT_EQ(rig.boxes.Boxes.size(), 1u);
    // The dialog's list shows the adapter, still the port chosen.
    EXPECT_EQ(Items(*rig.dialog->Combo1), QStringList{kAdapterLabel});
    EXPECT_EQ(rig.dialog->Combo1->currentIndex(), 0);
}

TEST(Hotplug, PullingTheAdapterDropsTheLinkAtOnceAndPluggingItInBringsItBack) {
    HotplugRig rig(true);
    TForm1& f = rig.F();
    ASSERT_TRUE(ProcessUntil([&] { return rig.log->Count(opReadDir) >= 2; }));
    ASSERT_TRUE(f.LinkUp());
    EXPECT_TRUE(rig.boxes.Boxes.empty());
    TickToIdle(f);
    f.AddFiles({QString::fromStdString(rig.dir.File("medium.img"))});  // any PC file: a pending row
    ASSERT_EQ(f.MyListBox()->Count(), 3);
    EXPECT_EQ(Items(*rig.dialog->Combo1), QStringList{kAdapterLabel});

    rig.Pull();
    ASSERT_TRUE(ProcessUntil([&] { return !f.LinkUp(); }, 10000));
    EXPECT_EQ(f.LinkLamp(), lampBlack);
    EXPECT_FALSE(f.Driver()->ComPort.Connected());
    EXPECT_EQ(rig.MediumRows(), 0);
    EXPECT_EQ(f.MyListBox()->Count(), 1);  // the pending row stays
    EXPECT_TRUE(f.WaitingForPort());
    EXPECT_EQ(f.Action8->text(), QStringLiteral("Освободить &порт"));
    EXPECT_TRUE(rig.boxes.Boxes.empty());
    // The dialog's list has lost the adapter but keeps it as the choice.
    ASSERT_TRUE(ProcessUntil([&] { return Items(*rig.dialog->Combo1) != QStringList{kAdapterLabel}; }, 5000));
    EXPECT_EQ(Items(*rig.dialog->Combo1), QStringList{QString::fromLatin1(kAdapterById)});

    const int inits = rig.log->Count(opInit);
    rig.PlugIn();
    ASSERT_TRUE(ProcessUntil([&] { return f.LinkUp() && rig.MediumRows() == 2; }, 10000));
    EXPECT_EQ(rig.log->Count(opInit), inits + 1);
    EXPECT_EQ(f.MyListBox()->Count(), 3);
    // Back in another socket, under another name: the same adapter.
    EXPECT_EQ(Items(*rig.dialog->Combo1), QStringList{QStringLiteral("ttyUSB1 — FT232R USB UART (A50285BI)")});
    EXPECT_EQ(rig.dialog->Combo1->currentIndex(), 0);
}

TEST(Hotplug, OtherPortsComingAndGoingLeaveTheLinkAlone) {
    HotplugRig rig(true);
    TForm1& f = rig.F();
    ASSERT_TRUE(ProcessUntil([&] { return rig.log->Count(opReadDir) >= 2; }));
    TickToIdle(f);
    // Another adapter arrives and goes: listed and unlisted, nothing else.
    const std::string usb = rig.bed.AddDevice("usb", "1-4", "", {{"product", "USB Serial"}}, {{"DEVTYPE", "usb_device"}});
    const std::string serial = rig.bed.AddDevice("usb-serial", "ttyUSB1", usb, {});
    const std::string tty = rig.bed.AddDevice("tty", "ttyUSB1", serial, {}, {{"DEVNAME", "/dev/ttyUSB1"}});
    ASSERT_TRUE(ProcessUntil([&] { return rig.dialog->Combo1->count() == 2; }, 5000));
    EXPECT_EQ(Items(*rig.dialog->Combo1), (QStringList{kAdapterLabel, QStringLiteral("ttyUSB1 — USB Serial")}));
    rig.bed.Event(tty, "remove");
    rig.bed.Remove(usb);
    ASSERT_TRUE(ProcessUntil([&] { return rig.dialog->Combo1->count() == 1; }, 5000));
    EXPECT_TRUE(f.LinkUp());
    EXPECT_TRUE(f.Driver()->ComPort.Connected());
    EXPECT_EQ(rig.MediumRows(), 2);
    EXPECT_EQ(rig.log->Count(opInit), 2);
}
