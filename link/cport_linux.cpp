// The serial port on Linux: a tty device driven through termios and poll.
//
// The descriptor is non-blocking throughout: reads return what is queued,
// writes loop on poll(POLLOUT) until every byte is taken (tcdrain cannot be
// trusted on every tty, a pty for one), and the event thread polls the
// descriptor together with a wake pipe that Close writes to.
#include "link/cport_linux.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "core/deadline.h"
#include "link/cport_termios2.h"
#include "link/cport_users.h"
#include "link/port_access_linux.h"

namespace skarvel {

namespace detail {

speed_t StandardSpeed(uint32_t rate) {
    struct Entry {
        uint32_t rate;
        speed_t speed;
    };
    static const Entry table[] = {
        {50, B50},         {75, B75},           {110, B110},         {134, B134},
        {150, B150},       {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},     {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},     {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200}, {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000}, {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const Entry& e : table)
        if (e.rate == rate) return e.speed;
    return B0;
}

void FillTermios(termios& t, const TLineSettings& s) {
    cfmakeraw(&t);
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK | ISTRIP | IGNBRK | BRKINT);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    // No modem-line gating of open or reads; lines drop when the port closes.
    t.c_cflag |= CLOCAL | CREAD | HUPCL;

    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= sizes[s.DataBits <= dbEight ? s.DataBits : dbEight];

    switch (s.Parity) {
    case prNone: break;
    case prOdd: t.c_cflag |= PARENB | PARODD; break;
    case prEven: t.c_cflag |= PARENB; break;
    case prMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case prSpace: t.c_cflag |= PARENB | CMSPAR; break;
    }
    // Checking on: a byte with a parity error reads as NUL (termios knows no
    // replacement character, so ReplaceChar has no effect here).
    if (s.ParityCheck && s.Parity != prNone) t.c_iflag |= INPCK;

    // termios has one stop-bit flag: 1.5 stop bits become two.
    if (s.StopBits != sbOneStopBit) t.c_cflag |= CSTOPB;

    // CRTSCTS covers both directions at once: CTS gates sending, RTS tells
    // the far end when to stop.
    if (s.OutCTSFlow || s.ControlRTS == rtsHandshake) t.c_cflag |= CRTSCTS;
    if (s.XonXoffOut) t.c_iflag |= IXON;
    if (s.XonXoffIn) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = s.XonChar;
    t.c_cc[VSTOP] = s.XoffChar;

    // Reads never wait: they return what is queued.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    // DSR flow, DSR sensitivity, continue-on-XOFF and NUL discarding have no
    // termios counterpart; those settings are kept but change nothing here.
}

bool RequestLowLatency(int fd) {
    serial_struct ss {};
    if (ioctl(fd, TIOCGSERIAL, &ss) != 0) return false;
    if (ss.flags & ASYNC_LOW_LATENCY) return true;
    // Only the flag changes: the kernel lets an unprivileged user set it.
    ss.flags |= ASYNC_LOW_LATENCY;
    return ioctl(fd, TIOCSSERIAL, &ss) == 0;
}

uint64_t UnwrittenSinceStamp(int64_t stampSec, int64_t nowMs) {
    const int64_t slotEndMs = ((stampSec >> 3) + 1) * 8 * 1000;
    return nowMs > slotEndMs ? static_cast<uint64_t>(nowMs - slotEndMs) : 0;
}

}  // namespace detail

const int ComErrorClosed = EBADF;
const int ComErrorInvalid = EINVAL;

namespace {

bool IsGoneError(int err) { return err == EIO || err == ENXIO || err == ENODEV; }

class TPosixComBackend final : public TComBackend {
public:
    TPosixComBackend(int fd, int wakeRead, int wakeWrite)
        : fd_(fd), wakeRead_(wakeRead), wakeWrite_(wakeWrite) {}

    ~TPosixComBackend() override {
        Close();
        ::close(wakeRead_);
        ::close(wakeWrite_);
    }

    void ApplyLine(const TLineSettings& s) override {
        detail::TComUsers::TUse use(users_, CE_SETSTATE_FAILED);
        if (s.BaudRate == 0 || s.BaudRate > INT32_MAX) throw EComPort(CE_SETSTATE_FAILED, EINVAL);
        termios t {};
        if (tcgetattr(fd_, &t) != 0) throw EComPort(CE_SETSTATE_FAILED, errno);
        detail::FillTermios(t, s);
        const speed_t speed = detail::StandardSpeed(s.BaudRate);
        if (speed != B0) {
            cfsetispeed(&t, speed);
            cfsetospeed(&t, speed);
            if (tcsetattr(fd_, TCSANOW, &t) != 0) throw EComPort(CE_SETSTATE_FAILED, errno);
        } else {
            detail::TRawTermios raw;
            raw.iflag = t.c_iflag;
            raw.oflag = t.c_oflag;
            raw.cflag = t.c_cflag;
            raw.lflag = t.c_lflag;
            static_assert(sizeof raw.cc >= NCCS);
            std::memcpy(raw.cc, t.c_cc, NCCS);
            if (int err = detail::SetTermiosWithRate(fd_, raw, s.BaudRate))
                throw EComPort(CE_SETSTATE_FAILED, err);
        }
        // DTR and RTS are held as the settings say, after the termios change
        // (a driver may raise both when the rate is set). Handshake and toggle
        // modes have no counterpart here: the line is raised and, with
        // CRTSCTS, the driver moves RTS itself.
        SetModemLine(TIOCM_DTR, s.ControlDTR != dtrDisable);
        SetModemLine(TIOCM_RTS, s.ControlRTS != rtsDisable);
    }

    size_t Write(const uint8_t* data, size_t len, int timeoutMs) override {
        detail::TComUsers::TUse use(users_, CE_WRITE_FAILED);
        const TDeadline deadline(timeoutMs);
        size_t done = 0;
        while (done < len) {
            const ssize_t n = ::write(fd_, data + done, len - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                const int err = errno;
                if (IsGoneError(err)) hungUp_.store(true);
                throw EComPort(CE_WRITE_FAILED, err);
            }
            // The output queue is full: wait for room, for Close, or for the time-out.
            const int waitMs = deadline.RemainingMs();
            if (waitMs == 0) throw EComPort(CE_WRITE_FAILED, ETIMEDOUT);
            pollfd fds[2] = {{fd_, POLLOUT, 0}, {wakeRead_, POLLIN, 0}};
            const int r = ::poll(fds, 2, waitMs);
            if (r < 0) {
                if (errno == EINTR) continue;
                throw EComPort(CE_WRITE_FAILED, errno);
            }
            if (fds[1].revents != 0) throw EComPort(CE_WRITE_FAILED, EBADF);  // closing
            if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) && !(fds[0].revents & POLLOUT)) {
                hungUp_.store(true);
                throw EComPort(CE_WRITE_FAILED, EIO);
            }
        }
        return done;
    }

    size_t Read(uint8_t* data, size_t len) override {
        detail::TComUsers::TUse use(users_, CE_READ_FAILED);
        for (;;) {
            const ssize_t n = ::read(fd_, data, len);
            if (n >= 0) return static_cast<size_t>(n);
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
            const int err = errno;
            if (IsGoneError(err)) hungUp_.store(true);
            throw EComPort(CE_READ_FAILED, err);
        }
    }

    int QueuedInput() override {
        detail::TComUsers::TUse use(users_, CE_CLEARCOM_FAILED);
        int count = 0;
        if (ioctl(fd_, FIONREAD, &count) != 0) throw EComPort(CE_CLEARCOM_FAILED, errno);
        return count;
    }

    TModemSignals Modem() override {
        detail::TComUsers::TUse use(users_, CE_MODEMSTAT_FAILED);
        TModemSignals m;
        int bits = 0;
        if (ioctl(fd_, TIOCMGET, &bits) != 0) {
            // A tty without modem lines (a pty) reports them all off.
            if (errno == ENOTTY || errno == EINVAL) return m;
            throw EComPort(CE_MODEMSTAT_FAILED, errno);
        }
        m.CTS = (bits & TIOCM_CTS) != 0;
        m.DSR = (bits & TIOCM_DSR) != 0;
        m.Ring = (bits & TIOCM_RI) != 0;
        m.RLSD = (bits & TIOCM_CD) != 0;
        return m;
    }

    void Purge() override {
        detail::TComUsers::TUse use(users_, CE_PURGE_FAILED);
        if (tcflush(fd_, TCIOFLUSH) != 0) throw EComPort(CE_PURGE_FAILED, errno);
    }

    TComWait WaitForEvent(bool wantInput) override {
        const detail::TComUsers::TWait wait(users_);
        if (!wait.Entered()) return TComWait::Cancelled;
        for (;;) {
            pollfd fds[2] = {{fd_, static_cast<short>(wantInput ? POLLIN : 0), 0}, {wakeRead_, POLLIN, 0}};
            const int r = ::poll(fds, 2, -1);
            if (r < 0) {
                if (errno == EINTR) continue;
                hungUp_.store(true);
                return TComWait::HangUp;
            }
            if (fds[1].revents != 0) return TComWait::Cancelled;
            // A hang-up ends the waiting even with bytes still reported: a
            // hung-up tty reads as empty and refuses its ioctls.
            if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                hungUp_.store(true);
                return TComWait::HangUp;
            }
            if (fds[0].revents & POLLIN) return TComWait::Input;
        }
    }

    bool HungUp() const override { return hungUp_.load(); }

    std::optional<uint64_t> UnwrittenMs() const override {
        struct stat st {};
        timespec now {};
        if (::fstat(fd_, &st) != 0 || !S_ISCHR(st.st_mode) || clock_gettime(CLOCK_REALTIME, &now) != 0)
            return std::nullopt;
        return detail::UnwrittenSinceStamp(st.st_mtim.tv_sec,
                                           static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
    }

    void Close() override {
        users_.Close(
            [this] {
                // The pipe is never drained: every poll from now on wakes at once.
                const char b = 1;
                while (::write(wakeWrite_, &b, 1) < 0 && errno == EINTR) {}
            },
            [this] {
                // Whatever is still queued either way goes with the port; a line
                // that has vanished refuses the flush, which changes nothing here.
                tcflush(fd_, TCIOFLUSH);
                // The exclusive mode outlives this descriptor while anyone else
                // holds the tty open (the simulator keeps its pty's slave open):
                // left set, it would refuse every later opener but root.
                ioctl(fd_, TIOCNXCL);
                ::close(fd_);
                fd_ = -1;
            });
    }

private:
    void SetModemLine(int bit, bool on) {
        if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) == 0) return;
        // A pty has no modem lines.
        if (errno == ENOTTY || errno == EINVAL) return;
        throw EComPort(CE_SETSTATE_FAILED, errno);
    }

    int fd_;
    const int wakeRead_, wakeWrite_;
    detail::TComUsers users_;
    std::atomic<bool> hungUp_{false};
};

bool ParseComNumber(const std::string& name, unsigned& n) {
    if (name.size() < 4 || name.size() > 8) return false;
    if (strncasecmp(name.c_str(), "COM", 3) != 0) return false;
    if (name[3] < '1' || name[3] > '9') return false;
    n = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
        n = n * 10 + static_cast<unsigned>(name[i] - '0');
    }
    return true;
}

}  // namespace

std::string ComDevicePath(const std::string& name) {
    if (name.empty()) return std::string();
    if (name[0] == '/') return name;
    unsigned n = 0;
    if (ParseComNumber(name, n)) return "/dev/ttyS" + std::to_string(n - 1);
    // Kernel tty names have no '-'; udev's names of an adapter (as zvt ports
    // lists them) always have.
    if (name.find('-') != std::string::npos) return "/dev/serial/by-id/" + name;
    return "/dev/" + name;
}

std::shared_ptr<TComBackend> OpenComBackend(const std::string& name) {
    const std::string path = ComDevicePath(name);
    if (path.empty()) throw EComPort(CE_OPEN_FAILED, ENOENT);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw ComOpenError(path, errno);
    // One program per port: two of them on one line would take each other's
    // answers. TIOCEXCL makes later opens fail with EBUSY, but not for root,
    // so the holder also keeps an exclusive lock on the device for as long as
    // the descriptor is open. The lock comes first: an opener that loses
    // touches nothing of the line before it closes its descriptor again.
    int locked;
    while ((locked = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {}
    if (locked != 0) {
        const int err = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        throw EComPort(CE_OPEN_FAILED, err);
    }
    if (ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
        const int err = errno;
        ::close(fd);
        throw EComPort(CE_OPEN_FAILED, err);
    }
    // A USB adapter holds received bytes back for its latency timer (16 ms by
    // default) before it hands them on; for a protocol that waits for each
    // answer that is a quarter of its speed. Ports that know no such mode (a
    // pty, a plain UART) are used as they are. The mode stays with the device
    // after the port closes, as it would when set by hand.
    detail::RequestLowLatency(fd);
    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int err = errno;
        ::close(fd);
        throw EComPort(CE_OPEN_FAILED, err);
    }
    return std::make_shared<TPosixComBackend>(fd, wake[0], wake[1]);
}

}  // namespace skarvel
