// PC files on Windows: wide paths (any name the user's folders hold), the
// Win32 file calls, which never translate bytes (a C runtime opened in text
// mode would end a program at its first Ctrl-Z and turn CR LF into LF), and
// MoveFileExW to put a loaded file in place, since rename() refuses to
// replace an existing file there.
#include "tools/zvt/pc_files.h"

#include <windows.h>

#include <algorithm>

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

}  // namespace

namespace {

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.nFileSizeHigh == b.nFileSizeHigh && a.nFileSizeLow == b.nFileSizeLow &&
           a.ftLastWriteTime.dwLowDateTime == b.ftLastWriteTime.dwLowDateTime &&
           a.ftLastWriteTime.dwHighDateTime == b.ftLastWriteTime.dwHighDateTime;
}

uint64_t SizeOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

}  // namespace

TPcKind LookAtPcFile(const std::string& path, uint64_t& size, std::string& error) {
    size = 0;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(Utf8ToWide(path).c_str(), GetFileExInfoStandard, &data)) {
        error = path + ": " + LastErrorText();
        return TPcKind::Missing;
    }
    // A folder cannot be opened as a file at all ("access denied" would not
    // say why).
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        error = detail::NotAFileText(path, TPcKind::Folder);
        return TPcKind::Folder;
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) {
        error = detail::NotAFileText(path, TPcKind::Device);
        return TPcKind::Device;
    }
    size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return TPcKind::Regular;
}

TPcRead ReadPcFile(const std::string& path, uint64_t limit, std::vector<uint8_t>& data, std::string& error,
                   const std::function<void(uint64_t)>& onChunk) {
    data.clear();
    // No file of the medium comes near; the bound keeps the count in range.
    limit = std::min<uint64_t>(limit, 0x7FFFFFFF);
    uint64_t recorded = 0;
    if (LookAtPcFile(path, recorded, error) != TPcKind::Regular) return TPcRead::Failed;
    if (recorded > limit) return TPcRead::TooBig;
    THandle file(CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.Valid()) {
        error = path + ": " + LastErrorText();
        return TPcRead::Failed;
    }
    BY_HANDLE_FILE_INFORMATION before{};
    const DWORD type = GetFileType(file.Get());
    if (type != FILE_TYPE_DISK || !GetFileInformationByHandle(file.Get(), &before) ||
        (before.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = detail::NotAFileText(path, type == FILE_TYPE_PIPE   ? TPcKind::Pipe
                                           : type == FILE_TYPE_CHAR ? TPcKind::Device
                                                                    : TPcKind::Other);
        return TPcRead::Failed;
    }
    if (SizeOf(before) > limit) return TPcRead::TooBig;
    // To its end, whatever size it records; one piece beyond the limit
    // tells a file that is too big.
    for (;;) {
        const size_t got = data.size();
        const size_t want = static_cast<size_t>(std::min<uint64_t>(PcReadChunk, limit + 1 - got));
        data.resize(got + want);
        DWORD n = 0;
        if (!ReadFile(file.Get(), data.data() + got, static_cast<DWORD>(want), &n, nullptr)) {
            error = "Ошибка при чтения файла " + path + ": " + LastErrorText();
            data.clear();
            return TPcRead::Failed;
        }
        data.resize(got + n);
        if (n == 0) break;
        if (data.size() > limit) {
            data.clear();
            return TPcRead::TooBig;
        }
        if (onChunk) onChunk(data.size());
    }
    BY_HANDLE_FILE_INFORMATION after{};
    if (!GetFileInformationByHandle(file.Get(), &after) || !SameFile(before, after)) {
        error = detail::ChangedWhileReadText(path);
        data.clear();
        return TPcRead::Failed;
    }
    return TPcRead::Ok;
}

bool WritePcFile(const std::string& dir, const std::string& name, const std::vector<uint8_t>& data,
                 std::string& error, bool replace) {
    const std::string target = PcPath(dir, name);
    const std::wstring wideTarget = Utf8ToWide(target);
    const std::wstring temp = Utf8ToWide(PcPath(dir, "." + name + ".zvt-part"));
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
    // Without MOVEFILE_REPLACE_EXISTING an existing target makes the move fail.
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!MoveFileExW(temp.c_str(), wideTarget.c_str(), flags))
        return fail(replace ? LastErrorText() : std::string("файл уже есть, не заменён"));
    return true;
}

std::string NativePath(const std::string& path) {
    std::string native = path;
    std::replace(native.begin(), native.end(), '/', '\\');
    return native;
}

std::string PcPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    const char last = dir.back();
    if (last == '\\' || last == '/' || last == ':') return dir + name;
    return dir + "\\" + name;
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Utf8ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace skarvel
