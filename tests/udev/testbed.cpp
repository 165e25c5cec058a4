#include "tests/udev/testbed.h"

#include <gtest/gtest.h>
#include <umockdev.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

namespace skarvel::test {

const char* const kAdapterSysPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0/tty/ttyUSB0";
const char* const kAdapterUsbPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2";
const char* const kAdapterById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";

namespace {

constexpr const char* kPreload = "libumockdev-preload.so.0";

void AppendTo(const char* variable, const std::string& item, const char* separator) {
    const char* old = std::getenv(variable);
    const std::string value = old && *old ? std::string(old) + separator + item : item;
    setenv(variable, value.c_str(), 1);
}

}  // namespace

void RunUnderUmockdev(char** argv) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload && std::strstr(preload, "libumockdev-preload")) return;
    // The preload library goes first, as umockdev-wrapper puts it.
    const std::string value = preload && *preload ? std::string(kPreload) + ":" + preload : kPreload;
    setenv("LD_PRELOAD", value.c_str(), 1);
    AppendTo("ASAN_OPTIONS", "verify_asan_link_order=0", ":");
    execv("/proc/self/exe", argv);
    std::perror("cannot start the tests again under umockdev");
    std::exit(1);
}

Testbed::Testbed() : bed_(umockdev_testbed_new()) {
    // An empty bed has no tty class; the real /sys always has one.
    EXPECT_NE(access("/sys/class/tty", F_OK), 0) << "umockdev does not redirect /sys: is " << kPreload
                                                 << " in LD_PRELOAD?";
}

Testbed::~Testbed() { g_object_unref(bed_); }

void Testbed::AddRecorded(const std::string& name, const std::vector<std::string>& links,
                          const std::vector<std::pair<std::string, std::string>>& renames) {
    const std::string path = std::string(SKARVEL_TEST_DATA) + "/" + name;
    std::ifstream in(path);
    ASSERT_TRUE(in) << "cannot read " << path;
    std::string text;
    for (std::string line; std::getline(in, line);) {
        for (const auto& [from, to] : renames)
            for (size_t at = line.find(from); at != std::string::npos; at = line.find(from, at + to.size()))
                line.replace(at, from.size(), to);
        if (line.rfind("E: DEVLINKS=", 0) == 0)
            for (const std::string& link : links) line += " " + link;
        text += line + "\n";
    }
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(bed_, text.c_str(), &error)) {
        ADD_FAILURE() << "cannot load " << path << ": " << (error ? error->message : "?");
        if (error) g_error_free(error);
    }
}

std::string Testbed::AddDevice(const std::string& subsystem, const std::string& name, const std::string& parent,
                               const std::vector<std::pair<std::string, std::string>>& attributes,
                               const std::vector<std::pair<std::string, std::string>>& properties) {
    const auto flat = [](const std::vector<std::pair<std::string, std::string>>& pairs) {
        std::vector<gchar*> v;
        for (const auto& [k, val] : pairs) {
            v.push_back(const_cast<gchar*>(k.c_str()));
            v.push_back(const_cast<gchar*>(val.c_str()));
        }
        v.push_back(nullptr);
        return v;
    };
    std::vector<gchar*> attrs = flat(attributes), props = flat(properties);
    gchar* path = umockdev_testbed_add_devicev(bed_, subsystem.c_str(), name.c_str(),
                                               parent.empty() ? nullptr : parent.c_str(), attrs.data(), props.data());
    std::string result = path ? path : "";
    g_free(path);
    return result;
}

void Testbed::Event(const std::string& sysPath, const std::string& action) {
    umockdev_testbed_uevent(bed_, sysPath.c_str(), action.c_str());
}

std::string Testbed::Root() const {
    gchar* root = umockdev_testbed_get_root_dir(bed_);
    std::string dir = root;
    g_free(root);
    return dir;
}

void Testbed::Remove(const std::string& sysPath) {
    namespace fs = std::filesystem;
    // umockdev removes a device's own links only: the devices below go
    // first, deepest first.
    const std::string root = Root();
    std::vector<std::string> devices;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root + sysPath, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_directory() && !it->is_symlink() && fs::exists(it->path() / "uevent"))
            devices.push_back(it->path().string().substr(root.size()));
    std::sort(devices.begin(), devices.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
    devices.push_back(sysPath);
    for (const std::string& d : devices) umockdev_testbed_remove_device(bed_, d.c_str());
    // The links udev made to them (by-id, by-path, the device number's).
    std::vector<fs::path> dangling;
    for (const char* dir : {"/dev/serial", "/sys/dev"})
        for (auto it = fs::recursive_directory_iterator(root + dir, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec))
            if (it->is_symlink() && !fs::exists(it->path())) dangling.push_back(it->path());
    for (const fs::path& link : dangling) fs::remove(link, ec);
}


}  // namespace skarvel::test
