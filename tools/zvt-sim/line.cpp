// The pty or serial device the simulator serves, and the pacing of its bytes.
#include "tools/zvt-sim/line.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "link/cport_linux.h"
#include "tools/zvt-sim/errno_text.h"

namespace skarvel::sim {

namespace {

bool MakeRaw(int fd, speed_t speed, bool setSpeed) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) return false;
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (setSpeed && cfsetspeed(&t, speed) != 0) return false;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

}  // namespace

// ---------------------------------------------------------------- line

TLine::~TLine() {
    if (fd_ >= 0) close(fd_);
    if (slave_ >= 0) close(slave_);
    if (!linkPath_.empty()) {
        // Remove our symlink unless someone has replaced it meanwhile.
        char target[PATH_MAX];
        const ssize_t n = readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<size_t>(n)) == slavePath_)
            unlink(linkPath_.c_str());
    }
}

bool TLine::OpenPty(const std::string& linkPath, std::string& error) {
    fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) {
        error = ErrnoText("cannot create a pseudo-terminal");
        return false;
    }
    char name[256];
    if (grantpt(fd_) != 0 || unlockpt(fd_) != 0 || ptsname_r(fd_, name, sizeof name) != 0) {
        error = ErrnoText("cannot set up the pseudo-terminal");
        return false;
    }
    slavePath_ = name;
    // Keep the slave open ourselves: the PC side may close and reopen it.
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        error = ErrnoText("cannot open " + slavePath_);
        return false;
    }
    MakeRaw(slave_, 0, false);
    MakeRaw(fd_, 0, false);
    if (!SetNonBlocking(error)) return false;
    if (!linkPath.empty()) {
        struct stat st {};
        if (lstat(linkPath.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                error = "--link " + linkPath + " exists and is not a symlink";
                return false;
            }
            if (unlink(linkPath.c_str()) != 0) {
                error = ErrnoText("cannot replace the symlink " + linkPath);
                return false;
            }
        }
        if (symlink(slavePath_.c_str(), linkPath.c_str()) != 0) {
            error = ErrnoText("cannot make the symlink " + linkPath);
            return false;
        }
        linkPath_ = linkPath;
    }
    return true;
}

bool TLine::OpenDevice(const std::string& path, uint32_t baud, std::string& error) {
    devicePath_ = path;
    speed_ = skarvel::detail::StandardSpeed(baud);
    if (speed_ == B0) {
        error = "--baud " + std::to_string(baud) + " is not a rate the serial device supports";
        return false;
    }
    return Reopen(error);
}

bool TLine::Reopen(std::string& error) {
    if (fd_ >= 0) close(fd_);
    fd_ = open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        error = ErrnoText("cannot open " + devicePath_);
        return false;
    }
    if (!MakeRaw(fd_, speed_, true)) {
        error = ErrnoText("cannot set up " + devicePath_ + " (not a serial device?)");
        close(fd_);
        fd_ = -1;
        return false;
    }
    tcflush(fd_, TCIOFLUSH);
    return true;
}

void TLine::Lost() {
    if (IsPty() || fd_ < 0) return;
    close(fd_);
    fd_ = -1;
}

bool TLine::SetNonBlocking(std::string& error) {
    const int flags = fcntl(fd_, F_GETFL);
    if (flags < 0 || fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = ErrnoText("cannot set up the pseudo-terminal");
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- pacing

TPacing::TPacing(uint32_t baud)
    : byteNs_(baud > 0 ? 10'000'000'000ull / baud : 0),
      // About a millisecond of the line.
      chunk_(baud > 0 ? std::max<uint64_t>(1, 1'000'000 / byteNs_) : SIZE_MAX) {}

void TPacing::Received(const uint8_t* p, size_t n, uint64_t nowNs) {
    for (size_t i = 0; i < n; ++i) {
        // On a paced line a byte is in one byte time after the previous one.
        rxClock_ = Paced() ? std::max(rxClock_, nowNs) + byteNs_ : nowNs;
        rx_.push_back(TRxByte{p[i], rxClock_});
    }
}

bool TPacing::TakeReceived(uint64_t nowNs, uint8_t& b, uint64_t& inNs) {
    if (rx_.empty() || rx_.front().Ns > nowNs) return false;
    b = rx_.front().B;
    inNs = rx_.front().Ns;
    rx_.pop_front();
    return true;
}

bool TPacing::Queue(const std::string& bytes, uint64_t nowNs) {
    if (tx_.empty()) txClock_ = std::max(txClock_, nowNs);
    if (tx_.size() + bytes.size() > TxBacklogLimit) return false;
    tx_ += bytes;
    return true;
}

std::string_view TPacing::Writable(uint64_t nowNs) const {
    size_t allowed = tx_.size();
    if (Paced()) allowed = nowNs > txClock_ ? std::min<uint64_t>(tx_.size(), (nowNs - txClock_) / byteNs_) : 0;
    // A paced line writes a whole piece at a time (or what is left).
    if (allowed == 0 || allowed < std::min(tx_.size(), chunk_)) return {};
    return std::string_view(tx_).substr(0, allowed);
}

void TPacing::Written(size_t n) {
    tx_.erase(0, n);
    txClock_ += static_cast<uint64_t>(n) * byteNs_;
}

uint64_t TPacing::NextNs(uint64_t nowNs, bool canWrite) const {
    uint64_t wake = UINT64_MAX;
    // Received bytes go to the device about once a millisecond, and at
    // the moment the last byte queued is in: the PC writes a frame at
    // once, so that is the end of the frame, which a real device sees
    // when it is in, not up to a millisecond later.
    if (!rx_.empty()) wake = std::min(std::max(rx_.front().Ns, nowNs + 1'000'000), rx_.back().Ns);
    if (!tx_.empty() && canWrite) {
        const uint64_t t = Paced() ? txClock_ + std::min(tx_.size(), chunk_) * byteNs_ : nowNs;
        wake = std::min(wake, t);
    }
    return wake;
}

}  // namespace skarvel::sim
