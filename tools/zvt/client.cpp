#include "tools/zvt/client.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "core/cp1251.h"
#include "core/short_name.h"

namespace skarvel {

// ------------------------------------------------------------------ helpers

TBaudRate BaudRateFor(uint32_t rate) {
    for (int b = br110; b <= br256000; ++b)
        if (BaudRateValue(static_cast<TBaudRate>(b)) == rate) return static_cast<TBaudRate>(b);
    return brCustom;
}

std::string ErrorText(uint8_t code) {
    if (code < 13) return Cp1251ToUtf8(ErrorTexts[code]);
    return "код ошибки " + std::to_string(code);
}

std::string SafeLocalName(const std::string& cp1251Name) {
    if (cp1251Name.empty() || cp1251Name == "." || cp1251Name == "..") return "";
    for (char c : cp1251Name) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || c == '/' || c == '\\') return "";
    }
    return Cp1251ToUtf8(cp1251Name);
}

// ------------------------------------------------------------------ client

TZvtClient::TZvtClient() : driver_(std::make_unique<TZVT_drv>(&loop_, this)) {
    auto count = [this] { SectorFrames.fetch_add(1); };
    driver_->OnReadSector = count;
    driver_->OnWriteSector = count;
}

TZvtClient::~TZvtClient() {
    loop_.Shutdown();
    driver_.reset();
}

void TZvtClient::PostMsg(uint32_t msg, uintptr_t wParam, intptr_t) {
    if (msg != WM_FLASH_DONE) return;
    // Runs on the worker thread; the waiting loop picks the result up.
    loop_.Post([this, wParam] {
        result_.store(static_cast<uint8_t>((wParam >> 8) & 0xFF));
        done_.store(true);
    });
}

bool TZvtClient::Open(const std::string& port, uint32_t baud) {
    try {
        TComPort& p = driver_->ComPort;
        const TBaudRate br = BaudRateFor(baud);
        if (br == brCustom) p.SetCustomBaudRate(static_cast<int32_t>(baud));
        p.SetBaudRate(br);
        p.SetPort(port);
        p.Open();
        return true;
    } catch (const EComPort& e) {
        error_ = std::string(e.what()) + " (" + ComDevicePath(port) + ")";
        return false;
    }
}

void TZvtClient::Close() { driver_->Disconnect(); }

uint8_t TZvtClient::Run(uint8_t op, void* param) {
    done_.store(false);
    SectorFrames.store(0);
    driver_->PostRequest(op, param);
    uint64_t nextTick = SteadyMs();
    while (!done_.load()) {
        loop_.RunOnce(20);
        if (OnTick && SteadyMs() >= nextTick) {
            OnTick();
            nextTick = SteadyMs() + 100;
        }
    }
    if (OnTick) OnTick();
    return result_.load();
}

uint8_t TZvtClient::Init() { return Run(opInit, nullptr); }

uint8_t TZvtClient::Format() { return Run(opFormat, nullptr); }

uint8_t TZvtClient::List(std::vector<TZvtFile>& files) {
    files.clear();
    const uint8_t r = Run(opReadDir, nullptr);
    if (r != 0 && r != 7) return r;
    // The worker is idle now; its list is ours to read.
    const TFileList& list = driver_->FFiles;
    for (int i = 0; i < list.Count(); ++i)
        files.push_back(TZvtFile{list.Strings(i), static_cast<uint32_t>(list.Sizes(i))});
    return 0;
}

uint8_t TZvtClient::Save(const std::string& name, const std::vector<uint8_t>& data) {
    TFlashArgs args;
    args.Name = name.c_str();
    args.Data = const_cast<uint8_t*>(data.data());
    args.Size = data.size();
    return Run(opSaveFile, &args);
}

uint8_t TZvtClient::Load(const std::string& name, uint32_t size, std::vector<uint8_t>& data) {
    data.assign(size, 0);
    uint8_t dummy = 0;
    TFlashArgs args;
    args.Name = name.c_str();
    args.Data = size ? data.data() : &dummy;
    args.Size = size;
    const uint8_t r = Run(opLoadFile, &args);
    if (r != 0) data.clear();
    return r;
}

uint8_t TZvtClient::Attr(const std::string& name, uint32_t& size) {
    TFlashArgs args;
    args.Name = name.c_str();
    const uint8_t r = Run(opGetFileAttr, &args);
    size = r == 0 ? static_cast<uint32_t>(args.Size) : 0;
    return r;
}

uint8_t TZvtClient::Delete(const std::string& name) {
    std::string copy = name;
    return Run(opDeleteFile, copy.data());
}

uint32_t TZvtClient::DataClusters() const {
    const TFlash& f = *driver_;
    if (!f.FMounted.load() || f.FSectorsPerCluster == 0) return 0;
    const uint32_t total = std::min<uint32_t>(f.FTotalSectors, 65536);
    if (total <= f.FFirstDataSector) return 0;
    return (total - f.FFirstDataSector) / f.FSectorsPerCluster;
}

uint32_t TZvtClient::FreeClusters() const {
    const TFlash& f = *driver_;
    uint32_t n = 0;
    const uint32_t last = DataClusters() + 1;
    for (uint32_t c = 2; c <= last && c < f.FFat.size(); ++c)
        if (f.FFat[c] == 0) ++n;
    return n;
}

// ------------------------------------------------------------------ command line

namespace {

const char* const kUsage =
    "usage: zvt [--port NAME] [--baud N] COMMAND [ARGS]\n"
    "\n"
    "  info                 identify the device and mount the medium; show its geometry\n"
    "  ls                   list the files on the medium (name and size in bytes)\n"
    "  put FILE...          write PC files onto the medium under their 8.3 names\n"
    "  get NAME... [-C DIR] load files from the medium into DIR (default: current folder)\n"
    "  rm NAME...           delete files on the medium\n"
    "  format --yes         format the medium (destroys every file on it)\n"
    "\n"
    "  --port NAME   serial port: /dev/... path, COMn (= /dev/ttyS(n-1)) or a name under /dev\n"
    "                (default COM2)\n"
    "  --baud N      line rate in bits per second (default 115200)\n";

void Fail(const std::string& what) { std::fprintf(stderr, "zvt: %s\n", what.c_str()); }

class TProgress {
public:
    explicit TProgress(TZvtClient& client) : client_(client), tty_(isatty(STDERR_FILENO) == 1) {}
    void Begin(const std::string& label, uint32_t expected) {
        label_ = label;
        expected_ = expected;
        if (tty_) client_.OnTick = [this] { Draw(); };
    }
    void End() {
        if (tty_ && client_.OnTick) std::fprintf(stderr, "\r\033[K");
        client_.OnTick = nullptr;
    }

private:
    void Draw() {
        const uint32_t done = client_.SectorFrames.load();
        const uint32_t total = expected_ ? expected_ : 1;
        const uint32_t pct = std::min<uint32_t>(100, done * 100 / total);
        const int width = 30;
        const int filled = static_cast<int>(pct * width / 100);
        std::string bar(static_cast<size_t>(filled), '#');
        bar.append(static_cast<size_t>(width - filled), '.');
        std::fprintf(stderr, "\r[%s] %3u%% %s", bar.c_str(), pct, label_.c_str());
        std::fflush(stderr);
    }

    TZvtClient& client_;
    bool tty_;
    std::string label_;
    uint32_t expected_ = 0;
};

bool ReadPcFile(const std::string& path, std::vector<uint8_t>& data, std::string& error) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + ": не обычный файл";
        close(fd);
        return false;
    }
    if (st.st_size > 0x7FFFFFFF) {
        error = path + ": файл слишком велик";
        close(fd);
        return false;
    }
    data.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "Ошибка при чтения файла " + path + ": " +
                    (n < 0 ? std::strerror(errno) : "файл стал короче");
            close(fd);
            return false;
        }
        got += static_cast<size_t>(n);
    }
    close(fd);
    return true;
}

// Writes the bytes to dir/name through a temporary file, so that a failed
// write never leaves a truncated program under the real name.
bool WritePcFile(const std::string& dir, const std::string& name, const std::vector<uint8_t>& data,
                 std::string& error) {
    const std::string target = dir + "/" + name;
    const std::string temp = dir + "/." + name + ".zvt-part";
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "Ошибка при записи файла " + target + ": " + std::strerror(errno);
        return false;
    }
    size_t put = 0;
    while (put < data.size()) {
        const ssize_t n = write(fd, data.data() + put, data.size() - put);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        put += static_cast<size_t>(n);
    }
    const bool ok = put == data.size() && fsync(fd) == 0;
    const int savedErrno = errno;
    close(fd);
    if (!ok || rename(temp.c_str(), target.c_str()) != 0) {
        error = "Ошибка при записи файла " + target + ": " + std::strerror(ok ? errno : savedErrno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}

bool ToMediumName(const std::string& utf8, std::string& cp1251) {
    if (!Utf8ToCp1251(utf8, cp1251)) {
        Fail(utf8 + ": " + ErrorText(2));
        return false;
    }
    return true;
}

const TZvtFile* FindFile(const std::vector<TZvtFile>& files, const std::string& cp1251Name) {
    TFileList probe;
    for (const TZvtFile& f : files) probe.AddFile(f.Name, static_cast<int32_t>(f.Size), false);
    const int i = probe.IndexOf(cp1251Name);
    return i < 0 ? nullptr : &files[static_cast<size_t>(i)];
}

int Mount(TZvtClient& client) {
    const uint8_t r = client.Init();
    if (r == 0) return 0;
    Fail(ErrorText(r));
    return 1;
}

int CmdInfo(TZvtClient& client) {
    const uint8_t r = client.Init();
    if (r != 0 && r != 1) {
        Fail(ErrorText(r));
        return 1;
    }
    TZVT_drv& d = client.Driver();
    std::printf("device code: 0x%02X\n", ZvtDeviceCode);
    std::printf("medium size: %u bytes\n", d.FMediumSize.load());
    if (r == 1) {
        Fail(ErrorText(1));
        return 1;
    }
    std::printf("bytes per sector: %u\n", d.FBytesPerSector.load());
    std::printf("sectors per cluster: %u\n", d.FSectorsPerCluster);
    std::printf("reserved sectors: %u\n", d.FReservedSectors);
    std::printf("FATs: %u\n", d.FNumFATs);
    std::printf("sectors per FAT: %u\n", d.FSectorsPerFAT);
    std::printf("root entries: %u\n", d.FRootEntries);
    std::printf("total sectors: %u\n", d.FTotalSectors);
    std::printf("first root sector: %u\n", d.FFirstRootSector);
    std::printf("first data sector: %u\n", d.FFirstDataSector);
    std::printf("free clusters: %u of %u\n", client.FreeClusters(), client.DataClusters());
    return 0;
}

int CmdLs(TZvtClient& client) {
    if (int rc = Mount(client)) return rc;
    std::vector<TZvtFile> files;
    const uint8_t r = client.List(files);
    if (r != 0) {
        Fail(ErrorText(r));
        return 1;
    }
    for (const TZvtFile& f : files) std::printf("%-12s %10u\n", Cp1251ToUtf8(f.Name).c_str(), f.Size);
    return 0;
}

int CmdPut(TZvtClient& client, const std::vector<std::string>& paths) {
    if (paths.empty()) {
        Fail("put: no files given");
        return 2;
    }
    if (int rc = Mount(client)) return rc;
    TProgress progress(client);
    for (const std::string& path : paths) {
        std::vector<uint8_t> data;
        std::string error;
        if (!ReadPcFile(path, data, error)) {
            Fail(error);
            return 1;
        }
        const std::string name = ShortPathName(path);
        TZVT_drv& d = client.Driver();
        const uint32_t expected = d.SectorsForFile(name.c_str(), static_cast<uint32_t>(data.size()))
                                  + 3u * d.FSectorsPerCluster + d.FSectorsPerFAT;
        progress.Begin(Cp1251ToUtf8(name), expected);
        const uint8_t r = client.Save(name, data);
        progress.End();
        if (r != 0) {
            Fail("Ошибка записи файла " + path + ": " + ErrorText(r));
            return 1;
        }
        std::printf("%s -> %s (%zu bytes)\n", path.c_str(), Cp1251ToUtf8(name).c_str(), data.size());
    }
    return 0;
}

int CmdGet(TZvtClient& client, const std::vector<std::string>& names, const std::string& dir) {
    if (names.empty()) {
        Fail("get: no names given");
        return 2;
    }
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        Fail(dir + ": not a folder");
        return 1;
    }
    if (int rc = Mount(client)) return rc;
    std::vector<TZvtFile> files;
    if (const uint8_t r = client.List(files); r != 0) {
        Fail(ErrorText(r));
        return 1;
    }
    TProgress progress(client);
    for (const std::string& utf8 : names) {
        std::string name;
        if (!ToMediumName(utf8, name)) return 1;
        const TZvtFile* file = FindFile(files, name);
        if (!file) {
            Fail(utf8 + ": " + ErrorText(5));
            return 1;
        }
        const std::string local = SafeLocalName(file->Name);
        if (local.empty()) {
            Fail(utf8 + ": имя файла на носителе непригодно для файла ПК, файл не загружен");
            return 1;
        }
        // The list shows names up to their first blank, so two entries may
        // list alike; the size is taken from the entry the load will read.
        uint32_t size = 0;
        if (const uint8_t r = client.Attr(file->Name, size); r != 0) {
            Fail("Ошибка чтения файла " + local + ": " + ErrorText(r));
            return 1;
        }
        TZVT_drv& d = client.Driver();
        if (size > d.FMediumSize.load()) {
            Fail("Ошибка чтения файла " + local + ": " + ErrorText(1));  // a size no medium can hold
            return 1;
        }
        progress.Begin(local, d.SectorsForFile(file->Name.c_str(), size) + 2u * d.FSectorsPerCluster);
        std::vector<uint8_t> data;
        const uint8_t r = client.Load(file->Name, size, data);
        progress.End();
        if (r != 0) {
            Fail("Ошибка чтения файла " + local + ": " + ErrorText(r));
            return 1;
        }
        std::string error;
        if (!WritePcFile(dir, local, data, error)) {
            Fail(error);
            return 1;
        }
        std::printf("%s -> %s/%s (%zu bytes)\n", local.c_str(), dir.c_str(), local.c_str(), data.size());
    }
    return 0;
}

int CmdRm(TZvtClient& client, const std::vector<std::string>& names) {
    if (names.empty()) {
        Fail("rm: no names given");
        return 2;
    }
    if (int rc = Mount(client)) return rc;
    for (const std::string& utf8 : names) {
        std::string name;
        if (!ToMediumName(utf8, name)) return 1;
        const uint8_t r = client.Delete(name);
        if (r != 0) {
            Fail(utf8 + ": " + ErrorText(r));
            return 1;
        }
    }
    return 0;
}

int CmdFormat(TZvtClient& client, bool yes) {
    if (!yes) {
        Fail("format destroys every file on the medium; repeat with --yes to go ahead");
        return 2;
    }
    const uint8_t init = client.Init();
    if (init != 0 && init != 1) {
        Fail(ErrorText(init));
        return 1;
    }
    const uint8_t r = client.Format();
    if (r != 0) {
        Fail(ErrorText(r));
        return 1;
    }
    std::printf("ZVT успешно отформатировано\n");
    return 0;
}

}  // namespace

int ZvtMain(int argc, char** argv) {
    std::string port = "COM2";
    uint32_t baud = 115200;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if ((a == "--port" || a == "--baud") && i + 1 < argc) {
            if (a == "--port") {
                port = argv[++i];
            } else {
                char* end = nullptr;
                const unsigned long v = std::strtoul(argv[++i], &end, 10);
                if (!end || *end || v == 0 || v > 4000000) {
                    Fail(std::string("bad baud rate: ") + argv[i]);
                    return 2;
                }
                baud = static_cast<uint32_t>(v);
            }
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            args.emplace_back(a);
        }
    }
    if (args.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string cmd = args.front();
    args.erase(args.begin());

    std::string dir = ".";
    bool yes = false;
    std::vector<std::string> operands;
    for (size_t i = 0; i < args.size(); ++i) {
        if (cmd == "get" && args[i] == "-C" && i + 1 < args.size()) {
            dir = args[++i];
        } else if (cmd == "format" && args[i] == "--yes") {
            yes = true;
        } else {
            operands.push_back(args[i]);
        }
    }
    static const char* const known[] = {"info", "ls", "put", "get", "rm", "format"};
    if (std::find(std::begin(known), std::end(known), cmd) == std::end(known)) {
        Fail("unknown command: " + cmd);
        std::fputs(kUsage, stderr);
        return 2;
    }
    if ((cmd == "info" || cmd == "ls" || cmd == "format") && !operands.empty()) {
        Fail(cmd + ": unexpected argument " + operands.front());
        return 2;
    }

    TZvtClient client;
    if (!client.Open(port, baud)) {
        Fail(client.Error());
        return 1;
    }
    int rc = 2;
    if (cmd == "info") rc = CmdInfo(client);
    else if (cmd == "ls") rc = CmdLs(client);
    else if (cmd == "put") rc = CmdPut(client, operands);
    else if (cmd == "get") rc = CmdGet(client, operands, dir);
    else if (cmd == "rm") rc = CmdRm(client, operands);
    else if (cmd == "format") rc = CmdFormat(client, yes);
    client.Close();
    return rc;
}

}  // namespace skarvel
