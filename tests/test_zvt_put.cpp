// zvt put through the client's engine over the in-memory medium: names that
// are unique on the medium, a run that goes on past a failed file and stops
// at a failed link, and --verify against a line that changes bytes silently.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>

#include "flashfs/fat_layout.h"
#include "tests/mem_medium.h"
#include "tests/sim_process.h"
#include "tools/zvt/commands.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

std::vector<uint8_t> Filled(size_t n, uint8_t b) { return std::vector<uint8_t>(n, b); }

// A formatted in-memory medium behind the client's worker. Fault, when set,
// sees every exchange after the medium has carried it out and may change
// its result, the medium's sector or the bytes handed back.
struct TPutRig {
    TMemMedium Medium;
    TZvtClient Client;
    std::function<uint8_t(uint8_t cmd, uint16_t sector, uint8_t* buffer, uint8_t result)> Fault;

    TPutRig() {
        Medium.Attach(Client.Driver());
        Client.Driver().FExchange = [this](uint8_t cmd, uint8_t lo, uint8_t hi, void* buffer) {
            const TTransportResult r = Medium.Exchange(cmd, lo, hi, buffer);
            if (!Fault) return r;
            return static_cast<TTransportResult>(Fault(cmd, static_cast<uint16_t>(lo | (hi << 8)), static_cast<uint8_t*>(buffer), r));
        };
        EXPECT_EQ(Client.Format(), 0);
    }

    struct TRun {
        int Exit = -1;
        std::string Out, Err;
    };
    TRun Put(const std::vector<std::string>& paths, bool verify, bool replace = false) {
        TRun run;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        run.Exit = zvtcmd::CmdPut(Client, paths, verify, replace);
        run.Err = testing::internal::GetCapturedStderr();
        run.Out = testing::internal::GetCapturedStdout();
        return run;
    }

    // The bytes of a file on the medium (the fault cleared first); nullopt
    // when the name is not there.
    std::optional<std::vector<uint8_t>> Read(const std::string& name) {
        Fault = nullptr;
        std::vector<uint8_t> data;
        uint32_t size = 0;
        if (Client.Init() || Client.Attr(name, size) || Client.Load(name, size, data)) return std::nullopt;
        return data;
    }
};

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

bool StartsWith(const uint8_t* buffer, uint8_t b) { return buffer && buffer[0] == b && buffer[1] == b; }

}  // namespace

// Two long names from different folders must not both become LONGNA~1.TXT:
// the generated number is the next one free in the folder and on the medium.
TEST(ZvtPut, GeneratedNamesAreUniqueOnTheMedium) {
    struct Case {
        std::vector<std::string> onMedium;
        const char* expectedA;
        const char* expectedB;
    };
    const Case cases[] = {
        {{}, "LONGNA~1.TXT", "LONGNA~2.TXT"},
        {{"LONGNA~1.TXT"}, "LONGNA~2.TXT", "LONGNA~3.TXT"},
        {{"LONGNA~2.TXT"}, "LONGNA~1.TXT", "LONGNA~3.TXT"},
        {{"longna~1.txt"}, "LONGNA~2.TXT", "LONGNA~3.TXT"},  // stored in small letters elsewhere
    };
    TempDir dir;
    ASSERT_EQ(mkdir(dir.File("a").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir.File("b").c_str(), 0755), 0);
    const auto a = Filled(100, 0xAA), b = Filled(5000, 0xBB), other = Filled(7, 0x11);
    WriteFileBytes(dir.File("a/long name.txt"), a);
    WriteFileBytes(dir.File("b/longname-b.txt"), b);
    for (const Case& c : cases) {
        TPutRig rig;
        for (const std::string& n : c.onMedium) ASSERT_EQ(rig.Client.Save(n, other), 0) << n;
        const auto run = rig.Put({dir.File("a/long name.txt"), dir.File("b/longname-b.txt")}, false);
        EXPECT_EQ(run.Exit, 0) << run.Err;
        EXPECT_EQ(rig.Read(c.expectedA), a) << c.expectedA;
        EXPECT_EQ(rig.Read(c.expectedB), b) << c.expectedB;
        for (const std::string& n : c.onMedium) EXPECT_EQ(rig.Read(n), other) << n;
    }
}

// A file that cannot be written is reported and the next one follows; the
// files that failed write nothing, and the exit status is 1.
TEST(ZvtPut, OneFileFailingDoesNotStopTheOthers) {
    TempDir dir;
    const auto first = Filled(700, 0x01), last = Filled(3000, 0x02), old = Filled(9, 0x03);
    WriteFileBytes(dir.File("first.tnc"), first);
    WriteFileBytes(dir.File("taken.tnc"), Filled(50, 0x04));
    WriteFileBytes(dir.File("huge.tnc"), Filled(3u << 20, 0x05));
    ASSERT_EQ(mkdir(dir.File("folder.tnc").c_str(), 0755), 0);
    WriteFileBytes(dir.File("last.tnc"), last);
    const std::vector<std::string> failing = {dir.File("missing.tnc"), dir.File("taken.tnc"), dir.File("huge.tnc"),
                                              dir.File("folder.tnc")};

    // Each run on a medium holding TAKEN.TNC; the count of sectors it wrote.
    auto put = [&](TPutRig& rig, const std::vector<std::string>& paths, TPutRig::TRun& run) {
        EXPECT_EQ(rig.Client.Save("TAKEN.TNC", old), 0);
        rig.Medium.ClearLog();
        run = rig.Put(paths, false);
        const auto& log = rig.Medium.Log();
        return std::count_if(log.begin(), log.end(), [](const auto& e) { return e.Cmd == cmdWriteSector; });
    };
    TPutRig clean, rig;
    TPutRig::TRun cleanRun, run;
    const auto writesOfTheGoodFiles = put(clean, {dir.File("first.tnc"), dir.File("last.tnc")}, cleanRun);
    ASSERT_EQ(cleanRun.Exit, 0) << cleanRun.Err;
    std::vector<std::string> paths = failing;
    paths.insert(paths.begin(), dir.File("first.tnc"));
    paths.push_back(dir.File("last.tnc"));
    EXPECT_EQ(put(rig, paths, run), writesOfTheGoodFiles);  // the failed files wrote not a sector
    EXPECT_EQ(run.Exit, 1);
    EXPECT_EQ(Count(run.Err, "zvt: "), failing.size()) << run.Err;
    for (const std::string& p : failing) EXPECT_NE(run.Err.find(p), std::string::npos) << p;
    EXPECT_NE(run.Err.find("файл с этим именем уже существует"), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find("недостаточно места на флэш"), std::string::npos) << run.Err;
    EXPECT_EQ(rig.Read("FIRST.TNC"), first);
    EXPECT_EQ(rig.Read("LAST.TNC"), last);
    EXPECT_EQ(rig.Read("TAKEN.TNC"), old);
    EXPECT_EQ(rig.Read("HUGE.TNC"), std::nullopt);
}

// After a failure of the link no further file is tried: the run stops with
// the failure and names the files it did not write.
TEST(ZvtPut, LinkFailureEndsTheRun) {
    TempDir dir;
    const std::vector<std::string> paths = {dir.File("a.tnc"), dir.File("b.tnc"), dir.File("c.tnc")};
    for (size_t i = 0; i < paths.size(); ++i) WriteFileBytes(paths[i], Filled(100, static_cast<uint8_t>(0x41 + i)));
    struct Case {
        uint8_t transport;
        const char* text;
    };
    const Case cases[] = {
        {1, "ошибка связи с ZVT"},     // no answer
        {4, "ошибка готовности ZVT"},  // the device stayed busy
        {5, "ошибка связи с ZVT"},     // the port was closed
    };
    for (const Case& c : cases) {
        TPutRig rig;
        // The second file's first data write fails.
        rig.Fault = [&](uint8_t cmd, uint16_t, uint8_t* buffer, uint8_t r) {
            return cmd == cmdWriteSector && StartsWith(buffer, 0x42) ? c.transport : r;
        };
        const auto run = rig.Put(paths, false);
        EXPECT_EQ(run.Exit, 1);
        EXPECT_EQ(Count(run.Err, "Ошибка записи файла"), 1u) << run.Err;
        EXPECT_NE(run.Err.find("Ошибка записи файла " + paths[1] + ": " + c.text), std::string::npos) << run.Err;
        EXPECT_NE(run.Err.find("запись остановлена, не записаны: " + paths[2]), std::string::npos) << run.Err;
        EXPECT_EQ(rig.Read("A.TNC"), Filled(100, 0x41));
        EXPECT_EQ(rig.Read("B.TNC"), std::nullopt);
        EXPECT_EQ(rig.Read("C.TNC"), std::nullopt);
    }
}

// --verify reads each file back: a copy that differs from the PC file in any
// byte or in its size fails that file and is taken off the medium; a copy
// that cannot be read back fails it too.
TEST(ZvtPut, VerifyCatchesWhatTheLineChangedSilently) {
    TempDir dir;
    const std::vector<std::string> paths = {dir.File("a.tnc"), dir.File("b.tnc"), dir.File("c.tnc")};
    std::vector<std::vector<uint8_t>> bytes = {Filled(700, 0xAA), Filled(3000, 0xBB), Filled(10, 0xCC)};
    // b ends in a zero byte: a copy one byte short would load zero-filled to
    // the same bytes, so only its size tells it apart.
    bytes[1].back() = 0;
    for (size_t i = 0; i < paths.size(); ++i) WriteFileBytes(paths[i], bytes[i]);
    const char* differs = "файл на флэш не совпадает с файлом ПК, файл удалён с флэш";

    using TFault = std::function<uint8_t(TMemMedium&, uint8_t, uint16_t, uint8_t*, uint8_t)>;
    struct Case {
        const char* what;
        TFault fault;
        const char* verdictOfB;  // nullptr: every file verifies
        bool cWritten;
    };
    const Case cases[] = {
        {"good line", nullptr, nullptr, true},
        {"a stored byte of b changed",
         [](TMemMedium& m, uint8_t cmd, uint16_t sector, uint8_t* buffer, uint8_t r) {
             if (cmd == cmdWriteSector && StartsWith(buffer, 0xBB)) m.Sector(sector)[100] ^= 0x10;
             return r;
         },
         differs, true},
        {"a byte of b changed on its way back",
         [](TMemMedium&, uint8_t cmd, uint16_t, uint8_t* buffer, uint8_t r) {
             if (cmd == cmdReadSector && StartsWith(buffer, 0xBB)) buffer[511] ^= 0x01;
             return r;
         },
         differs, true},
        {"the size in b's entry changed",
         [](TMemMedium& m, uint8_t cmd, uint16_t sector, uint8_t*, uint8_t r) {
             if (cmd != cmdWriteSector) return r;
             for (uint32_t off = 0; off < TMemMedium::SectorBytes; off += dirent::Size) {
                 uint8_t* slot = m.Sector(sector) + off;
                 if (std::memcmp(slot, "B       TNC", 11) == 0 && GetU32(slot, dirent::FileSize) == 3000)
                     PutU32(slot, dirent::FileSize, 2999);
             }
             return r;
         },
         "сектор каталога 6 читается не так, как записан; затронуты файлы: B.TNC; файл на флэш не совпадает с "
         "файлом ПК, файл удалён с флэш",
         true},
        {"b cannot be read back",
         [](TMemMedium&, uint8_t cmd, uint16_t, uint8_t* buffer, uint8_t r) {
             return cmd == cmdReadSector && StartsWith(buffer, 0xBB) ? uint8_t{1} : r;
         },
         "ошибка связи с ZVT", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TPutRig rig;
        if (c.fault) rig.Fault = [&](uint8_t cmd, uint16_t s, uint8_t* b, uint8_t r) { return c.fault(rig.Medium, cmd, s, b, r); };
        const auto run = rig.Put(paths, true);
        EXPECT_EQ(rig.Read("A.TNC"), bytes[0]);
        EXPECT_EQ(run.Out.find(paths[0] + " -> A.TNC (700 байт, проверен)"), 0u) << run.Out;
        if (!c.verdictOfB) {
            EXPECT_EQ(run.Exit, 0) << run.Err;
            EXPECT_EQ(Count(run.Out, ", проверен)"), 3u) << run.Out;
            EXPECT_EQ(rig.Read("B.TNC"), bytes[1]);
            EXPECT_EQ(rig.Read("C.TNC"), bytes[2]);
            continue;
        }
        EXPECT_EQ(run.Exit, 1);
        EXPECT_NE(run.Err.find("Ошибка проверки файла " + paths[1] + ": " + c.verdictOfB), std::string::npos)
            << run.Err;
        EXPECT_EQ(run.Out.find("b.tnc"), std::string::npos) << run.Out;
        if (c.cWritten) {
            EXPECT_EQ(rig.Read("B.TNC"), std::nullopt);
        }
        EXPECT_EQ(rig.Read("C.TNC") == bytes[2], c.cWritten);
        EXPECT_EQ(run.Err.find("не записаны: " + paths[2]) != std::string::npos, !c.cWritten) << run.Err;
    }
}

// put --replace never leaves the name without a program: when the new
// copy cannot be written beside the old one, or the line fails while it is
// written, the old file is there as it was.
TEST(ZvtPut, ReplaceThatCannotFinishLeavesTheOldFile) {
    TempDir dir;
    const auto old = Filled(1 << 20, 0x01);
    const std::string path = dir.File("prog.tnc");
    const struct {
        const char* what;
        size_t size;  // of the new file
        bool failData;  // the line fails at the new copy's first data sector
        const char* said;
    } cases[] = {
        // Room only once the old copy is gone: nothing is read or written.
        {"no room beside the old copy", 1536 * 1024, false, "недостаточно места на флэш"},
        {"the line fails during the new copy", 5000, true, "ошибка связи с ZVT"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TPutRig rig;
        ASSERT_EQ(rig.Client.Save("PROG.TNC", old), 0);
        WriteFileBytes(path, Filled(c.size, 0x02));
        if (c.failData)
            rig.Fault = [](uint8_t cmd, uint16_t, uint8_t* buffer, uint8_t r) {
                return cmd == cmdWriteSector && StartsWith(buffer, 0x02) ? uint8_t{xrNoAnswer} : r;
            };
        const auto run = rig.Put({path}, false, true);
        EXPECT_EQ(run.Exit, 1);
        EXPECT_NE(run.Err.find(c.said), std::string::npos) << run.Err;
        EXPECT_EQ(rig.Read("PROG.TNC"), old);
    }
}

// --verify also reads back the FAT and directory sectors each save wrote: a
// byte the device stored wrongly there is named with the files it touches,
// even when it belongs to a file written (and verified) before. The file
// just written stays when the fault is not its own.
TEST(ZvtPut, VerifyReadsBackTheSectorsOfTheWholeSave) {
    TempDir dir;
    const std::vector<std::string> paths = {dir.File("a.tnc"), dir.File("b.tnc")};
    const std::vector<std::vector<uint8_t>> bytes = {Filled(3000, 0xAA), Filled(700, 0xBB)};
    for (size_t i = 0; i < paths.size(); ++i) WriteFileBytes(paths[i], bytes[i]);
    struct Case {
        const char* what;
        bool fat;       // the FAT's first sector, else the root's first
        size_t offset;  // the byte stored with bit 7 flipped on b's save
        const char* report;
    };
    const Case cases[] = {
        // "A" becomes "Б": the earlier file is renamed.
        {"a's name in the directory", false, 0, "затронуты файлы: A.TNC, Б.TNC"},
        {"a's chain in the FAT", true, 2 * 2 + 1, "затронуты файлы: A.TNC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TPutRig rig;
        ASSERT_EQ(rig.Put({paths[0]}, true).Exit, 0);
        TZVT_drv& d = rig.Client.Driver();
        const uint16_t target = c.fat ? d.FReservedSectors : d.FFirstRootSector;
        int writes = 0;
        rig.Fault = [&](uint8_t cmd, uint16_t s, uint8_t*, uint8_t r) {
            // The FAT is written once a save; the entry's block twice, the
            // second time with the entry live.
            if (cmd == cmdWriteSector && s == target && ++writes == (c.fat ? 1 : 2)) rig.Medium.Sector(s)[c.offset] ^= 0x80;
            return r;
        };
        const auto run = rig.Put({paths[1]}, true);
        EXPECT_EQ(run.Exit, 1);
        const std::string area = c.fat ? "сектор FAT " : "сектор каталога ";
        EXPECT_NE(run.Err.find("Ошибка проверки файла " + paths[1] + ": " + area + std::to_string(target) +
                               " читается не так, как записан; " + c.report),
                  std::string::npos)
            << run.Err;
        EXPECT_EQ(run.Err.find("удалён"), std::string::npos) << run.Err;
        EXPECT_EQ(rig.Read("B.TNC"), bytes[1]);
    }
}
