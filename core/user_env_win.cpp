// The user's environment on Windows.
#include <windows.h>

#include <ctime>

#include "core/user_env.h"
#include "core/utf16_win.h"

namespace skarvel {

std::string EnvironmentValue(const char* name) {
    const std::wstring wide = Utf8ToWide(name);
    const DWORD n = GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
    if (n == 0) return {};
    std::wstring value(n, L'\0');
    const DWORD got = GetEnvironmentVariableW(wide.c_str(), value.data(), n);
    value.resize(got);
    return WideToUtf8(value);
}

char PathSeparator() { return '\\'; }

std::string AbsolutePath(const std::string& path) {
    if (path.empty()) return path;
    const std::wstring wide = Utf8ToWide(path);
    const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring full(n, L'\0');
    const DWORD got = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    if (got == 0 || got >= n) return path;
    full.resize(got);
    return WideToUtf8(full);
}

std::string StateFolder() {
    std::string base = EnvironmentValue("LOCALAPPDATA");
    if (base.empty()) return {};
    while (!base.empty() && (base.back() == '\\' || base.back() == '/')) base.pop_back();
    return base + "\\Skarvel";
}

std::string CurrentUserName() {
    wchar_t name[257];
    DWORD n = 257;
    if (GetUserNameW(name, &n) && n > 1) return WideToUtf8(std::wstring(name, n - 1));
    return EnvironmentValue("USERNAME");
}

std::string LocalTimestamp(std::time_t t) {
    std::tm local{};
    localtime_s(&local, &t);
    // The offset is what the local time reads as if it were UTC, less t.
    std::tm copy = local;
    const long offset = static_cast<long>(_mkgmtime(&copy) - t);
    return detail::FormatTimestamp(local, offset);
}

}  // namespace skarvel
