// The medium: an image file (locked, written through with pwrite) or memory.
#include "tools/zvt-sim/medium.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "flashfs/fat_layout.h"
#include "link/zvt_drv.h"
#include "tools/zvt-sim/errno_text.h"

namespace skarvel::sim {

namespace {

bool ReadFull(int fd, uint8_t* p, size_t n, off_t at) {
    while (n > 0) {
        const ssize_t r = pread(fd, p, n, at);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) {  // the image was shortened behind our back: the rest reads as zeros
            std::memset(p, 0, n);
            return true;
        }
        p += r;
        n -= static_cast<size_t>(r);
        at += r;
    }
    return true;
}

bool WriteFull(int fd, const uint8_t* p, size_t n, off_t at) {
    while (n > 0) {
        const ssize_t r = pwrite(fd, p, n, at);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
        at += r;
    }
    return true;
}

}  // namespace

TMedium::~TMedium() {
    if (fd_ >= 0) close(fd_);
}

bool TMedium::Open(const std::string& path, std::string& error) {
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = ErrnoText("cannot open image " + path);
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "image " + path + " is not a regular file";
        close(fd);
        return false;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = "image " + path + " is in use by another simulator";
        close(fd);
        return false;
    }
    off_t size = st.st_size;
    if (size == 0) {
        // A new (or empty) image: 2 MiB of zeros.
        if (ftruncate(fd, ZvtMediumSize) != 0) {
            error = ErrnoText("cannot size image " + path);
            close(fd);
            return false;
        }
        size = ZvtMediumSize;
    }
    if (size < static_cast<off_t>(SectorSize)) {
        error = "image " + path + " is smaller than one sector (512 bytes)";
        close(fd);
        return false;
    }
    const off_t sectors = size / static_cast<off_t>(SectorSize);
    sectors_ = sectors > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sectors);
    fd_ = fd;
    return true;
}

void TMedium::OpenMemory(uint32_t bytes) {
    memory_.assign(bytes, 0);
    sectors_ = bytes / SectorSize;
}

bool TMedium::Read(uint32_t sector, uint8_t* out512, std::string& error) {
    if (sector >= sectors_) {
        error = "sector beyond the medium";
        return false;
    }
    if (fd_ < 0) {
        std::memcpy(out512, memory_.data() + size_t{sector} * SectorSize, SectorSize);
        return true;
    }
    if (!ReadFull(fd_, out512, SectorSize, static_cast<off_t>(sector) * SectorSize)) {
        error = ErrnoText("image read failed");
        return false;
    }
    return true;
}

bool TMedium::Write(uint32_t sector, const uint8_t* in512, std::string& error) {
    if (sector >= sectors_) {
        error = "sector beyond the medium";
        return false;
    }
    if (fd_ < 0) {
        std::memcpy(memory_.data() + size_t{sector} * SectorSize, in512, SectorSize);
        return true;
    }
    if (!WriteFull(fd_, in512, SectorSize, static_cast<off_t>(sector) * SectorSize)) {
        error = ErrnoText("image write failed");
        return false;
    }
    return true;
}

}  // namespace skarvel::sim
