// PC files on Windows: wide paths (any name the user's folders hold), the
// Win32 file calls, which never translate bytes (a C runtime opened in text
// mode would end a program at its first Ctrl-Z and turn CR LF into LF), and
// MoveFileExW to put a loaded file in place, since rename() refuses to
// replace an existing file there.
#include "tools/zvt/pc_files.h"

#include <windows.h>

#include "core/utf16_win.h"

namespace skarvel {

namespace {

// Closes a file handle when it goes out of scope.
class THandle {
public:
    explicit THandle(HANDLE h) : h_(h) {}
    ~THandle() { Close(); }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;
    HANDLE Get() const { return h_; }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }
    bool Close() {
        const bool ok = !Valid() || CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE h_;
};

std::string LastErrorText() { return SystemErrorText(GetLastError()); }

// dir and name joined by "\", unless dir already ends with a separator or
// is a bare drive ("C:" means that drive's current folder).
std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    const char last = dir.back();
    if (last == '\\' || last == '/' || last == ':') return dir + name;
    return dir + "\\" + name;
}

}  // namespace

bool ReadPcFile(const std::string& path, std::vector<uint8_t>& data, std::string& error) {
    THandle file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.Valid()) {
        error = path + ": " + LastErrorText();
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file.Get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.Get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = path + ": не обычный файл";
        return false;
    }
    if (info.nFileSizeHigh != 0 || info.nFileSizeLow > 0x7FFFFFFF) {
        error = path + ": файл слишком велик";
        return false;
    }
    data.resize(info.nFileSizeLow);
    size_t got = 0;
    while (got < data.size()) {
        DWORD n = 0;
        const BOOL ok = ReadFile(file.Get(), data.data() + got, static_cast<DWORD>(data.size() - got), &n, nullptr);
        if (!ok || n == 0) {
            error = "Ошибка при чтения файла " + path + ": " + (ok ? std::string("файл стал короче") : LastErrorText());
            return false;
        }
        got += n;
    }
    return true;
}

bool WritePcFile(const std::string& dir, const std::string& name, const std::vector<uint8_t>& data,
                 std::string& error) {
    const std::string target = JoinPath(dir, name);
    const std::wstring wideTarget = Utf8ToWide(target);
    const std::wstring temp = Utf8ToWide(JoinPath(dir, "." + name + ".zvt-part"));
    const auto fail = [&](const std::string& why) {
        error = "Ошибка при записи файла " + target + ": " + why;
        DeleteFileW(temp.c_str());
        return false;
    };
    // A fresh file: never through a link or a file that someone left under
    // the temporary name (it could lead outside the folder).
    DeleteFileW(temp.c_str());
    THandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        error = "Ошибка при записи файла " + target + ": " + LastErrorText();
        return false;
    }
    size_t put = 0;
    while (put < data.size()) {
        DWORD n = 0;
        if (!WriteFile(file.Get(), data.data() + put, static_cast<DWORD>(data.size() - put), &n, nullptr) || n == 0) {
            const std::string why = LastErrorText();
            file.Close();
            return fail(why);
        }
        put += n;
    }
    // On the disk before it takes the real name.
    if (!FlushFileBuffers(file.Get())) {
        const std::string why = LastErrorText();
        file.Close();
        return fail(why);
    }
    if (!file.Close()) return fail(LastErrorText());
    if (!MoveFileExW(temp.c_str(), wideTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return fail(LastErrorText());
    return true;
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Utf8ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace skarvel
