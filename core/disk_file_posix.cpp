// Files on the disk with plain POSIX calls.
#include "core/disk_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace skarvel {

namespace {

std::string ErrnoText(const std::string& path) { return path + ": " + std::strerror(errno); }

// Closes a descriptor when it goes out of scope.
struct TFd {
    int Fd = -1;
    ~TFd() {
        if (Fd >= 0) close(Fd);
    }
};

bool WriteAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        const ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Makes the missing folders above path, for the owner only. Best effort:
// a folder that cannot be made shows in the open that follows.
void MakeParents(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0700);
}

}  // namespace

struct TDiskFile::THandle {
    int Fd = -1;
};

TDiskFile::TDiskFile() : handle_(std::make_unique<THandle>()) {}

TDiskFile::~TDiskFile() {
    std::string ignored;
    Close(ignored);
}

bool TDiskFile::IsOpen() const { return handle_->Fd >= 0; }

namespace {
bool LockAndMeasure(int fd, const std::string& path, uint64_t& size, std::string& error) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        error = ErrnoText(path);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = path + ": не файл";
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? path + ": файл занят другой программой" : ErrnoText(path);
        return false;
    }
    size = static_cast<uint64_t>(st.st_size);
    return true;
}
}  // namespace

bool TDiskFile::Open(const std::string& path, std::string& error) {
    std::string ignored;
    Close(ignored);
    TFd fd{open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)};
    if (fd.Fd < 0) {
        error = ErrnoText(path);
        return false;
    }
    if (!LockAndMeasure(fd.Fd, path, size_, error)) return false;
    handle_->Fd = fd.Fd;
    fd.Fd = -1;
    return true;
}

bool TDiskFile::Create(const std::string& path, uint64_t size, std::string& error) {
    std::string ignored;
    Close(ignored);
    TFd fd{open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644)};
    if (fd.Fd < 0) {
        error = ErrnoText(path);
        return false;
    }
    if (ftruncate(fd.Fd, static_cast<off_t>(size)) != 0 || !LockAndMeasure(fd.Fd, path, size_, error)) {
        if (error.empty()) error = ErrnoText(path);
        unlink(path.c_str());
        return false;
    }
    handle_->Fd = fd.Fd;
    fd.Fd = -1;
    return true;
}

bool TDiskFile::Close(std::string& error) {
    if (handle_->Fd < 0) return true;
    const bool synced = fsync(handle_->Fd) == 0;
    if (!synced) error = std::strerror(errno);
    close(handle_->Fd);
    handle_->Fd = -1;
    size_ = 0;
    return synced;
}

bool TDiskFile::ReadAt(uint64_t offset, void* buffer, size_t count, std::string& error) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (count > 0) {
        const ssize_t r = pread(handle_->Fd, p, count, static_cast<off_t>(offset));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            error = r == 0 ? std::string("конец файла") : std::string(std::strerror(errno));
            return false;
        }
        p += r;
        offset += static_cast<uint64_t>(r);
        count -= static_cast<size_t>(r);
    }
    return true;
}

bool TDiskFile::WriteAt(uint64_t offset, const void* buffer, size_t count, std::string& error) {
    const auto* p = static_cast<const uint8_t*>(buffer);
    while (count > 0) {
        const ssize_t w = pwrite(handle_->Fd, p, count, static_cast<off_t>(offset));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            error = std::strerror(w == 0 ? ENOSPC : errno);
            return false;
        }
        p += w;
        offset += static_cast<uint64_t>(w);
        count -= static_cast<size_t>(w);
    }
    return true;
}

bool ReadWholeFile(const std::string& path, uint64_t limit, std::vector<uint8_t>& data, std::string& error) {
    data.clear();
    TFd fd{open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)};
    struct stat st {};
    if (fd.Fd < 0 || fstat(fd.Fd, &st) != 0) {
        error = ErrnoText(path);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = path + ": не файл";
        return false;
    }
    if (static_cast<uint64_t>(st.st_size) > limit) {
        error = path + ": файл больше " + std::to_string(limit) + " байт";
        return false;
    }
    data.resize(static_cast<size_t>(st.st_size) + 1);
    size_t got = 0;
    for (;;) {
        const ssize_t r = read(fd.Fd, data.data() + got, data.size() - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            error = ErrnoText(path);
            return false;
        }
        if (r == 0) break;
        got += static_cast<size_t>(r);
        if (got > limit) {
            error = path + ": файл больше " + std::to_string(limit) + " байт";
            return false;
        }
        if (got == data.size()) data.resize(data.size() * 2);
    }
    data.resize(got);
    return true;
}

bool WriteNewFile(const std::string& path, const std::vector<uint8_t>& data, std::string& error) {
    // A fresh file: never through a link someone left under that name.
    unlink(path.c_str());
    TFd fd{open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644)};
    if (fd.Fd < 0) {
        error = ErrnoText(path);
        return false;
    }
    bool ok = WriteAll(fd.Fd, data.data(), data.size()) && fsync(fd.Fd) == 0;
    if (!ok) error = ErrnoText(path);
    const bool closed = close(fd.Fd) == 0;
    fd.Fd = -1;
    if (ok && !closed) {
        error = ErrnoText(path);
        ok = false;
    }
    if (!ok) unlink(path.c_str());
    return ok;
}

bool RenameOver(const std::string& from, const std::string& to, std::string& error) {
    if (rename(from.c_str(), to.c_str()) == 0) return true;
    error = ErrnoText(to);
    return false;
}

void RemoveFile(const std::string& path) { unlink(path.c_str()); }

bool AppendLine(const std::string& path, const std::string& line, std::string& error) {
    MakeParents(path);
    TFd fd{open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600)};
    if (fd.Fd < 0) {
        error = ErrnoText(path);
        return false;
    }
    // One write: O_APPEND places it at the end as a whole, whoever else
    // appends meanwhile. Where the file system does not keep that promise
    // (NFS), the lock keeps the appends apart. A short write (a full disk)
    // is not continued, as the rest could land after another program's line.
    const bool locked = flock(fd.Fd, LOCK_EX) == 0;
    ssize_t w;
    do {
        w = write(fd.Fd, line.data(), line.size());
    } while (w < 0 && errno == EINTR);
    const int writeErrno = errno;
    if (locked) flock(fd.Fd, LOCK_UN);
    if (w != static_cast<ssize_t>(line.size())) {
        error = path + ": " + std::strerror(w < 0 ? writeErrno : ENOSPC);
        return false;
    }
    return true;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

}  // namespace skarvel
