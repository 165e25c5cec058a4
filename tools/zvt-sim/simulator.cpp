// zvt-sim: the device, its medium and the line it talks over.
#include "tools/zvt-sim/simulator.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "link/cport_linux.h"
#include "link/zvt_frame.h"

namespace skarvel::sim {

namespace {

// Commands of the device.
constexpr uint8_t CmdWriteSector = 0x29;
constexpr uint8_t CmdReadSector = 0x80;
constexpr uint8_t CmdIdentify = 0x9F;

// Status bytes of refused commands (any non-zero Status makes the PC ignore
// the answer and send again).
constexpr uint8_t StatusFault = 0x01;        // injected with --p-status
constexpr uint8_t StatusOutOfRange = 0x02;   // sector beyond the medium
constexpr uint8_t StatusNoData = 0x03;       // write without its data block
constexpr uint8_t StatusMediumError = 0x04;  // the image could not be read or written

// Never more than this many answer bytes wait for the line (nobody reading).
constexpr size_t TxBacklogLimit = 1 << 20;

bool ParseUnsigned(const std::string& s, uint64_t max, uint64_t& out) {
    if (s.empty() || s[0] == '-' || s[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(s.c_str(), &end, 0);
    if (errno != 0 || end == s.c_str() || *end != '\0' || v > max) return false;
    out = v;
    return true;
}

bool ParseProbability(const std::string& s, double& out) {
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (errno != 0 || end == s.c_str() || *end != '\0' || !(v >= 0.0 && v <= 1.0)) return false;
    out = v;
    return true;
}

std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

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

// ---------------------------------------------------------------- options

std::string UsageText() {
    return "Usage: zvt-sim [OPTIONS]\n"
           "Plays the ZVT flash device on a pseudo-terminal (default) or a serial device.\n"
           "On a pseudo-terminal the first line on stdout is \"PTY <path>\" (the port to open).\n"
           "\n"
           "  --image PATH       medium image; created as 2 MiB of zeros when missing (or empty);\n"
           "                     an image of another size is used as it is. Every accepted sector\n"
           "                     write is in the file before its answer goes out.\n"
           "                     Without --image: a 2 MiB medium in memory.\n"
           "  --link PATH        also make a symlink PATH to the pty (an old symlink is replaced)\n"
           "  --device PATH      serve a serial device (raw mode) instead of a pty\n"
           "  --baud N           pty: pace bytes both ways at N baud (10 bits a byte);\n"
           "                     --device: the line rate (default 115200)\n"
           "  --device-code N    device code in the identify answer (default 0x2C)\n"
           "  --busy-ms N        answer a write with Value 1 (busy), then with Value 0 after N ms\n"
           "  --seed N           seed of the fault dice (default 1)\n"
           "  --p-drop P         probability that an answer is not sent\n"
           "  --p-corrupt P      probability of one flipped bit in an answer (frame or data block)\n"
           "  --p-status P       probability of a non-zero Status in an answer\n"
           "  --p-late P         probability that an answer goes out late, after 460 to 900 ms\n"
           "                     (the PC side relies on late answers arriving within 1 s)\n"
           "  --late-answer N    answer number N (from 1, every answer counts) goes out late;\n"
           "                     may be given more than once\n"
           "  --late-ms MS       how late those answers go out (default 600)\n"
           "  --silent           never answer (writes are still stored)\n"
           "  -v, --verbose      log every frame to stderr\n"
           "  -h, --help         show this text\n"
           "\n"
           "Faults never change what is stored: a write whose answer is lost has been stored.\n"
           "Frames with a bad CRC get no answer; a partial frame is dropped after 100 ms of silence.\n"
           "Sectors beyond the medium are answered with Status 2.\n"
           "On SIGINT or SIGTERM the frames handled are counted on stdout, e.g.\n"
           "\"identify 3, read 120, write 40, other 0, bad-crc 1\", and the exit code is 0.\n"
           "Bad options or an unusable image or line: exit code 2.\n";
}

TParse ParseOptions(int argc, char** argv, TSimOptions& out, std::string& error) {
    bool baudGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        if (arg.rfind("--", 0) == 0) {
            const size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg.resize(eq);
                hasValue = true;
            }
        }
        auto need = [&](std::string& v) {
            if (hasValue) {
                v = value;
                return true;
            }
            if (i + 1 >= argc) {
                error = "option " + arg + " needs a value";
                return false;
            }
            v = argv[++i];
            return true;
        };
        auto number = [&](uint64_t max, uint64_t& v) {
            std::string s;
            if (!need(s)) return false;
            if (!ParseUnsigned(s, max, v)) {
                error = "bad value for " + arg + ": '" + s + "' (a number from 0 to " +
                        std::to_string(max) + ")";
                return false;
            }
            return true;
        };
        auto probability = [&](double& p) {
            std::string s;
            if (!need(s)) return false;
            if (!ParseProbability(s, p)) {
                error = "bad value for " + arg + ": '" + s + "' (a probability from 0 to 1)";
                return false;
            }
            return true;
        };
        auto path = [&](std::string& p) {
            if (!need(p)) return false;
            if (p.empty()) {
                error = "option " + arg + " needs a non-empty path";
                return false;
            }
            return true;
        };
        uint64_t n = 0;
        bool ok = true;
        if (arg == "-h" || arg == "--help") {
            return TParse::Help;
        } else if (arg == "-v" || arg == "--verbose") {
            out.Verbose = true;
        } else if (arg == "--silent") {
            out.Silent = true;
        } else if (arg == "--image") {
            ok = path(out.ImagePath);
        } else if (arg == "--link") {
            ok = path(out.LinkPath);
        } else if (arg == "--device") {
            ok = path(out.DevicePath);
        } else if (arg == "--baud") {
            ok = number(4'000'000, n);
            if (ok && n == 0) {
                error = "bad value for --baud: must be at least 1";
                ok = false;
            }
            out.Baud = static_cast<uint32_t>(n);
            baudGiven = true;
        } else if (arg == "--device-code") {
            ok = number(255, n);
            out.DeviceCode = static_cast<uint8_t>(n);
        } else if (arg == "--busy-ms") {
            ok = number(60'000, n);
            out.BusyMs = static_cast<uint32_t>(n);
        } else if (arg == "--seed") {
            ok = number(UINT64_MAX, n);
            out.Seed = n;
        } else if (arg == "--p-drop") {
            ok = probability(out.PDrop);
        } else if (arg == "--p-corrupt") {
            ok = probability(out.PCorrupt);
        } else if (arg == "--p-status") {
            ok = probability(out.PStatus);
        } else if (arg == "--p-late") {
            ok = probability(out.PLate);
        } else if (arg == "--late-answer") {
            ok = number(UINT64_MAX, n) && n > 0;
            if (ok) out.LateAnswers.push_back(n);
            else if (error.empty()) error = "bad value for --late-answer: must be at least 1";
        } else if (arg == "--late-ms") {
            ok = number(60'000, n);
            out.LateMs = static_cast<uint32_t>(n);
        } else {
            error = "unknown option '" + std::string(argv[i]) + "'";
            ok = false;
        }
        if (ok && hasValue &&
            (arg == "-v" || arg == "--verbose" || arg == "--silent")) {
            error = "option " + arg + " takes no value";
            ok = false;
        }
        if (!ok) return TParse::Error;
    }
    if (!out.DevicePath.empty() && !out.LinkPath.empty()) {
        error = "--link applies to the pseudo-terminal only, not to --device";
        return TParse::Error;
    }
    if (!out.DevicePath.empty() && !baudGiven) out.Baud = 115200;
    return TParse::Run;
}

// ---------------------------------------------------------------- medium

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
        if (ftruncate(fd, DefaultMediumBytes) != 0) {
            error = ErrnoText("cannot size image " + path);
            close(fd);
            return false;
        }
        size = DefaultMediumBytes;
    }
    if (size < static_cast<off_t>(SectorBytes)) {
        error = "image " + path + " is smaller than one sector (512 bytes)";
        close(fd);
        return false;
    }
    const off_t sectors = size / static_cast<off_t>(SectorBytes);
    sectors_ = sectors > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sectors);
    fd_ = fd;
    return true;
}

void TMedium::OpenMemory(uint32_t bytes) {
    memory_.assign(bytes, 0);
    sectors_ = bytes / SectorBytes;
}

bool TMedium::Read(uint32_t sector, uint8_t* out512, std::string& error) {
    if (sector >= sectors_) {
        error = "sector beyond the medium";
        return false;
    }
    if (fd_ < 0) {
        std::memcpy(out512, memory_.data() + size_t{sector} * SectorBytes, SectorBytes);
        return true;
    }
    if (!ReadFull(fd_, out512, SectorBytes, static_cast<off_t>(sector) * SectorBytes)) {
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
        std::memcpy(memory_.data() + size_t{sector} * SectorBytes, in512, SectorBytes);
        return true;
    }
    if (!WriteFull(fd_, in512, SectorBytes, static_cast<off_t>(sector) * SectorBytes)) {
        error = ErrnoText("image write failed");
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- dice

uint64_t TDice::Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double TDice::Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }

uint32_t TDice::Between(uint32_t lo, uint32_t hi) {
    return lo + static_cast<uint32_t>(Next() % (uint64_t{hi} - lo + 1));
}

std::string FormatCounts(const TSimCounts& c) {
    return "identify " + std::to_string(c.Identify) + ", read " + std::to_string(c.Read) +
           ", write " + std::to_string(c.Write) + ", other " + std::to_string(c.Other) +
           ", bad-crc " + std::to_string(c.BadCrc);
}

// ---------------------------------------------------------------- device

TSimDevice::TSimDevice(const TSimOptions& options, TMedium& medium, FILE* log)
    : options_(options), medium_(medium), log_(log), dice_(options.Seed) {}

void TSimDevice::Log(uint64_t us, const char* fmt, ...) {
    if (!log_) return;
    const uint64_t rel = started_ && us >= startUs_ ? us - startUs_ : 0;
    std::fprintf(log_, "[%4" PRIu64 ".%03" PRIu64 "] ", rel / 1'000'000, (rel / 1000) % 1000);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(log_, fmt, ap);
    va_end(ap);
    std::fputc('\n', log_);
    std::fflush(log_);
}

void TSimDevice::Receive(uint8_t b, uint64_t us) {
    if (!started_) {
        started_ = true;
        startUs_ = us;
    }
    if (!buf_.empty() && us >= lastByteUs_ + FrameGapUs) {
        Log(us, "dropped %zu bytes of a partial frame after a pause", buf_.size());
        buf_.clear();
    }
    lastByteUs_ = us;
    buf_.push_back(b);
    Parse(us);
}

void TSimDevice::Parse(uint64_t us) {
    for (;;) {
        // Skip everything up to 0x10 0x01 (a lone 0x10 at the end may start one).
        size_t skip = 0;
        while (skip < buf_.size() &&
               !(buf_[skip] == FrameDle && (skip + 1 >= buf_.size() || buf_[skip + 1] == FrameTypeAnswer)))
            ++skip;
        if (skip > 0) {
            Log(us, "skipped %zu bytes outside frames", skip);
            buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(skip));
        }
        if (buf_.size() < CommandFrameLen) return;
        if (Crc16(buf_.data(), CommandFrameLen) != 0) {
            ++counts_.BadCrc;
            Log(us, "command frame with a bad CRC: no answer");
            buf_.erase(buf_.begin());  // look for the next frame start inside it
            continue;
        }
        const uint8_t cmd = buf_[2];
        const uint16_t sector = static_cast<uint16_t>(buf_[3] << 8 | buf_[4]);
        if (buf_[5] == 0) {
            buf_.erase(buf_.begin(), buf_.begin() + CommandFrameLen);
            Handle(cmd, sector, nullptr, us);
            continue;
        }
        // The command announces a data block.
        if (buf_.size() < CommandFrameLen + 2) return;
        if (buf_[8] != FrameDle || buf_[9] != FrameTypeData) {
            ++counts_.BadCrc;
            Log(us, "command 0x%02X announces a data block that does not follow: no answer", cmd);
            buf_.erase(buf_.begin(), buf_.begin() + CommandFrameLen);
            continue;
        }
        const size_t whole = CommandFrameLen + SendDataBlockLen;
        if (buf_.size() < whole) return;
        if (Crc16(buf_.data() + CommandFrameLen, SendDataBlockLen) != 0) {
            ++counts_.BadCrc;
            Log(us, "data block of command 0x%02X sector %u with a bad CRC: no answer", cmd, sector);
            buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(whole));
            continue;
        }
        std::vector<uint8_t> payload(buf_.begin() + CommandFrameLen + 2,
                                     buf_.begin() + CommandFrameLen + 2 + SendPayloadLen);
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<std::ptrdiff_t>(whole));
        Handle(cmd, sector, payload.data(), us);
    }
}

void TSimDevice::Handle(uint8_t cmd, uint16_t sector, const uint8_t* payload, uint64_t us) {
    std::string error;
    switch (cmd) {
    case CmdIdentify:
        ++counts_.Identify;
        Log(us, "identify");
        Answer(0, options_.DeviceCode, nullptr, us);
        return;
    case CmdReadSector: {
        ++counts_.Read;
        Log(us, "read sector %u", sector);
        uint8_t data[RecvPayloadLen] = {};  // the sector, then 16 zeros
        if (sector >= medium_.Sectors()) {
            Log(us, "sector %u is beyond the medium (%u sectors)", sector, medium_.Sectors());
            Answer(StatusOutOfRange, 0, nullptr, us);
        } else if (!medium_.Read(sector, data, error)) {
            std::fprintf(stderr, "zvt-sim: sector %u: %s\n", sector, error.c_str());
            Answer(StatusMediumError, 0, nullptr, us);
        } else {
            Answer(0, 0, data, us);
        }
        return;
    }
    case CmdWriteSector: {
        ++counts_.Write;
        Log(us, "write sector %u", sector);
        if (!payload) {
            Log(us, "write without a data block");
            Answer(StatusNoData, 0, nullptr, us);
        } else if (sector >= medium_.Sectors()) {
            Log(us, "sector %u is beyond the medium (%u sectors)", sector, medium_.Sectors());
            Answer(StatusOutOfRange, 0, nullptr, us);
        } else if (!medium_.Write(sector, payload, error)) {
            std::fprintf(stderr, "zvt-sim: sector %u: %s\n", sector, error.c_str());
            Answer(StatusMediumError, 0, nullptr, us);
        } else if (options_.BusyMs > 0) {
            // Busy first; the device reports again on its own when done.
            const uint64_t sent = Answer(0, 1, nullptr, us);
            Answer(0, 0, nullptr, sent + uint64_t{options_.BusyMs} * 1000);
        } else {
            Answer(0, 0, nullptr, us);
        }
        return;
    }
    default:
        ++counts_.Other;
        Log(us, "command 0x%02X sector %u", cmd, sector);
        Answer(0, 0, nullptr, us);
        return;
    }
}

uint64_t TSimDevice::Answer(uint8_t status, uint8_t value, const uint8_t* payload528, uint64_t us) {
    if (options_.Silent) {
        Log(us, "silent: no answer");
        return us;
    }
    // The same draws for every answer, so one seed gives one fault sequence.
    const bool drop = dice_.Chance(options_.PDrop);
    const bool late = dice_.Chance(options_.PLate);
    const bool corrupt = dice_.Chance(options_.PCorrupt);
    const bool badStatus = dice_.Chance(options_.PStatus);
    const uint32_t lateMs = dice_.Between(LateMinMs, LateMaxMs);
    const uint64_t bitDraw = dice_.Next();

    if (badStatus && status == 0) {
        status = StatusFault;
        payload528 = nullptr;
    }
    std::string bytes = BuildAnswerBytes(status, value, 0, payload528 ? 1 : 0);
    if (payload528) bytes += BuildDataBlockBytes(payload528);
    ++answers_;
    const bool lateHere = std::find(options_.LateAnswers.begin(), options_.LateAnswers.end(), answers_) !=
                          options_.LateAnswers.end();
    const uint64_t due = us + (lateHere ? uint64_t{options_.LateMs} * 1000 : late ? uint64_t{lateMs} * 1000 : 0);
    std::string notes;
    if (lateHere) notes += " [fault: answer " + std::to_string(answers_) + " late]";
    if (badStatus) notes += " [fault: status]";
    if (late) notes += " [fault: late " + std::to_string(lateMs) + " ms]";
    if (corrupt) {
        const size_t bit = static_cast<size_t>(bitDraw % (bytes.size() * 8));
        bytes[bit / 8] = static_cast<char>(bytes[bit / 8] ^ (1 << (bit % 8)));
        notes += " [fault: bit " + std::to_string(bit) + " flipped]";
    }
    if (drop) {
        Log(us, "answer status %u value 0x%02X dropped [fault: drop]", status, value);
        return due;
    }
    Log(us, "answer status %u value 0x%02X%s%s", status, value,
        payload528 ? " + data block" : "", notes.c_str());
    pending_.push(TPending{due, seq_++, std::move(bytes)});
    return due;
}

std::string TSimDevice::TakeDue(uint64_t nowUs) {
    std::string out;
    while (!pending_.empty() && pending_.top().Due <= nowUs) {
        out += pending_.top().Bytes;
        pending_.pop();
    }
    return out;
}

uint64_t TSimDevice::NextDue() const { return pending_.empty() ? UINT64_MAX : pending_.top().Due; }

// ---------------------------------------------------------------- line

namespace {

volatile sig_atomic_t gStop = 0;

void OnStopSignal(int) { gStop = 1; }

uint64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000ull + static_cast<uint64_t>(ts.tv_nsec);
}

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

// Sleeps up to ms, woken early by SIGINT/SIGTERM (blocked outside waits).
void PauseMs(int ms, const sigset_t& waitMask) {
    timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1'000'000};
    ppoll(nullptr, 0, &ts, &waitMask);
}

class TLine {
public:
    ~TLine() {
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

    bool OpenPty(const std::string& linkPath, std::string& error) {
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

    bool OpenDevice(const std::string& path, uint32_t baud, std::string& error) {
        devicePath_ = path;
        speed_ = skarvel::detail::StandardSpeed(baud);
        if (speed_ == B0) {
            error = "--baud " + std::to_string(baud) + " is not a rate the serial device supports";
            return false;
        }
        return Reopen(error);
    }

    bool Reopen(std::string& error) {
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

    // A serial device that failed is closed and opened again later.
    void Lost() {
        if (IsPty() || fd_ < 0) return;
        close(fd_);
        fd_ = -1;
    }

    bool IsPty() const { return devicePath_.empty(); }
    int Fd() const { return fd_; }
    const std::string& SlavePath() const { return slavePath_; }

private:
    bool SetNonBlocking(std::string& error) {
        const int flags = fcntl(fd_, F_GETFL);
        if (flags < 0 || fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0) {
            error = ErrnoText("cannot set up the pseudo-terminal");
            return false;
        }
        return true;
    }

    int fd_ = -1;
    int slave_ = -1;
    speed_t speed_ = B115200;
    std::string slavePath_, linkPath_, devicePath_;
};

struct TRxByte {
    uint8_t b;
    uint64_t ns;  // when its last bit is in
};

}  // namespace

int RunSimulator(const TSimOptions& options) {
    TMedium medium;
    std::string error;
    if (options.ImagePath.empty()) {
        medium.OpenMemory(DefaultMediumBytes);
    } else if (!medium.Open(options.ImagePath, error)) {
        std::fprintf(stderr, "zvt-sim: %s\n", error.c_str());
        return 2;
    }

    // SIGINT/SIGTERM are blocked except while waiting, so none is missed.
    sigset_t stopSignals, waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    TLine line;
    if (options.DevicePath.empty()) {
        if (!line.OpenPty(options.LinkPath, error)) {
            std::fprintf(stderr, "zvt-sim: %s\n", error.c_str());
            return 2;
        }
        std::printf("PTY %s\n", line.SlavePath().c_str());
    } else {
        if (!line.OpenDevice(options.DevicePath, options.Baud, error)) {
            std::fprintf(stderr, "zvt-sim: %s\n", error.c_str());
            return 2;
        }
        std::printf("DEVICE %s\n", options.DevicePath.c_str());
    }
    std::fflush(stdout);

    TSimDevice device(options, medium, options.Verbose ? stderr : nullptr);
    if (options.Verbose)
        std::fprintf(stderr, "zvt-sim: medium of %u sectors, device code 0x%02X\n", medium.Sectors(),
                     options.DeviceCode);

    // A serial device paces itself; on a pty the bytes are paced here.
    const bool pacing = options.Baud > 0 && line.IsPty();
    // The kernel may run a timed wait up to 50 us late by default; a paced
    // line wakes twice per frame, and a real line has no such lag.
    if (pacing) prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    const uint64_t byteNs = pacing ? 10'000'000'000ull / options.Baud : 0;
    // Bytes written or handed on at once: about a millisecond of the line.
    const size_t chunk = pacing ? std::max<uint64_t>(1, 1'000'000 / byteNs) : SIZE_MAX;

    std::deque<TRxByte> rx;
    uint64_t rxClock = 0;
    std::string tx;
    uint64_t txClock = 0;
    bool txBlocked = false;
    uint8_t readBuf[4096];

    while (!gStop) {
        if (line.Fd() < 0) {
            // The serial device went away: try it again now and then.
            std::string reopenError;
            if (!line.Reopen(reopenError)) {
                PauseMs(500, waitMask);
                continue;
            }
            std::fprintf(stderr, "zvt-sim: %s is back\n", options.DevicePath.c_str());
        }
        uint64_t now = NowNs();
        while (!rx.empty() && rx.front().ns <= now) {
            device.Receive(rx.front().b, rx.front().ns / 1000);
            rx.pop_front();
        }
        const std::string due = device.TakeDue(now / 1000);
        if (!due.empty()) {
            if (tx.empty()) txClock = std::max(txClock, now);
            if (tx.size() + due.size() <= TxBacklogLimit)
                tx += due;
            else if (options.Verbose)
                std::fprintf(stderr, "zvt-sim: nobody reads the line, %zu answer bytes dropped\n",
                             due.size());
        }
        if (!tx.empty() && !txBlocked) {
            size_t allowed = tx.size();
            if (pacing) allowed = now > txClock ? std::min<uint64_t>(tx.size(), (now - txClock) / byteNs) : 0;
            if (allowed >= std::min(tx.size(), chunk)) {
                const ssize_t n = write(line.Fd(), tx.data(), allowed);
                if (n > 0) {
                    tx.erase(0, static_cast<size_t>(n));
                    txClock += static_cast<uint64_t>(n) * byteNs;
                } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                    txBlocked = true;
                } else if (n < 0 && errno != EINTR) {
                    // Nobody on the other end: the answer is lost like on an open line.
                    tx.clear();
                    line.Lost();
                    continue;
                }
            }
        }

        // Sleep until the next thing is due.
        uint64_t wake = UINT64_MAX;
        // Received bytes go to the device about once a millisecond, and at
        // the moment the last byte queued is in: the PC writes a frame at
        // once, so that is the end of the frame, which a real device sees
        // when it is in, not up to a millisecond later.
        if (!rx.empty()) wake = std::min(std::max(rx.front().ns, now + 1'000'000), rx.back().ns);
        const uint64_t nextAnswer = device.NextDue();
        if (nextAnswer != UINT64_MAX) wake = std::min(wake, nextAnswer * 1000);
        if (!tx.empty() && !txBlocked) {
            const uint64_t t = pacing ? txClock + std::min(tx.size(), chunk) * byteNs : now;
            wake = std::min(wake, t);
        }
        timespec ts{};
        timespec* timeout = nullptr;
        if (wake != UINT64_MAX) {
            const uint64_t d = wake > now ? wake - now : 0;
            ts.tv_sec = static_cast<time_t>(d / 1'000'000'000ull);
            ts.tv_nsec = static_cast<long>(d % 1'000'000'000ull);
            timeout = &ts;
        }
        pollfd pfd{line.Fd(), static_cast<short>(POLLIN | (txBlocked ? POLLOUT : 0)), 0};
        const int r = ppoll(&pfd, 1, timeout, &waitMask);
        if (r <= 0) continue;  // time-out or a signal
        if (pfd.revents & POLLOUT) txBlocked = false;
        if (pfd.revents & POLLIN) {
            const ssize_t n = read(line.Fd(), readBuf, sizeof readBuf);
            if (n > 0) {
                now = NowNs();
                for (ssize_t i = 0; i < n; ++i) {
                    // On a paced line a byte is in one byte time after the previous one.
                    rxClock = pacing ? std::max(rxClock, now) + byteNs : now;
                    rx.push_back(TRxByte{readBuf[i], rxClock});
                }
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (!line.IsPty()) {
                std::fprintf(stderr, "zvt-sim: %s: %s\n", options.DevicePath.c_str(),
                             n < 0 ? std::strerror(errno) : "closed");
                line.Lost();
                continue;
            }
        }
        if (pfd.revents & (POLLHUP | POLLERR | POLLNVAL | POLLIN)) {
            // The PC side has closed the port: wait until it opens it again.
            if (!line.IsPty() && (pfd.revents & (POLLERR | POLLNVAL))) line.Lost();
            PauseMs(20, waitMask);
        }
    }

    std::printf("%s\n", FormatCounts(device.Counts()).c_str());
    std::fflush(stdout);
    return 0;
}

}  // namespace skarvel::sim
