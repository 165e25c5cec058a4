// skarvel-bench: how close the transfer path comes to the line, and what
// the link's pieces cost.
//
//   skarvel-bench [--baud N] [--kib N]
//
// 1. put, get and verified put (put --verify) of a file (256 KiB) through
//    the command-line client's engine against zvt-sim pacing its line at N
//    baud (115200): the time the operation's exchanges need on the line,
//    divided by the time taken (1.0: the software adds nothing to the line);
// 2. the round trip of one read exchange on an unpaced pty, through the
//    driver and bare;
// 3. CRC and receive machine throughput;
// 4. the peak memory of the zvt binary while it puts 1 MiB.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench/child.h"
#include "link/zvt_frame.h"
#include "tools/zvt/client.h"

using namespace skarvel;
using namespace skarvel::bench;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// Bytes on the line per exchange, both ways.
constexpr double WriteExchangeBytes = 538 + 8;
constexpr double ReadExchangeBytes = 8 + 540;
constexpr double IdentifyExchangeBytes = 8 + 8;

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
    return v[i];
}

// Unwinds, so that the simulators started so far are stopped.
[[noreturn]] void Die(const std::string& what) { throw std::runtime_error(what); }

// Counts the frames the driver builds, by command, with the time of each.
struct TFrameCounter {
    std::atomic<uint32_t> Reads{0}, Writes{0};
    std::mutex Mutex;
    std::vector<Clock::time_point> Times;

    void Install(TZVT_drv& d) {
        d.OnReadSector = [this] { Note(Reads); };
        d.OnWriteSector = [this] { Note(Writes); };
    }
    void Clear() {
        Reads = 0;
        Writes = 0;
        std::lock_guard<std::mutex> lock(Mutex);
        Times.clear();
    }

private:
    void Note(std::atomic<uint32_t>& n) {
        n.fetch_add(1);
        std::lock_guard<std::mutex> lock(Mutex);
        Times.push_back(Clock::now());
    }
};

struct TLineResult {
    std::string Name;
    uint32_t Reads = 0, Writes = 0, Identifies = 0;
    double Bound = 0, Taken = 0;
    double PayloadBytes = 0;
    // Frame start to frame start, less the line time of one exchange.
    double MedianGapUs = 0, P90GapUs = 0, MaxGapUs = 0;
};

void PrintLineTable(uint32_t baud, const std::vector<TLineResult>& rows) {
    std::printf("\nTransfers through the client engine, zvt-sim pacing %u baud (10 bits a byte):\n", baud);
    std::printf("  %-20s %-16s %10s %10s %7s %12s   %s\n", "operation", "exchanges r/w/id", "line bound", "taken",
                "ratio", "payload B/s", "extra per exchange: median/p90/max");
    for (const TLineResult& r : rows) {
        char ex[32];
        std::snprintf(ex, sizeof ex, "%u/%u/%u", r.Reads, r.Writes, r.Identifies);
        std::printf("  %-20s %-16s %9.3fs %9.3fs %7.4f %12.0f   %.0f/%.0f/%.0f us\n", r.Name.c_str(), ex, r.Bound,
                    r.Taken, r.Taken > 0 ? r.Bound / r.Taken : 0, r.Taken > 0 ? r.PayloadBytes / r.Taken : 0,
                    r.MedianGapUs, r.P90GapUs, r.MaxGapUs);
    }
}

// Runs op on the client and measures it against the line.
template <class Op>
TLineResult MeasureOnLine(const char* name, TZvtClient& client, TFrameCounter& frames, uint32_t baud,
                          double payload, Op op) {
    TZVT_drv& d = client.Driver();
    frames.Clear();
    const uint32_t sentBefore = d.FramesSent.load();
    const auto t0 = Clock::now();
    const uint8_t r = op();
    const auto t1 = Clock::now();
    if (r != 0) Die(std::string(name) + " failed: " + ErrorText(r));
    TLineResult res;
    res.Name = name;
    res.Reads = frames.Reads;
    res.Writes = frames.Writes;
    const uint32_t sent = d.FramesSent.load() - sentBefore;
    res.Identifies = sent - res.Reads - res.Writes;
    const double byteSec = 10.0 / baud;
    res.Bound = (res.Reads * ReadExchangeBytes + res.Writes * WriteExchangeBytes +
                 res.Identifies * IdentifyExchangeBytes) * byteSec;
    res.Taken = Seconds(t0, t1);
    res.PayloadBytes = payload;
    // How much longer than its line time an exchange took, frame start to
    // frame start, over the run of same-command frames.
    std::vector<double> extra;
    {
        std::lock_guard<std::mutex> lock(frames.Mutex);
        const double line = (res.Writes >= res.Reads ? WriteExchangeBytes : ReadExchangeBytes) * byteSec;
        for (size_t i = 1; i < frames.Times.size(); ++i)
            extra.push_back((Seconds(frames.Times[i - 1], frames.Times[i]) - line) * 1e6);
    }
    res.MedianGapUs = Percentile(extra, 0.5);
    res.P90GapUs = Percentile(extra, 0.9);
    res.MaxGapUs = Percentile(extra, 1.0);
    return res;
}

std::vector<uint8_t> Content(size_t n) {
    std::vector<uint8_t> v(n);
    uint32_t x = 12345;
    for (auto& b : v) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return v;
}

void OpenAndMount(TZvtClient& client, const std::string& pty, uint32_t baud) {
    if (!client.Open(pty, baud)) Die("cannot open " + pty + ": " + client.Error());
    uint8_t r = client.Init();
    if (r == 1) r = client.Format();
    if (r != 0) Die("the simulated device cannot be mounted: " + ErrorText(r));
}

void LineBench(uint32_t baud, size_t kib) {
    TSimChild sim({"--baud", std::to_string(baud)});
    TZvtClient client;
    TFrameCounter frames;
    frames.Install(client.Driver());
    OpenAndMount(client, sim.Pty(), baud);

    const std::vector<uint8_t> data = Content(kib * 1024);
    const std::string name = "BENCH.BIN";
    std::vector<TLineResult> rows;
    rows.push_back(MeasureOnLine(("put " + std::to_string(kib) + " KiB").c_str(), client, frames, baud,
                                 static_cast<double>(data.size()), [&] { return client.Save(name, data); }));
    std::vector<uint8_t> back;
    rows.push_back(MeasureOnLine(("get " + std::to_string(kib) + " KiB").c_str(), client, frames, baud,
                                 static_cast<double>(data.size()),
                                 [&] { return client.Load(name, static_cast<uint32_t>(data.size()), back); }));
    if (back != data) Die("the file loaded back differs from the one saved");
    // A put with --verify: the save, then the file read back and compared.
    if (const uint8_t r = client.Delete(name); r != 0) Die("delete failed: " + ErrorText(r));
    rows.push_back(MeasureOnLine(("put+verify " + std::to_string(kib) + " KiB").c_str(), client, frames, baud,
                                 static_cast<double>(data.size()), [&] {
                                     uint8_t r = client.Save(name, data);
                                     bool same = false;
                                     if (r == 0) r = client.Verify(name, data, same);
                                     if (r == 0 && !same) Die("the verified put read back other bytes");
                                     return r;
                                 }));
    client.Close();
    PrintLineTable(baud, rows);
    std::printf("  (simulator: %s)\n", [&] {
        std::string s = sim.Stop();
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        return s;
    }().c_str());
}

void RoundTripBench(int count) {
    TSimChild sim({});
    std::vector<double> bare;
    {
        TRawPty pty(sim.Pty());
        std::string answer;
        for (int i = 0; i < count; ++i) {
            const std::string cmd = BuildFrameBytes(0x80, 0, static_cast<uint8_t>(i), nullptr, 0, 512);
            const auto t0 = Clock::now();
            pty.Write(cmd);
            if (!pty.Read(AnswerFrameLen + RecvDataBlockLen, 2000, answer)) Die("no answer from zvt-sim");
            bare.push_back(Seconds(t0, Clock::now()) * 1e6);
        }
    }

    TZvtClient client;
    OpenAndMount(client, sim.Pty(), 115200);
    TZVT_drv& d = client.Driver();
    std::vector<double> driver;
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    // Exchange runs off the main thread, which meanwhile runs the receive side.
    std::thread worker([&] {
        std::vector<uint8_t> buf(512);
        for (int i = 0; i < count; ++i) {
            const auto t0 = Clock::now();
            if (d.Exchange(0x80, static_cast<uint8_t>(i), 0, buf.data()) != 0) failures.fetch_add(1);
            driver.push_back(Seconds(t0, Clock::now()) * 1e6);
        }
        done = true;
    });
    client.Loop().RunUntil([&] { return done.load(); }, 120000);
    worker.join();
    client.Close();
    if (failures) Die("read exchanges failed on the unpaced simulator");

    std::printf("\nRound trip of one read exchange (8 bytes out, 540 back), unpaced pty, %d exchanges:\n", count);
    std::printf("  %-44s median %8.0f us   p90 %8.0f us\n", "through the driver (TZVT_drv::Exchange)",
                Percentile(driver, 0.5), Percentile(driver, 0.9));
    std::printf("  %-44s median %8.0f us   p90 %8.0f us\n", "bare pty write/read against zvt-sim",
                Percentile(bare, 0.5), Percentile(bare, 0.9));
}

void CpuBench() {
    const size_t n = 4u << 20;
    std::vector<uint8_t> buf = Content(n);
    const int rounds = 8;
    uint16_t sink = 0;
    auto t0 = Clock::now();
    for (int i = 0; i < rounds; ++i) sink = static_cast<uint16_t>(sink ^ Crc16(buf.data(), buf.size()));
    const double crcSec = Seconds(t0, Clock::now());

    // A stream of read answers with their data blocks.
    const std::vector<uint8_t> payload = Content(RecvPayloadLen);
    const std::string one = BuildAnswerBytes(0, 0, 0, 1) + BuildDataBlockBytes(payload.data());
    std::string stream;
    while (stream.size() < n) stream += one;
    TRxMachine rx;
    uint32_t answers = 0;
    rx.OnAnswer = [&answers](const TRxMachine&) { ++answers; };
    t0 = Clock::now();
    for (int i = 0; i < rounds; ++i)
        for (char c : stream) rx.Feed(static_cast<uint8_t>(c));
    const double rxSec = Seconds(t0, Clock::now());
    if (answers != rounds * (stream.size() / one.size())) Die("the receive machine lost answers");

    const double mb = 1e6;
    std::printf("\nCPU:\n");
    std::printf("  %-44s %8.1f MB/s (%d x %zu MiB; %04X)\n", "CRC-16 (table)", rounds * n / mb / crcSec, rounds,
                n >> 20, sink);
    std::printf("  %-44s %8.1f MB/s (%d x %.1f MiB of read answers)\n", "receive machine (TRxMachine::Feed)",
                rounds * static_cast<double>(stream.size()) / mb / rxSec, rounds,
                static_cast<double>(stream.size()) / (1 << 20));
}

void MemoryBench() {
    TSimChild sim({});
    char dir[] = "/tmp/skarvel-bench-XXXXXX";
    if (!mkdtemp(dir)) Die("mkdtemp");
    const std::string file = std::string(dir) + "/bench1m.bin";
    {
        const std::vector<uint8_t> data = Content(1u << 20);
        FILE* f = std::fopen(file.c_str(), "wb");
        if (!f || std::fwrite(data.data(), 1, data.size(), f) != data.size()) Die("cannot write " + file);
        std::fclose(f);
    }
    const TChildRun format = RunChild(ZVT_CLI_PATH, {"--port", sim.Pty(), "format", "--yes"});
    if (format.ExitCode != 0) Die("zvt format failed: " + format.Output);
    const TChildRun put = RunChild(ZVT_CLI_PATH, {"--port", sim.Pty(), "put", file});
    unlink(file.c_str());
    rmdir(dir);
    if (put.ExitCode != 0) Die("zvt put failed: " + put.Output);
    std::printf("\nMemory of the zvt binary (unpaced simulator):\n");
    std::printf("  %-44s %8.1f MiB peak RSS (put took %.2f s)\n", "zvt put of a 1 MiB file", put.PeakRssKiB / 1024.0,
                put.Seconds);
    std::printf("  %-44s %8.1f MiB peak RSS\n", "zvt format", format.PeakRssKiB / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t baud = 115200;
    size_t kib = 256;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--baud" && i + 1 < argc) {
            baud = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (a == "--kib" && i + 1 < argc) {
            kib = std::strtoul(argv[++i], nullptr, 10);
        } else {
            std::fprintf(stderr, "usage: skarvel-bench [--baud N] [--kib N]\n");
            return 2;
        }
    }
    if (baud == 0 || kib == 0 || kib > 1900) {
        std::fprintf(stderr, "skarvel-bench: --baud must be positive and --kib from 1 to 1900\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("skarvel-bench: zvt-sim %s\n", ZVT_SIM_PATH);
    try {
        LineBench(baud, kib);
        RoundTripBench(200);
        CpuBench();
        MemoryBench();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "skarvel-bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
