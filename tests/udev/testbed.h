// A umockdev test bed: a sysfs tree, udev's database and /dev of devices
// made up for one test, seen by libudev and by open() in this process only.
// umockdev's preload library must be in LD_PRELOAD when the program starts
// (RunUnderUmockdev, below, sees to it).
//
// Threads: the test's thread only.
#pragma once

#include <string>
#include <utility>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace skarvel::test {

// Starts the program again with umockdev's preload library in LD_PRELOAD,
// unless it is there already; call first thing in main(). A sanitizer's
// runtime need not come first in the library list then.
void RunUnderUmockdev(char** argv);

// The recorded USB serial adapter (FT232R, serial A50285BI) of
// tests/data/ft232r.umockdev in USB socket 2, as udev names it.
extern const char* const kAdapterSysPath;   // its tty device
extern const char* const kAdapterUsbPath;   // the USB device it hangs on
extern const char* const kAdapterById;      // /dev/serial/by-id/usb-FTDI_...

class Testbed {
public:
    Testbed();   // empty; fails the test when umockdev does not redirect /sys
    ~Testbed();  // removes every device and the bed's folders
    Testbed(const Testbed&) = delete;
    Testbed& operator=(const Testbed&) = delete;

    // Adds the devices of a umockdev-record file of tests/data; umockdev
    // announces each ("add"). links: more links udev names the devices by
    // (as a udev rule's SYMLINK would add them); renames: texts replaced in
    // the record first (another kernel name, another USB socket).
    void AddRecorded(const std::string& name, const std::vector<std::string>& links = {},
                     const std::vector<std::pair<std::string, std::string>>& renames = {});
    // Adds one device with sysfs attributes and udev properties (name,
    // value pairs); returns its sysfs path. umockdev announces it ("add").
    std::string AddDevice(const std::string& subsystem, const std::string& name, const std::string& parent,
                          const std::vector<std::pair<std::string, std::string>>& attributes,
                          const std::vector<std::pair<std::string, std::string>>& properties = {});
    // Sends a udev event ("add", "remove") for the device.
    void Event(const std::string& sysPath, const std::string& action);
    // Removes the device and those below it, with their device nodes and
    // links. umockdev cannot make a device node of the same name again in
    // one bed: an adapter plugged in again gets another name, as it often
    // does in life.
    void Remove(const std::string& sysPath);

private:
    std::string Root() const;
    UMockdevTestbed* bed_;
};

}  // namespace skarvel::test
