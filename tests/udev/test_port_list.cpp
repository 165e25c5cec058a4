// The port list and the port watch on Linux, on devices umockdev makes up:
// which ttys are serial lines, what udev knows of a USB adapter, and the
// events of an adapter plugged in and pulled.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include "core/sync.h"
#include "link/cport.h"
#include "link/port_enum.h"
#include "link/port_watch.h"
#include "tests/udev/testbed.h"

namespace skarvel {
namespace {

using test::kAdapterById;
using test::kAdapterSysPath;
using test::Testbed;

std::vector<std::string> Names(const std::vector<TPortInfo>& ports) {
    std::vector<std::string> names;
    for (const TPortInfo& p : ports) names.push_back(p.Name);
    return names;
}

// A tty below a device of the given bus; type < 0: no type attribute; an
// empty bus: a tty without a device (consoles, virtual terminals).
void Tty(Testbed& bed, const std::string& name, int type, const std::string& bus) {
    std::string parent;
    if (!bus.empty()) parent = bed.AddDevice(bus, "dev-" + name, "", {});
    std::vector<std::pair<std::string, std::string>> attrs;
    if (type >= 0) attrs.emplace_back("type", std::to_string(type));
    bed.AddDevice("tty", name, parent, attrs, {{"DEVNAME", "/dev/" + name}});
}

TEST(PortList, ListsSerialDevicesSortedIgnoringCase) {
    Testbed bed;
    Tty(bed, "ttyS0", 4, "platform");
    Tty(bed, "ttyS1", 0, "platform");  // configured, no UART behind it
    Tty(bed, "ttyS10", 4, "platform");
    Tty(bed, "ttyS2", 1, "platform");
    Tty(bed, "ttyUSB0", -1, "usb-serial");
    Tty(bed, "ttyACM0", -1, "usb");
    Tty(bed, "ttyAMA0", 1, "amba");
    Tty(bed, "ttymxc0", 1, "platform");
    Tty(bed, "ttyXRUSB0", -1, "usb");
    Tty(bed, "ttyGS0", -1, "platform");  // a device, but no serial line
    Tty(bed, "tty0", -1, "");            // virtual terminal
    Tty(bed, "console", -1, "");
    Tty(bed, "ptmx", -1, "");

    std::vector<std::string> ports{"stale"};
    ListComPorts(ports);
    const std::vector<std::string> expected{"ttyACM0", "ttyAMA0", "ttymxc0", "ttyS0",
                                            "ttyS10",  "ttyS2",   "ttyUSB0", "ttyXRUSB0"};
    EXPECT_EQ(ports, expected);

    std::vector<std::string> none{"x"};
    Testbed empty;
    ListComPorts(none);  // a system without ttys lists no ports
    EXPECT_TRUE(none.empty());
}

TEST(PortList, RecordedAdapterWithItsDescriptionAndStableName) {
    Testbed bed;
    bed.AddRecorded("ft232r.umockdev");
    std::vector<TPortInfo> ports;
    ListPorts(ports);
    ASSERT_EQ(Names(ports), std::vector<std::string>{"ttyUSB0"});
    const TPortInfo& p = ports[0];
    EXPECT_EQ(p.Path, "/dev/ttyUSB0");
    EXPECT_TRUE(p.Usb);
    EXPECT_EQ(p.Vendor, "FTDI");
    EXPECT_EQ(p.Model, "FT232R USB UART");
    EXPECT_EQ(p.Serial, "A50285BI");
    EXPECT_EQ(p.Driver, "ftdi_sio");
    EXPECT_EQ(p.ById, kAdapterById);
    EXPECT_EQ(PortDescription(p), "FT232R USB UART (A50285BI)");
    EXPECT_EQ(RememberedName(p), kAdapterById);

    // The adapter is found by each of its names, the short by-id name too.
    for (const char* name : {"ttyUSB0", "/dev/ttyUSB0", kAdapterById, "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                             "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"})
        EXPECT_TRUE(PortNamed(p, name)) << name;
    EXPECT_FALSE(PortNamed(p, "ttyUSB1"));
    EXPECT_FALSE(PortNamed(p, "COM2"));
}

TEST(PortList, AdapterWithoutUdevDatabaseIsDescribedByItsOwnStrings) {
    // No udev running: only sysfs tells what the adapter is.
    Testbed bed;
    const std::string usb = bed.AddDevice("usb", "1-3", "", {{"product", "USB Serial\n"}, {"manufacturer", "QinHeng"}},
                                          {{"DEVTYPE", "usb_device"}});
    const std::string serial = bed.AddDevice("usb-serial", "ttyUSB1", usb, {});
    bed.AddDevice("tty", "ttyUSB1", serial, {}, {{"DEVNAME", "/dev/ttyUSB1"}});
    std::vector<TPortInfo> ports;
    ListPorts(ports);
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_TRUE(ports[0].Usb);
    EXPECT_EQ(ports[0].Model, "USB Serial");
    EXPECT_EQ(ports[0].Vendor, "QinHeng");
    EXPECT_EQ(ports[0].Serial, "");
    EXPECT_EQ(ports[0].ById, "");
    EXPECT_EQ(PortDescription(ports[0]), "USB Serial");
    EXPECT_EQ(RememberedName(ports[0]), "ttyUSB1");
}

// What a watch reported, in order.
struct Changes {
    std::vector<TPortChange> Seen;
    TPortChangeFn Fn() {
        return [this](const TPortChange& c) { Seen.push_back(c); };
    }
};

TEST(PortWatch, TellsOfAnAdapterPluggedInAndPulled) {
    Testbed bed;
    TMainLoop loop;
    Changes changes;
    std::unique_ptr<TPortWatch> watch = TPortWatch::Start(&loop, changes.Fn());
    ASSERT_TRUE(watch);

    // A virtual terminal that comes is no serial port: no word of it.
    Tty(bed, "tty63", -1, "");
    bed.AddRecorded("ft232r.umockdev");  // plugged in
    ASSERT_TRUE(loop.RunUntil([&] { return !changes.Seen.empty(); }, 5000));
    EXPECT_TRUE(changes.Seen[0].Added);
    EXPECT_EQ(changes.Seen[0].Port.Name, "ttyUSB0");
    EXPECT_EQ(changes.Seen[0].Port.ById, kAdapterById);
    EXPECT_EQ(PortDescription(changes.Seen[0].Port), "FT232R USB UART (A50285BI)");

    // Pulled: its sysfs is gone, the event still names it by all its names.
    bed.Event(kAdapterSysPath, "remove");
    bed.Remove(test::kAdapterUsbPath);
    ASSERT_TRUE(loop.RunUntil([&] { return changes.Seen.size() >= 2; }, 5000));
    EXPECT_FALSE(changes.Seen[1].Added);
    EXPECT_TRUE(PortNamed(changes.Seen[1].Port, kAdapterById));
    EXPECT_TRUE(PortNamed(changes.Seen[1].Port, "ttyUSB0"));
    loop.RunFor(100);
    EXPECT_EQ(changes.Seen.size(), 2u);
}

// A main loop that counts the calls handed to it.
class CountingLoop : public TMainLoop {
public:
    void Post(std::function<void()> fn) override {
        ++Posted;
        TMainLoop::Post(std::move(fn));
    }
    std::atomic<int> Posted{0};
};

TEST(PortWatch, NothingArrivesOnceTheWatchIsGone) {
    Testbed bed;
    CountingLoop loop;
    Changes changes;
    std::unique_ptr<TPortWatch> watch = TPortWatch::Start(&loop, changes.Fn());
    ASSERT_TRUE(watch);
    bed.AddRecorded("ft232r.umockdev");
    // The event is handed to this thread but not run before the watch goes.
    for (int i = 0; i < 1000 && loop.Posted.load() == 0; ++i) SleepMs(5);
    ASSERT_EQ(loop.Posted.load(), 1);
    watch.reset();
    loop.RunFor(50);
    EXPECT_TRUE(changes.Seen.empty());
}

}  // namespace
}  // namespace skarvel
