// The settings store on Windows: QSettings' registry key of the user.
#include <windows.h>

#include "core/settings_store.h"
#include "core/utf16_win.h"

namespace skarvel {

std::string SettingsFilePath() { return std::string(); }

std::string ReadSetting(const std::string& key) {
    std::string subkey = std::string("Software\\") + kSettingsOrganization + "\\" + kSettingsApplication;
    std::string name = key;
    const size_t slash = key.rfind('/');
    if (slash != std::string::npos) {
        std::string group = key.substr(0, slash);
        for (char& c : group)
            if (c == '/') c = '\\';
        subkey += "\\" + group;
        name = key.substr(slash + 1);
    }
    const std::wstring wkey = Utf8ToWide(subkey), wname = Utf8ToWide(name);
    DWORD bytes = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, wkey.c_str(), wname.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &bytes) !=
            ERROR_SUCCESS ||
        bytes < sizeof(wchar_t))
        return std::string();
    std::wstring value(bytes / sizeof(wchar_t), L'\0');
    if (RegGetValueW(HKEY_CURRENT_USER, wkey.c_str(), wname.c_str(), RRF_RT_REG_SZ, nullptr, value.data(), &bytes) !=
        ERROR_SUCCESS)
        return std::string();
    value.resize(bytes / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0') value.pop_back();
    return WideToUtf8(value);
}

}  // namespace skarvel
