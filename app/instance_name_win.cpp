// The window's address on Windows: a pipe of the user's logon session.
#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "app/instance_name.h"

namespace skarvel {

namespace {

// The process user's SID as text ("S-1-5-21-..."), or nothing.
std::string UserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buf(size ? size : 1);
    std::string out;
    if (GetTokenInformation(token, TokenUser, buf.data(), size, &size)) {
        LPSTR text = nullptr;
        if (ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buf.data())->User.Sid, &text)) {
            out = text;
            LocalFree(text);
        }
    }
    CloseHandle(token);
    return out;
}

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

}  // namespace

TInstanceAddress InstanceAddress(const std::string& session) {
    TInstanceAddress a;
    const std::string sid = UserSid();
    DWORD logon = 0;
    if (sid.empty() || !ProcessIdToSessionId(GetCurrentProcessId(), &logon)) {
        a.Problem = "the user's SID or logon session is unknown (error " + std::to_string(GetLastError()) + ")";
        return a;
    }
    const std::string base = "skarvel-" + sid + "-" + std::to_string(logon) + "-" + SessionTag(session);
    a.ServerName = base;
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) {
        a.ServerName.clear();
        a.Problem = "no temporary folder";
        return a;
    }
    a.LockPath = Utf8(std::wstring(temp, n)) + base + ".lock";
    return a;
}

bool PeerIsSameUser(intptr_t) { return true; }

}  // namespace skarvel
