// Short names of PC files on Windows: the volume's own 8.3 name of the file
// (GetShortPathNameW). Where the volume keeps none, the system hands back
// the long name; a long name that does not fit 8.3 then gets the rule's
// name among the names of its folder, as on Linux.
#include "core/short_name.h"

#include <windows.h>

#include "core/cp1251.h"
#include "core/utf16_win.h"

namespace skarvel {

namespace {

// Where the last part of a path begins: after the last "\", "/" or the
// drive's ":".
size_t NameStart(const std::wstring& path) {
    const size_t sep = path.find_last_of(L"\\/:");
    return sep == std::wstring::npos ? 0 : sep + 1;
}

// The system's short form of the whole path, or "" when it has none (a
// path that does not exist, or one too long for the call).
std::wstring SystemShortPath(const std::wstring& path) {
    const DWORD need = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (need == 0) return std::wstring();
    std::wstring out(need, L'\0');
    const DWORD got = GetShortPathNameW(path.c_str(), out.data(), need);
    if (got == 0 || got >= need) return std::wstring();
    out.resize(got);
    return out;
}

// The names in a folder ("" is the current folder), "." and ".." left out.
std::vector<std::string> FolderNames(const std::wstring& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry;
    const HANDLE find = FindFirstFileW((folder + L"*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring n = entry.cFileName;
        if (n != L"." && n != L"..") names.push_back(WideToUtf8(n));
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return names;
}

}  // namespace

std::string ShortPathName(const std::string& path, const TShortNameTaken& taken) {
    const std::wstring wide = Utf8ToWide(path);
    const size_t start = NameStart(wide);
    const std::wstring shortPath = SystemShortPath(wide);
    if (!shortPath.empty()) {
        std::string cp;
        std::string longName;
        if (Utf8ToCp1251(WideToUtf8(shortPath.substr(NameStart(shortPath))), cp) && FitsShortName(cp)) {
            // A name the system generated ("~n") that is taken elsewhere
            // gives way to the rule's name, which skips the taken numbers.
            const bool generated = !Utf8ToCp1251(WideToUtf8(wide.substr(start)), longName) || longName != cp;
            if (!(generated && taken && taken(cp))) return cp;
        }
    }
    return ShortNameAmong(WideToUtf8(wide.substr(start)), FolderNames(wide.substr(0, start)), taken);
}

std::vector<std::string> FolderShortNames(const std::string& folder, const std::vector<std::string>& names) {
    std::wstring dir = Utf8ToWide(folder);
    if (!dir.empty() && dir.back() != L'\\' && dir.back() != L'/' && dir.back() != L':') dir.push_back(L'\\');
    // The rule's names are made once, for the files the volume names none.
    std::vector<std::string> byRule;
    std::vector<std::string> out(names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        const std::wstring shortPath = SystemShortPath(dir + Utf8ToWide(names[i]));
        std::string cp;
        if (!shortPath.empty() && Utf8ToCp1251(WideToUtf8(shortPath.substr(NameStart(shortPath))), cp) &&
            FitsShortName(cp)) {
            out[i] = cp;
            continue;
        }
        if (byRule.empty()) byRule = ShortNamesAmong(names);
        out[i] = byRule[i];
    }
    return out;
}

}  // namespace skarvel
