// zvt's command line on Windows: splitting it and expanding wildcards.
#include "tools/zvt/command_line_win.h"

#include <windows.h>

#include <algorithm>

#include "core/utf16_win.h"

namespace skarvel::zvtcmd {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The program's name: no escapes, a quote only groups.
size_t SplitProgramName(std::wstring_view line, std::vector<std::wstring>& args) {
    size_t i = 0;
    std::wstring name;
    if (!line.empty() && line[0] == L'"') {
        const size_t close = line.find(L'"', 1);
        name = line.substr(1, close == std::wstring_view::npos ? std::wstring_view::npos : close - 1);
        i = close == std::wstring_view::npos ? line.size() : close + 1;
    }
    while (i < line.size() && !IsBlank(line[i])) name += line[i++];
    args.push_back(name);
    return i;
}

// A run of backslashes at line[i], which quoted tells whether a quote is
// open; appends what it stands for to arg and returns the index after what
// it took (the quote that follows it, when it escapes one).
size_t TakeBackslashes(std::wstring_view line, size_t i, bool quoted, std::wstring& arg) {
    size_t n = 0;
    while (i + n < line.size() && line[i + n] == L'\\') ++n;
    const size_t after = i + n;
    if (after == line.size() || line[after] != L'"') {
        arg.append(n, L'\\');  // not before a quote: backslashes as they are
        return after;
    }
    if (n % 2 == 0) {
        arg.append(n / 2, L'\\');  // the quote that follows groups
        return after;
    }
    const bool closes = quoted && (after + 1 == line.size() || IsBlank(line[after + 1]));
    if (closes) {
        arg.append(n, L'\\');  // "C:\Loaded Programs\": the folder's backslash
        return after;
    }
    arg.append(n / 2, L'\\');
    arg += L'"';
    return after + 1;
}

bool HasWildcard(const std::wstring& s) { return s.find_first_of(L"*?") != std::wstring::npos; }

// The folder part of a pattern as typed, separator included ("" for none).
std::wstring FolderOf(const std::wstring& pattern) {
    const size_t slash = pattern.find_last_of(L"\\/");
    if (slash != std::wstring::npos) return pattern.substr(0, slash + 1);
    if (pattern.size() >= 2 && pattern[1] == L':') return pattern.substr(0, 2);  // C:*.tnc
    return {};
}

// The files a pattern matches, sorted; "" or the message naming the pattern.
std::string Match(const std::wstring& pattern, std::vector<std::wstring>& files) {
    WIN32_FIND_DATAW found;
    const HANDLE h = FindFirstFileW(pattern.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        // A missing folder, or a wildcard in the folder part (which Windows
        // does not expand), matches nothing either.
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND && code != ERROR_INVALID_NAME)
            return WideToUtf8(pattern) + ": " + SystemErrorText(code);
    } else {
        const std::wstring folder = FolderOf(pattern);
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(folder + found.cFileName);
        } while (FindNextFileW(h, &found));
        FindClose(h);
    }
    if (files.empty()) return WideToUtf8(pattern) + ": нет файлов по этому образцу";
    // The file system's own order differs (FAT keeps the order of creation).
    std::sort(files.begin(), files.end(), [](const std::wstring& a, const std::wstring& b) {
        return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                    TRUE) == CSTR_LESS_THAN;
    });
    return {};
}

}  // namespace

std::vector<std::wstring> SplitCommandLine(std::wstring_view line) {
    std::vector<std::wstring> args;
    size_t i = SplitProgramName(line, args);
    for (;;) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        if (i == line.size()) return args;
        std::wstring arg;
        bool quoted = false;
        while (i < line.size() && (quoted || !IsBlank(line[i]))) {
            if (line[i] == L'\\') {
                i = TakeBackslashes(line, i, quoted, arg);
            } else if (line[i] != L'"') {
                arg += line[i++];
            } else if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
                arg += L'"';  // "" inside quotes: a quote, still quoted
                i += 2;
            } else {
                quoted = !quoted;
                ++i;
            }
        }
        args.push_back(std::move(arg));
    }
}

std::vector<size_t> FileArguments(const std::vector<std::wstring>& args) {
    std::vector<size_t> files;
    std::wstring command;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::wstring& a = args[i];
        if ((a == L"--port" || a == L"--baud") && i + 1 < args.size()) {
            ++i;
        } else if (a == L"-h" || a == L"--help") {
            continue;
        } else if (command.empty()) {
            command = a;
        } else if (command == L"put" && a != L"--verify") {
            files.push_back(i);
        }
    }
    return files;
}

std::string ExpandFileWildcards(std::vector<std::wstring>& args) {
    const std::vector<size_t> fileArgs = FileArguments(args);
    std::vector<std::wstring> out;
    size_t next = 0;  // the next of fileArgs
    for (size_t i = 0; i < args.size(); ++i) {
        const bool isFile = next < fileArgs.size() && fileArgs[next] == i;
        if (isFile) ++next;
        if (!isFile || !HasWildcard(args[i])) {
            out.push_back(args[i]);
            continue;
        }
        std::vector<std::wstring> files;
        const std::string error = Match(args[i], files);
        if (!error.empty()) return error;
        out.insert(out.end(), files.begin(), files.end());
    }
    args = std::move(out);
    return {};
}

}  // namespace skarvel::zvtcmd
