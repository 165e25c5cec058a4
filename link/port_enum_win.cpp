// Port enumeration on Windows: the values of the registry key where the
// serial drivers announce their ports, HKLM\HARDWARE\DEVICEMAP\SERIALCOMM.
// Each value's data is one port name ("COM1"); the value names are the
// drivers' device names and are not used, so a port is known by its name
// only.
#include "link/port_enum.h"

#include <windows.h>

#include <cctype>

#include "core/utf16_win.h"
#include "link/cport.h"

namespace skarvel {

namespace {

// Reads the key's values in order until the registry reports no more;
// returns ERROR_SUCCESS or the registry's error.
LONG ReadPortNames(HKEY key, std::vector<std::string>& names) {
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[256];
        DWORD valueNameLen = sizeof valueName / sizeof valueName[0];
        wchar_t data[256];
        DWORD dataBytes = sizeof data;
        DWORD type = 0;
        const LONG r = RegEnumValueW(key, index, valueName, &valueNameLen, nullptr, &type,
                                     reinterpret_cast<BYTE*>(data), &dataBytes);
        if (r == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (r == ERROR_MORE_DATA) continue;  // no COM port name is that long
        if (r != ERROR_SUCCESS) return r;
        if (type != REG_SZ) continue;
        // The data need not end with its terminating zero.
        std::wstring name(data, dataBytes / sizeof(wchar_t));
        while (!name.empty() && name.back() == L'\0') name.pop_back();
        if (!name.empty()) names.push_back(WideToUtf8(name));
    }
}

std::string Upper(const std::string& s) {
    std::string out = s;
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

void ListPorts(std::vector<TPortInfo>& out) {
    HKEY key = nullptr;
    LONG r = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key);
    // The key appears only once a serial driver has announced a port since
    // the system started: a PC without one has no ports, which is no error.
    if (r == ERROR_FILE_NOT_FOUND) {
        out.clear();
        return;
    }
    if (r != ERROR_SUCCESS) throw EComPort(CE_REGISTRY, static_cast<int>(r));
    std::vector<std::string> names;
    r = ReadPortNames(key, names);
    RegCloseKey(key);
    if (r != ERROR_SUCCESS) throw EComPort(CE_REGISTRY, static_cast<int>(r));
    // The registry knows the names only.
    std::vector<TPortInfo> ports;
    for (const std::string& name : names) {
        TPortInfo p;
        p.Name = name;
        p.Path = ComDevicePath(name);
        ports.push_back(p);
    }
    SortPorts(ports);
    out.swap(ports);
}

// Device names are case-blind on Windows.
bool SamePort(const std::string& a, const std::string& b) {
    const std::string pa = ComDevicePath(a);
    return !pa.empty() && Upper(pa) == Upper(ComDevicePath(b));
}

}  // namespace skarvel
