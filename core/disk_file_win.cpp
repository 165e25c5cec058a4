// Files on the disk with Win32 calls (wide paths; no text mode anywhere).
#include <windows.h>

#include "core/disk_file.h"
#include "core/utf16_win.h"

namespace skarvel {

namespace {

std::string LastErrorText(const std::string& path) { return path + ": " + SystemErrorText(GetLastError()); }

// Closes a handle when it goes out of scope.
struct TScopedHandle {
    HANDLE H = INVALID_HANDLE_VALUE;
    ~TScopedHandle() {
        if (H != INVALID_HANDLE_VALUE) CloseHandle(H);
    }
};

bool WriteAll(HANDLE h, const uint8_t* p, size_t n) {
    while (n > 0) {
        const DWORD piece = n > 0x10000000u ? 0x10000000u : static_cast<DWORD>(n);
        DWORD w = 0;
        if (!WriteFile(h, p, piece, &w, nullptr) || w == 0) return false;
        p += w;
        n -= w;
    }
    return true;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Makes the missing folders above path. Best effort: a folder that cannot
// be made (a share's server name, a drive) shows in the open that follows.
void MakeParents(const std::string& path) {
    for (size_t i = 1; i < path.size(); ++i)
        if (IsSeparator(path[i]) && !IsSeparator(path[i - 1])) CreateDirectoryW(Utf8ToWide(path.substr(0, i)).c_str(), nullptr);
}

OVERLAPPED At(uint64_t offset) {
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(offset);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
}

}  // namespace

struct TDiskFile::THandle {
    HANDLE H = INVALID_HANDLE_VALUE;
};

TDiskFile::TDiskFile() : handle_(std::make_unique<THandle>()) {}

TDiskFile::~TDiskFile() {
    std::string ignored;
    Close(ignored);
}

bool TDiskFile::IsOpen() const { return handle_->H != INVALID_HANDLE_VALUE; }

namespace {
// Opened without sharing the right to write: a second program that wants
// to write the image is refused by the system.
HANDLE OpenImage(const std::string& path, DWORD disposition) {
    return CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool Measure(HANDLE h, const std::string& path, uint64_t& size, std::string& error) {
    LARGE_INTEGER s{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &s)) {
        error = path + ": не файл";
        return false;
    }
    size = static_cast<uint64_t>(s.QuadPart);
    return true;
}
}  // namespace

bool TDiskFile::Open(const std::string& path, std::string& error) {
    std::string ignored;
    Close(ignored);
    TScopedHandle h{OpenImage(path, OPEN_EXISTING)};
    if (h.H == INVALID_HANDLE_VALUE) {
        error = GetLastError() == ERROR_SHARING_VIOLATION ? path + ": файл занят другой программой" : LastErrorText(path);
        return false;
    }
    if (!Measure(h.H, path, size_, error)) return false;
    handle_->H = h.H;
    h.H = INVALID_HANDLE_VALUE;
    return true;
}

bool TDiskFile::Create(const std::string& path, uint64_t size, std::string& error) {
    std::string ignored;
    Close(ignored);
    TScopedHandle h{OpenImage(path, CREATE_NEW)};
    if (h.H == INVALID_HANDLE_VALUE) {
        error = LastErrorText(path);
        return false;
    }
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(h.H, end, nullptr, FILE_BEGIN) || !SetEndOfFile(h.H) || !Measure(h.H, path, size_, error)) {
        if (error.empty()) error = LastErrorText(path);
        CloseHandle(h.H);
        h.H = INVALID_HANDLE_VALUE;
        DeleteFileW(Utf8ToWide(path).c_str());
        return false;
    }
    handle_->H = h.H;
    h.H = INVALID_HANDLE_VALUE;
    return true;
}

bool TDiskFile::Close(std::string& error) {
    if (handle_->H == INVALID_HANDLE_VALUE) return true;
    const bool flushed = FlushFileBuffers(handle_->H) != 0;
    if (!flushed) error = SystemErrorText(GetLastError());
    CloseHandle(handle_->H);
    handle_->H = INVALID_HANDLE_VALUE;
    size_ = 0;
    return flushed;
}

bool TDiskFile::ReadAt(uint64_t offset, void* buffer, size_t count, std::string& error) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (count > 0) {
        OVERLAPPED o = At(offset);
        DWORD r = 0;
        const DWORD piece = count > 0x10000000u ? 0x10000000u : static_cast<DWORD>(count);
        if (!ReadFile(handle_->H, p, piece, &r, &o) || r == 0) {
            error = r == 0 && GetLastError() == ERROR_HANDLE_EOF ? std::string("конец файла")
                                                                   : SystemErrorText(GetLastError());
            return false;
        }
        p += r;
        offset += r;
        count -= r;
    }
    return true;
}

bool TDiskFile::WriteAt(uint64_t offset, const void* buffer, size_t count, std::string& error) {
    const auto* p = static_cast<const uint8_t*>(buffer);
    while (count > 0) {
        OVERLAPPED o = At(offset);
        DWORD w = 0;
        const DWORD piece = count > 0x10000000u ? 0x10000000u : static_cast<DWORD>(count);
        if (!WriteFile(handle_->H, p, piece, &w, &o) || w == 0) {
            error = SystemErrorText(GetLastError());
            return false;
        }
        p += w;
        offset += w;
        count -= w;
    }
    return true;
}

bool ReadWholeFile(const std::string& path, uint64_t limit, std::vector<uint8_t>& data, std::string& error) {
    data.clear();
    TScopedHandle h{CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (h.H == INVALID_HANDLE_VALUE) {
        error = LastErrorText(path);
        return false;
    }
    uint64_t size = 0;
    if (!Measure(h.H, path, size, error)) return false;
    if (size > limit) {
        error = path + ": файл больше " + std::to_string(limit) + " байт";
        return false;
    }
    data.resize(static_cast<size_t>(size));
    size_t got = 0;
    while (got < data.size()) {
        DWORD r = 0;
        const DWORD piece = data.size() - got > 0x10000000u ? 0x10000000u : static_cast<DWORD>(data.size() - got);
        if (!ReadFile(h.H, data.data() + got, piece, &r, nullptr)) {
            error = LastErrorText(path);
            return false;
        }
        if (r == 0) break;
        got += r;
    }
    data.resize(got);
    return true;
}

bool WriteNewFile(const std::string& path, const std::vector<uint8_t>& data, std::string& error) {
    const std::wstring wide = Utf8ToWide(path);
    DeleteFileW(wide.c_str());
    TScopedHandle h{CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (h.H == INVALID_HANDLE_VALUE) {
        error = LastErrorText(path);
        return false;
    }
    const bool written = WriteAll(h.H, data.data(), data.size()) && FlushFileBuffers(h.H);
    const DWORD code = GetLastError();
    CloseHandle(h.H);
    h.H = INVALID_HANDLE_VALUE;
    if (!written) {
        error = path + ": " + SystemErrorText(code);
        DeleteFileW(wide.c_str());
        return false;
    }
    return true;
}

bool RenameOver(const std::string& from, const std::string& to, std::string& error) {
    if (MoveFileExW(Utf8ToWide(from).c_str(), Utf8ToWide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    error = LastErrorText(to);
    return false;
}

void RemoveFile(const std::string& path) { DeleteFileW(Utf8ToWide(path).c_str()); }

bool AppendLine(const std::string& path, const std::string& line, std::string& error) {
    MakeParents(path);
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end
    // of the file as a whole, whoever else appends meanwhile. Where the
    // file system does not keep that promise (a share, wine) a lock on a
    // byte far beyond any journal's end keeps the appends apart all the same.
    TScopedHandle h{CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ | FILE_APPEND_DATA | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr)};
    if (h.H == INVALID_HANDLE_VALUE) {
        error = LastErrorText(path);
        return false;
    }
    OVERLAPPED lockAt = At(0x7FFFFFFF00000000ull);
    const bool locked = LockFileEx(h.H, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lockAt) != 0;
    DWORD w = 0;
    const bool written = WriteFile(h.H, line.data(), static_cast<DWORD>(line.size()), &w, nullptr) && w == line.size();
    if (!written) error = LastErrorText(path);
    if (locked) UnlockFileEx(h.H, 0, 1, 0, &lockAt);
    return written;
}

bool PathExists(const std::string& path) {
    return GetFileAttributesW(Utf8ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace skarvel
