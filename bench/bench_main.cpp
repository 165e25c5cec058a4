// skarvel-bench: how close the transfer path comes to the line, and what
// the link's pieces cost.
//
//   skarvel-bench [--baud N] [--kib N] [--rounds N] [--zvt PATH] [--startup-only] [--images-only]
//                 [--start-only]
//
// 1. put, get and verified put (put --verify) of a file (256 KiB) through
//    the command-line client's engine against zvt-sim pacing its line at N
//    baud (115200): the time the operation's exchanges need on the line,
//    divided by the time taken (1.0: the software adds nothing to the line);
//    the same write, load and verified write driven through the main window
//    (offscreen, when the program is built; "Проверять запись" off for the
//    write, on for the verified one), in turns with the client's, set
//    against the client's ratio; and F3 on that file in the window, from the
//    key to the viewer's first screen;
// 2. the round trip of one read exchange on an unpaced pty, through the
//    driver and bare;
// 3. CRC and receive machine throughput;
// 4. the start-up of the zvt binary: zvt info from start to end (--zvt
//    measures another build's binary; --startup-only runs this part alone);
// 5. the peak memory of the zvt binary while it puts 1 MiB;
// 6. the main window's start: from starting the program to its window on
//    the screen and to the medium listed in it (--start-only runs this part
//    alone), on the display of the environment, offscreen without one.
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
#include "bench/line_measure.h"
#include "bench/window_bench.h"
#include "bench/window_start.h"
#include "flashfs/medium_image.h"
#include "link/zvt_frame.h"
#include "tests/sim_process_linux.h"
#include "tools/zvt/client.h"

using namespace skarvel;
using namespace skarvel::bench;

namespace {

// Unwinds, so that the simulators started so far are stopped.
[[noreturn]] void Die(const std::string& what) { throw std::runtime_error(what); }

void OpenAndMount(TZvtClient& client, const std::string& pty, uint32_t baud) {
    if (!client.Open(pty, baud)) Die("cannot open " + pty + ": " + client.Error());
    uint8_t r = client.Init();
    if (r == 1) r = client.Format();
    if (r != 0) Die("the simulated device cannot be mounted: " + ErrorText(r));
}

// A put with --verify over a file of that name: the save, then the file read
// back and compared.
TLineResult VerifiedPut(TZvtClient& client, TFrameCounter& frames, uint32_t baud, const std::vector<uint8_t>& data,
                        const std::string& name) {
    if (const uint8_t r = client.Delete(name); r != 0) Die("delete failed: " + ErrorText(r));
    return MeasureOnLine("put+verify " + std::to_string(data.size() / 1024) + " KiB", client.Driver(), frames, baud,
                         static_cast<double>(data.size()), [&] {
                             uint8_t r = client.Save(name, data);
                             bool same = false;
                             if (r == 0) r = client.Verify(name, data, same);
                             if (r == 0 && !same) Die("the verified put read back other bytes");
                             return r;
                         });
}

// The window's ratios less the client's, averaged over the runs of each
// operation: the rows of the two tables pair up, in turns, up to the window's
// last.
void PrintWindowAgainstClient(const std::vector<TLineResult>& client, const std::vector<TLineResult>& window) {
    for (const char* op : {"put", "get", "put+verify"}) {
        double mine = 0, theirs = 0;
        int runs = 0;
        for (size_t i = 0; i < window.size(); ++i) {
            if (client[i].Name.rfind(std::string(op) + " ", 0) != 0) continue;
            theirs += client[i].Ratio();
            mine += window[i].Ratio();
            ++runs;
        }
        if (runs == 0) continue;
        const double d = (mine - theirs) / runs;
        std::printf("  window %s: ratio %+.4f against the client's (%s)\n", op, d,
                    d >= -0.01 ? "within 0.01" : "MORE THAN 0.01 BELOW");
    }
}

// The client's put and get, and the same driven through the main window
// (each on a simulator of its own), taken in turns so that both meet the
// same load of the machine; the window must not slow the line.
void LineBench(uint32_t baud, size_t kib, int rounds) {
    test::SimProcess sim({"--baud", std::to_string(baud)});
    TZvtClient client;
    TFrameCounter frames;
    frames.Install(client.Driver());
    OpenAndMount(client, sim.PtyPath(), baud);
    std::unique_ptr<TWindowBench> window = TWindowBench::Create(baud);

    const std::vector<uint8_t> data = Content(kib * 1024);
    const std::string size = std::to_string(kib) + " KiB";
    std::vector<TLineResult> rows, windowRows;
    for (int round = 1; round <= rounds; ++round) {
        const std::string name = "BENCH" + std::to_string(round) + ".BIN";
        rows.push_back(MeasureOnLine("put " + size, client.Driver(), frames, baud, static_cast<double>(data.size()),
                                     [&] { return client.Save(name, data); }));
        if (window) windowRows.push_back(window->Put(data, name, false));
        std::vector<uint8_t> back;
        rows.push_back(MeasureOnLine("get " + size, client.Driver(), frames, baud, static_cast<double>(data.size()),
                                     [&] { return client.Load(name, static_cast<uint32_t>(data.size()), back); }));
        if (back != data) Die("the file loaded back differs from the one saved");
        if (window) windowRows.push_back(window->Get(data, name));
    }
    rows.push_back(VerifiedPut(client, frames, baud, data, "BENCH1.BIN"));
    // A new file for the window, whose medium keeps the rounds' files (the
    // client's verified put too writes a file the medium does not hold).
    if (window) windowRows.push_back(window->Put(data, "BENCHV.BIN", true));
    client.Close();
    PrintLineTable("Transfers through the client engine", baud, rows);
    std::printf("  (simulator: %s)\n", [&] {
        sim.Stop();
        std::string s = sim.Output();
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        return s;
    }().c_str());
    if (!window) {
        std::printf("\n(the main window's figure needs the program: configure with SKARVEL_GUI=ON)\n");
        return;
    }
    PrintLineTable("The same driven through the main window (offscreen), in turns with the client", baud, windowRows);
    PrintWindowAgainstClient(rows, windowRows);
    PrintLineTable("F3 in the main window: from the key to the viewer's first screen", baud,
                   {window->View(data, "BENCH1.BIN")});
}

// The whole medium saved into an image and written back, each sector of
// the restore read back: every sector of the 2 MiB medium crosses the line
// once for a backup and three times for a restore.
void MediumImageBench(uint32_t baud) {
    test::SimProcess sim({"--baud", std::to_string(baud)});
    TZvtClient client;
    TFrameCounter frames;
    frames.Install(client.Driver());
    OpenAndMount(client, sim.PtyPath(), baud);
    const double medium = client.Worker().MediumSize();
    std::vector<uint8_t> image;
    std::vector<TLineResult> rows;
    rows.push_back(MeasureOnLine("backup 2 MiB", client.Driver(), frames, baud, medium, [&] {
        return client.RunOnWorker([&](TFlash& f) {
            const TMediumCopy copy = ReadWholeMedium(f, image);
            return copy.Ok() ? feOk : copy.Error != feOk ? copy.Error : feWrongDevice;
        });
    }));
    rows.push_back(MeasureOnLine("restore 2 MiB", client.Driver(), frames, baud, medium, [&] {
        return client.RunOnWorker([&](TFlash& f) {
            const TMediumCopy copy = WriteWholeMedium(f, image);
            return copy.Ok() ? feOk : copy.Error != feOk ? copy.Error : feWrongDevice;
        });
    }));
    client.Close();
    sim.Stop();
    PrintLineTable("Whole-medium images", baud, rows);
}

void RoundTripBench(int count) {
    test::SimProcess sim;
    std::vector<double> bare;
    {
        test::RawPty pty(sim.PtyPath());
        for (int i = 0; i < count; ++i) {
            const std::string cmd = BuildFrameBytes(0x80, 0, static_cast<uint8_t>(i), nullptr, 0, 512);
            const auto t0 = Clock::now();
            pty.Write(cmd);
            if (pty.Read(AnswerFrameLen + RecvDataBlockLen, 2000).size() < AnswerFrameLen + RecvDataBlockLen)
                Die("no answer from zvt-sim");
            bare.push_back(Seconds(t0, Clock::now()) * 1e6);
        }
    }

    TZvtClient client;
    OpenAndMount(client, sim.PtyPath(), 115200);
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

// The time from starting zvt to its end for the shortest command (info:
// identify, boot sector, FAT) on an unpaced simulator: what a run costs
// before any file moves, the line's settling after the open included.
void StartupBench(const std::string& zvt, int runs) {
    test::SimProcess sim;
    const TChildRun format = RunChild(zvt, {"--port", sim.PtyPath(), "format", "--yes"});
    if (format.ExitCode != 0) Die("zvt format failed: " + format.Output);
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const TChildRun info = RunChild(zvt, {"--port", sim.PtyPath(), "info"});
        if (info.ExitCode != 0) Die("zvt info failed: " + info.Output);
        ms.push_back(info.Seconds * 1000);
    }
    std::printf("\nStart-up of the zvt binary (%s), unpaced simulator, %d runs:\n", zvt.c_str(), runs);
    std::printf("  %-44s median %8.0f ms   p90 %8.0f ms\n", "zvt info, start to end", Percentile(ms, 0.5),
                Percentile(ms, 0.9));
}

void MemoryBench() {
    test::SimProcess sim;
    char dir[] = "/tmp/skarvel-bench-XXXXXX";
    if (!mkdtemp(dir)) Die("mkdtemp");
    const std::string file = std::string(dir) + "/bench1m.bin";
    {
        const std::vector<uint8_t> data = Content(1u << 20);
        FILE* f = std::fopen(file.c_str(), "wb");
        if (!f || std::fwrite(data.data(), 1, data.size(), f) != data.size()) Die("cannot write " + file);
        std::fclose(f);
    }
    const TChildRun format = RunChild(ZVT_CLI_PATH, {"--port", sim.PtyPath(), "format", "--yes"});
    if (format.ExitCode != 0) Die("zvt format failed: " + format.Output);
    const TChildRun put = RunChild(ZVT_CLI_PATH, {"--port", sim.PtyPath(), "put", file});
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
    int rounds = 1;
    std::string zvt = ZVT_CLI_PATH;
    bool startupOnly = false;
    bool imagesOnly = false;
    bool windowStartOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--zvt" && i + 1 < argc) {
            zvt = argv[++i];
        } else if (a == "--startup-only") {
            startupOnly = true;
        } else if (a == "--images-only") {
            imagesOnly = true;
        } else if (a == "--start-only") {
            windowStartOnly = true;
        } else if (a == "--baud" && i + 1 < argc) {
            baud = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (a == "--kib" && i + 1 < argc) {
            kib = std::strtoul(argv[++i], nullptr, 10);
        } else if (a == "--rounds" && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: skarvel-bench [--baud N] [--kib N] [--rounds N] [--zvt PATH] [--startup-only] "
                                 "[--images-only] [--start-only]\n");
            return 2;
        }
    }
    // The window's medium holds a file of each round and the verified put's.
    if (baud == 0 || kib == 0 || rounds < 1 || kib * (static_cast<size_t>(rounds) + 1) > 1900) {
        std::fprintf(stderr,
                     "skarvel-bench: --baud and --rounds must be positive, --kib times (--rounds + 1) at most 1900\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // The benchmark's transfers are no shop's: they are journalled nowhere.
    setenv("SKARVEL_JOURNAL", "/dev/null", 0);
    std::printf("skarvel-bench: zvt-sim %s\n", ZVT_SIM_PATH);
    try {
        if (startupOnly) {
            StartupBench(zvt, 20);
            return 0;
        }
        if (imagesOnly) {
            MediumImageBench(baud);
            return 0;
        }
        if (windowStartOnly) {
            WindowStartBench(baud, 10);
            return 0;
        }
        LineBench(baud, kib, rounds);
        MediumImageBench(baud);
        RoundTripBench(200);
        CpuBench();
        StartupBench(zvt, 20);
        MemoryBench();
        WindowStartBench(baud, 5);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "skarvel-bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
