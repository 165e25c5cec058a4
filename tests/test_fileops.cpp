// The file operations on an in-memory medium: the exact transfers of each
// operation, the directory and cluster routines, and the failure paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "flashfs/frame_cost.h"
#include "flashfs/fs_flash.h"
#include "tests/mem_medium.h"

using namespace skarvel;
using test::RandomBytes;
using test::TExchangeRecord;
using Seq = std::vector<TExchangeRecord>;
using U16 = std::vector<uint16_t>;
using Codes = std::vector<int>;  // operations' results, in the order called

namespace {

constexpr uint8_t R = cmdReadSector;
constexpr uint8_t W = cmdWriteSector;

Seq Span(uint8_t cmd, int from, int to) {
    Seq s;
    for (int i = from; i <= to; ++i) s.push_back({cmd, static_cast<uint16_t>(i)});
    return s;
}
Seq operator+(Seq a, const Seq& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Sector of cluster n on the formatted 2 MiB medium.
int Sec(int n) { return 38 + (n - 2) * 4; }

// Lays out a volume of 4-sector clusters, one reserved sector and one FAT on
// m, with the FAT's first two entries set.
TVolumeGeometry Lay(test::TMemMedium& m, uint16_t rootEntries, uint16_t fatSectors, uint32_t total) {
    TVolumeGeometry g;
    g.SectorsPerCluster = 4;
    g.ReservedSectors = 1;
    g.NumFATs = 1;
    g.RootEntries = rootEntries;
    g.SectorsPerFAT = fatSectors;
    g.TotalSectors = total;
    EXPECT_TRUE(DeriveGeometry(g));
    EncodeBootSector(g, m.Sector(0));
    PutU16(m.Sector(1), 0, 0xFFF0);
    PutU16(m.Sector(1), 2, 0xFFFF);
    return g;
}

struct FileOps : ::testing::Test {
    test::TMemMedium medium;
    TFlash flash;

    FileOps() {
        medium.Attach(flash);
        flash.FMediumSize = 0x200000;
        EXPECT_EQ(flash.FormatFlash(0), feOk);
        medium.ClearLog();
    }
    uint8_t Save(const char* name, size_t n, uint32_t seed = 1) {
        const auto d = RandomBytes(n, seed);
        return flash.SaveFile(name, d.data(), 0, static_cast<uint32_t>(n));
    }
    uint8_t Load(const char* name, std::vector<uint8_t>& out, size_t capacity) {
        out.assign(capacity, 0xEE);
        return flash.LoadFile(name, out.data(), 0, static_cast<uint32_t>(capacity));
    }
    uint8_t* Slot(int sector, int slot) { return medium.Sector(sector) + slot * 32; }
    // FAT entries from..to as the medium holds them.
    U16 Fats(int from, int to) {
        U16 v;
        for (int n = from; n <= to; ++n) v.push_back(GetU16(medium.Sector(1), static_cast<size_t>(n) * 2));
        return v;
    }
};

struct Dir : FileOps {};

}  // namespace

// ---------------------------------------------------------------- transfers

TEST_F(FileOps, InitTransfers) {
    ASSERT_EQ(flash.InitFlash(), feOk);
    EXPECT_EQ(medium.Log(), (Seq{{cmdIdentify, 0}} + Span(R, 0, 5)));
    EXPECT_TRUE(flash.FMounted);
    // Sector and cluster size, FAT, root and data sectors, clusters, the
    // current directory, the FAT's first entries, the buffers.
    const std::vector<uint32_t> got = {flash.FBytesPerSector.load(), flash.FSectorsPerCluster, flash.FSectorsPerFAT,
                                       flash.FFirstRootSector, flash.FFirstDataSector, flash.FRootDirSectors,
                                       flash.FClusterCount, flash.FCurDir, flash.FFat[0], flash.FFat[1],
                                       static_cast<uint32_t>(flash.FClusterBuf.size()),
                                       static_cast<uint32_t>(flash.FFat.size())};
    EXPECT_EQ(got, (std::vector<uint32_t>{512, 4, 5, 6, 38, 32, 1024, 1, 0xFFF0, 0xFFFF, 2048, 5 * 256}));
}

TEST_F(FileOps, FormatTransfers) {
    ASSERT_EQ(flash.FormatFlash(0), feOk);
    const Seq expect = Span(W, 6, 37) + Span(W, 0, 0) + Span(W, 1, 5);
    EXPECT_EQ(medium.Log(), expect);

    flash.FMediumSize = 0;  // the port was released: identify again
    medium.ClearLog();
    ASSERT_EQ(flash.FormatFlash(0), feOk);
    EXPECT_EQ(medium.Log(), (Seq{{cmdIdentify, 0}} + expect));
}

TEST_F(FileOps, SaveLoadDeleteAttrTransfers) {
    // The save: scan, slot reserved, the clusters, the FAT, and last the
    // entry's block with its name and size.
    ASSERT_EQ(Save("prog.lst", 5000), feOk);  // three clusters
    EXPECT_EQ(medium.Log(), Span(R, 6, 9) + Span(W, 6, 9) + Span(W, Sec(2), Sec(5) - 1) + Span(W, 1, 5) +
                                Span(R, 6, 9) + Span(W, 6, 9));

    medium.ClearLog();
    std::vector<uint8_t> out;
    ASSERT_EQ(Load("PROG.LST", out, 5000), feOk);
    EXPECT_EQ(out, RandomBytes(5000, 1));
    EXPECT_EQ(medium.Log(), Span(R, 6, 9) + Span(R, Sec(2), Sec(5) - 1));

    medium.ClearLog();
    uint32_t size = 0;
    ASSERT_EQ(flash.GetFileAttr("prog.lst", size, 0), feOk);
    EXPECT_EQ(size, 5000u);
    EXPECT_EQ(medium.Log(), Span(R, 6, 9));

    medium.ClearLog();
    ASSERT_EQ(flash.DeleteFile("Prog.Lst", 0), feOk);
    EXPECT_EQ(medium.Log(), Span(R, 6, 9) + Span(W, 6, 9) + Span(W, 1, 5));
    EXPECT_EQ(Slot(6, 0)[0], 0xE5);
    EXPECT_EQ(U16(&flash.FFat[2], &flash.FFat[5]), U16(3, 0));
    EXPECT_EQ(Fats(2, 4), U16(3, 0));
}

TEST_F(FileOps, ReadDirListsTheRootUpToTheEndMark) {
    EXPECT_EQ(flash.ReadDir(0, nullptr), feDiskEmpty);
    EXPECT_EQ(flash.FFiles.Count(), 0);
    EXPECT_EQ(medium.Log(), Span(R, 6, 9));

    ASSERT_EQ(Save("b.txt", 10), feOk);
    ASSERT_EQ(Save("a.lst", 3), feOk);
    ASSERT_EQ(flash.DeleteFile("b.txt", 0), feOk);
    ASSERT_EQ(Save("c", 0), feOk);  // goes into the deleted slot 0
    test::PutEntry(Slot(6, 2), "LABEL      ", 0x08, 0, 0);
    test::PutEntry(Slot(6, 3), "SUB        ", 0x10, 0, 0);
    test::PutEntry(Slot(6, 4), "OLD     TXT", 0x00, 9, 7);
    Slot(6, 4)[0] = 0xE5;
    test::PutEntry(Slot(6, 5), "\x41l\0o\0n\0g\0\0", 0x0F, 0, 0);  // a piece of another system's long name
    medium.ClearLog();
    ASSERT_EQ(flash.ReadDir(0, nullptr), feOk);
    // The label, the directory and the long name are no files.
    EXPECT_EQ(flash.FFiles.StringList(), (std::vector<std::string>{"C", "A.LST"}));
    EXPECT_EQ(flash.FFiles.SizeArray(), (sizeArr{0, 3}));
    EXPECT_EQ(flash.FFiles.FlagArray(), (boolArr{false, false}));
    EXPECT_EQ(medium.Log(), Span(R, 6, 9));

    ASSERT_EQ(flash.ReadDir(0, "*.LST"), feOk);
    ASSERT_EQ(flash.FFiles.Count(), 1);
    EXPECT_EQ(flash.ReadDir(0, "*.ISO"), feDiskEmpty);
}

// ---------------------------------------------------------------- chains

TEST_F(FileOps, ChainLengthsOnTheMedium) {
    ASSERT_EQ(Save("empty", 0), feOk);
    ASSERT_EQ(Save("exact", 2048), feOk);
    ASSERT_EQ(Save("over", 2049), feOk);
    EXPECT_EQ(GetU16(Slot(6, 0), 26), 2);
    EXPECT_EQ(GetU32(Slot(6, 0), 28), 0u);
    // The empty file has one cluster; 2048 bytes two, the second unused;
    // 2049 bytes two.
    EXPECT_EQ(Fats(2, 7), (U16{0xFFFF, 4, 0xFFFF, 6, 0xFFFF, 0}));

    // A load reads the clusters that hold bytes, not the unused one.
    medium.ClearLog();
    std::vector<uint8_t> out;
    ASSERT_EQ(Load("empty", out, 0), feOk);
    EXPECT_EQ(medium.Log(), Span(R, 6, 9));
    medium.ClearLog();
    ASSERT_EQ(Load("exact", out, 2048), feOk);
    EXPECT_EQ(out, RandomBytes(2048, 1));
    EXPECT_EQ(medium.Log(), Span(R, 6, 9) + Span(R, Sec(3), Sec(4) - 1));
}

// The progress bars' counts are the frames each operation exchanges, at
// the sizes where the chain rules part: empty, within a cluster, an exact
// multiple, one byte past it.
TEST_F(FileOps, FrameCountsAreWhatTheOperationsExchange) {
    auto counted = [this] {
        TFrameCount n;
        for (const TExchangeRecord& r : medium.Log()) (r.Cmd == W ? n.Writes : n.Reads)++;
        medium.ClearLog();
        return n;
    };
    auto same = [](const TFrameCount& a, const TFrameCount& b) { return a.Reads == b.Reads && a.Writes == b.Writes; };
    const TVolumeGeometry g = flash.Geometry();
    for (const uint32_t size : {0u, 1u, 2047u, 2048u, 2049u, 10000u}) {
        const auto data = RandomBytes(size, size);
        ASSERT_EQ(flash.SaveFile("F.BIN", data.data(), 0, size), feOk);
        EXPECT_TRUE(same(counted(), SaveFrames(g, size))) << "save " << size;
        TSaveCheck check;
        ASSERT_EQ(flash.VerifySave(flash.LastSave(), data.data(), size, check), feOk);
        EXPECT_TRUE(same(counted(), VerifyFrames(g, size))) << "verify " << size;
        std::vector<uint8_t> out;
        ASSERT_EQ(flash.LoadFile("F.BIN", out, 0), feOk);
        EXPECT_TRUE(same(counted(), LoadFrames(g, size))) << "load " << size;
        ASSERT_EQ(flash.DeleteFile("F.BIN", 0), feOk);
        EXPECT_TRUE(same(counted(), DeleteFrames(g))) << "delete " << size;
    }
    EXPECT_EQ(SaveFrames(TVolumeGeometry{}, 100).All(), 0u);  // no geometry yet
}

TEST_F(FileOps, RoundTripsSurviveARemount) {
    const size_t sizes[] = {0, 1, 511, 512, 2047, 2048, 2049, 4096, 6143, 10000, 65539};
    for (uint32_t i = 0; i < std::size(sizes); ++i)
        ASSERT_EQ(Save(("F" + std::to_string(i) + ".BIN").c_str(), sizes[i], 100 + i), feOk) << sizes[i];
    TFlash other;  // a second PC side mounting the same medium
    medium.Attach(other);
    ASSERT_EQ(other.InitFlash(), feOk);
    EXPECT_EQ(other.FFat, flash.FFat);
    for (uint32_t i = 0; i < std::size(sizes); ++i) {
        const size_t n = sizes[i];
        const std::string name = "f" + std::to_string(i) + ".bin";
        std::vector<uint8_t> out(n + 5, 0xEE), expect = RandomBytes(n, 100 + i);
        expect.resize(n + 5, 0xEE);  // nothing past the size given
        ASSERT_EQ(other.LoadFile(name.c_str(), out.data(), 0, static_cast<uint32_t>(n)), feOk) << n;
        EXPECT_EQ(out, expect) << n;
        uint32_t size = 0;
        EXPECT_EQ(other.GetFileAttr(name.c_str(), size, 0), feOk);
        EXPECT_EQ(size, n);
    }
    EXPECT_EQ(other.ReadDir(0, nullptr), feOk);
    EXPECT_EQ(other.FFiles.Count(), static_cast<int>(std::size(sizes)));
}

TEST_F(FileOps, LoadSizes) {
    ASSERT_EQ(Save("a", 3000), feOk);
    medium.ClearLog();
    std::vector<uint8_t> out;
    EXPECT_EQ(Load("a", out, 2999), feNoRoom);
    EXPECT_EQ(medium.Log(), Span(R, 6, 9));  // no cluster read
    EXPECT_EQ(flash.LoadFile("a", nullptr, 0, 5000), feNoRoom);
    ASSERT_EQ(Load("a", out, 5000), feOk);  // a larger destination: the rest is zero
    std::vector<uint8_t> expect = RandomBytes(3000, 1);
    expect.resize(5000, 0);
    EXPECT_EQ(out, expect);
}

// ---------------------------------------------------------------- names and state

TEST_F(FileOps, ExistingOrAbsentNameWritesNothing) {
    ASSERT_EQ(Save("prog.lst", 100), feOk);
    medium.ClearLog();
    EXPECT_EQ(Save("PROG.LST", 100, 2), feExists);
    EXPECT_EQ(flash.DeleteFile("none", 0), feNotFound);
    EXPECT_EQ(medium.Log(), Span(R, 6, 9) + Span(R, 6, 9));
    EXPECT_EQ(flash.FPendingEntry, 0u);
    EXPECT_EQ(flash.FFat[3], 0);
}

TEST_F(FileOps, UnmountedAndRejectedNames) {
    TFlash fresh;
    test::TMemMedium m2;
    m2.Attach(fresh);
    uint32_t size = 0;
    const uint8_t d = 1;
    fresh.FFiles.AddFile("X", 1, true);
    // Listing, save, load, delete, attributes, and the directory operations.
    EXPECT_EQ((Codes{fresh.ReadDir(0, nullptr), fresh.SaveFile("a", &d, 0, 1), fresh.LoadFile("a", &size, 0, 4),
                     fresh.DeleteFile("a", 0), fresh.GetFileAttr("a", size, 0), fresh.MakeDir("a", 0),
                     fresh.RenameFile(), fresh.ChangeDir(), fresh.RemoveDir()}),
              Codes(9, feUnformatted));
    EXPECT_EQ(fresh.FFiles.Count(), 0);
    EXPECT_TRUE(m2.Log().empty());

    EXPECT_EQ((Codes{flash.SaveFile(" a", &d, 0, 1), flash.SaveFile(nullptr, &d, 0, 1), flash.MakeDir(" a", 0)}),
              Codes(3, feBadName));
    EXPECT_TRUE(medium.Log().empty());
    EXPECT_EQ((Codes{flash.LoadFile(" a", &size, 0, 4), flash.DeleteFile(" a", 0), flash.GetFileAttr(" a", size, 0)}),
              Codes(3, feBadName));
    EXPECT_EQ(flash.SaveFile("a", nullptr, 0, 10), feFileEmpty);
    EXPECT_TRUE(medium.WrittenSectors().empty());
    EXPECT_EQ((Codes{flash.RenameFile(), flash.ChangeDir(), flash.RemoveDir()}), Codes(3, feOk));
}

TEST_F(FileOps, DeletedClustersAreTakenAgain) {
    ASSERT_EQ(Save("a", 5000), feOk);  // 2, 3, 4
    ASSERT_EQ(Save("b", 10), feOk);    // 5
    ASSERT_EQ(flash.DeleteFile("a", 0), feOk);
    ASSERT_EQ(Save("c", 3000), feOk);  // 2, 3
    EXPECT_EQ(GetU16(Slot(6, 0), 26), 2);
    EXPECT_EQ(Fats(2, 5), (U16{3, 0xFFFF, 0, 0xFFFF}));
}

// ---------------------------------------------------------------- abort, full volume

TEST_F(FileOps, AbortAfterTheFirstCluster) {
    medium.OnExchange = [&](uint8_t cmd, uint16_t sector) {
        if (cmd == W && sector == Sec(2) + 3) flash.FAbort = true;
    };
    EXPECT_EQ(Save("a", 5000), feAborted);
    // Nothing on the medium names the cluster written: nothing more to write.
    EXPECT_EQ(medium.Log(), Span(R, 6, 9) + Span(W, 6, 9) + Span(W, Sec(2), Sec(3) - 1));
    EXPECT_EQ(Slot(6, 0)[0], 0xE5);
    EXPECT_EQ(flash.FPendingEntry, 0u);
    // The cluster taken is free again, in memory and on the medium.
    EXPECT_EQ(flash.FFat[2], 0);
    EXPECT_EQ(Fats(2, 2), U16{0});

    medium.OnExchange = nullptr;
    ASSERT_EQ(Save("b", 10), feOk);
    EXPECT_EQ(GetU16(Slot(6, 0), 26), 2);  // the slot and the cluster are reused
}

TEST_F(FileOps, AbortDuringALoadDeliversNoFile) {
    ASSERT_EQ(Save("a", 5000), feOk);
    medium.ClearLog();
    medium.OnExchange = [&](uint8_t cmd, uint16_t sector) {
        if (cmd == R && sector == Sec(2)) flash.FAbort = true;
    };
    std::vector<uint8_t> out;
    EXPECT_EQ(Load("a", out, 5000), feAborted);
    EXPECT_EQ(medium.Log(), Span(R, 6, 9) + Span(R, Sec(2), Sec(3) - 1));
}

TEST_F(FileOps, FullVolumeDuringASave) {
    const uint32_t big = 1011 * 2048 + 100;  // clusters 2..1013
    ASSERT_EQ(Save("big", big), feOk);
    EXPECT_EQ(flash.FFat[1013], 0xFFFF);
    medium.ClearLog();
    EXPECT_EQ(Save("three", 4097), feNoRoom);  // takes 1014 and 1015, then finds none
    for (uint16_t s : medium.WrittenSectors()) {
        const bool dir = s >= 6 && s <= 9, fat = s >= 1 && s <= 5, data = s >= Sec(1014) && s < Sec(1016);
        EXPECT_TRUE(dir || fat || data) << s;  // nothing written for a cluster 0
    }
    EXPECT_EQ(Slot(6, 1)[0], 0xE5);
    EXPECT_EQ(flash.FPendingEntry, 0u);
    // They are free again; entries past the data clusters are never taken.
    EXPECT_EQ(U16(flash.FFat.begin() + 1014, flash.FFat.end()), U16(flash.FFat.size() - 1014, 0));
    EXPECT_EQ(Fats(1014, 1015), U16(2, 0));

    ASSERT_EQ(Save("two", 2048), feOk);  // exactly the two clusters left
    EXPECT_EQ(Fats(1014, 1014), U16{1015});
    medium.ClearLog();
    EXPECT_EQ(Save("more", 1), feNoRoom);
    EXPECT_EQ(medium.Log(), Span(R, 6, 9));

    std::vector<uint8_t> out;
    ASSERT_EQ(Load("big", out, big), feOk);
    EXPECT_EQ(out, RandomBytes(big, 1));
}

// ---------------------------------------------------------------- damaged volumes

TEST_F(FileOps, DamagedChainsAreReportedNotFollowedNorDeleted) {
    ASSERT_EQ(Save("A", 5000), feOk);  // 2 -> 3 -> 4
    ASSERT_EQ(Save("C", 100), feOk);   // 5
    ASSERT_EQ(Save("B", 4096), feOk);  // 6 -> 7 -> 8
    const auto good = flash.FFat;
    const struct {
        const char* Name;
        uint32_t Size;
        uint16_t Entry, Value;  // the FAT entry damaged and its value
    } cases[] = {
        {"A", 5000, 3, 2000}, {"A", 5000, 3, 1}, {"A", 5000, 3, 0}, {"A", 5000, 3, 0xFFFF},
        {"A", 5000, 3, 2},  // a loop
        {"A", 5000, 3, 3},  // a loop onto itself
        // The last cluster of a short file must be in use too: a save cut
        // off before its FAT write leaves it free.
        {"C", 100, 5, 0},
        {"C", 100, 5, 0xFFF7},  // a bad cluster is no part of a file
        {"B", 4096, 7, 6},      // a loop behind the last cluster holding data (exact multiple)
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.Name) + " " + std::to_string(c.Entry) + " " + std::to_string(c.Value));
        flash.FFat = good;
        flash.FFat[c.Entry] = c.Value;
        const auto fat = flash.FFat;
        medium.ClearLog();
        std::vector<uint8_t> out;
        EXPECT_EQ(Load(c.Name, out, c.Size), feDamagedFile);
        EXPECT_EQ(medium.Log(), Span(R, 6, 9));  // no cluster read at all
        // A delete writes nothing: the entry and every cluster stay.
        EXPECT_EQ(flash.DeleteFile(c.Name, 0), feDamagedFile);
        EXPECT_TRUE(medium.WrittenSectors().empty());
        EXPECT_EQ(flash.FFat, fat);
    }
    flash.FFat = good;
    flash.FFat[7] = 0xFFFF;  // written elsewhere without the unused cluster
    std::vector<uint8_t> out;
    ASSERT_EQ(Load("B", out, 4096), feOk);
    EXPECT_EQ(out, RandomBytes(4096, 1));
}

TEST_F(FileOps, EntriesWithAFirstClusterOutsideTheVolume) {
    test::PutEntry(Slot(6, 0), "FAR     TXT", 0x20, 2000, 10);
    test::PutEntry(Slot(6, 1), "NIL     TXT", 0x20, 0, 10);
    std::vector<uint8_t> out;
    medium.ClearLog();
    EXPECT_EQ(Load("far.txt", out, 10), feDamagedFile);
    EXPECT_EQ(Load("nil.txt", out, 10), feDamagedFile);
    EXPECT_EQ(medium.Log(), Span(R, 6, 9) + Span(R, 6, 9));
    uint32_t size = 0;
    EXPECT_EQ(flash.GetFileAttr("far.txt", size, 0), feOk);  // the archive bit does not matter
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(flash.DeleteFile("far.txt", 0), feDamagedFile);
    EXPECT_EQ(Slot(6, 0)[0], 'F');
}

TEST_F(FileOps, EmptyFileWithoutACluster) {
    test::PutEntry(Slot(6, 0), "EMPTY   TXT", 0x20, 0, 0);  // as other systems write an empty file
    std::vector<uint8_t> out;
    ASSERT_EQ(Load("empty.txt", out, 0), feOk);
    ASSERT_EQ(Load("empty.txt", out, 4), feOk);
    EXPECT_EQ(out, std::vector<uint8_t>(4, 0));
    EXPECT_EQ(flash.DeleteFile("empty.txt", 0), feOk);
    EXPECT_EQ(Slot(6, 0)[0], 0xE5);
}

// ---------------------------------------------------------------- failed transfers

TEST_F(FileOps, FailedMountReadsLeaveTheWorkerUnmounted) {
    medium.FailSector(R, 0, 1);
    EXPECT_EQ(flash.InitFlash(), feNoAnswer);
    EXPECT_FALSE(flash.FMounted);
    EXPECT_EQ(medium.Log(), (Seq{{cmdIdentify, 0}, {R, 0}}));

    medium.ClearFaults();
    medium.ClearLog();
    medium.FailSector(R, 3, 5);
    EXPECT_EQ(flash.InitFlash(), feNoAnswer);
    EXPECT_FALSE(flash.FMounted);
    EXPECT_EQ(medium.Log(), (Seq{{cmdIdentify, 0}} + Span(R, 0, 3)));
    EXPECT_EQ(Save("a", 10), feUnformatted);  // no cluster is taken from a partial FAT

    medium.ClearFaults();
    ASSERT_EQ(flash.InitFlash(), feOk);
    ASSERT_EQ(Save("a", 10), feOk);
}

TEST_F(FileOps, FailedDirectoryReadsAreNeverWrittenBack) {
    for (int i = 0; i < 64; ++i) ASSERT_EQ(Save(("F" + std::to_string(i)).c_str(), 1), feOk);
    medium.FailSector(R, 10, 1);
    medium.ClearLog();
    EXPECT_EQ(Save("new", 1), feLinkLost);
    EXPECT_EQ(flash.DeleteFile("none", 0), feLinkLost);
    uint32_t size = 0;
    EXPECT_EQ(flash.GetFileAttr("none", size, 0), feLinkLost);
    EXPECT_TRUE(medium.WrittenSectors().empty());
    EXPECT_EQ(flash.FPendingEntry, 0u);
    flash.FFiles.AddFile("stale", 1, false);
    EXPECT_EQ(flash.ReadDir(0, nullptr), feLinkLost);
    EXPECT_EQ(flash.FFiles.Count(), 0);  // no partial list
    EXPECT_EQ(flash.FFat[66], 0);

    medium.ClearFaults();
    medium.ClearLog();
    medium.FailSector(R, 7, 4);  // busy on a read is reported as not ready
    EXPECT_EQ(flash.DeleteFile("F3", 0), feNotReady);
    EXPECT_TRUE(medium.WrittenSectors().empty());
    EXPECT_EQ(Slot(6, 3)[0], 'F');
}

TEST_F(FileOps, FailedFinishKeepsTheChainOnlyWhenTheEntryMayBeLive) {
    // A one-cluster save: exchanges 1-4 scan, 5-8 reserve, 9-12 the cluster,
    // 13-17 the FAT, 18-21 read the entry's block, 22-25 write it.
    struct Case {
        size_t failing;
        bool keptInImage;  // the entry's sector may have been stored
    } cases[] = {{13, false}, {17, false}, {18, false}, {22, true}, {23, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        ASSERT_EQ(flash.FormatFlash(0), feOk);
        medium.FailNth(c.failing, 1);
        EXPECT_EQ(Save("a", 10), feLinkLost);
        EXPECT_EQ(flash.FPendingEntry, 0u);  // later operations are not blocked
        EXPECT_EQ(flash.FFat[2], c.keptInImage ? 0xFFFF : 0);
        uint32_t size = 0;
        // Only a stored entry sector makes the file: with the first sector
        // of its block written the entry is live and whole.
        EXPECT_EQ(flash.GetFileAttr("a", size, 0), c.failing == 23 ? feOk : feNotFound);
        medium.ClearFaults();
    }
}

TEST_F(FileOps, FailedClusterWriteDiscardsTheEntry) {
    medium.FailSector(W, Sec(3) + 1, 3);  // device busy on the second cluster
    EXPECT_EQ(Save("a", 3000), feNotReady);
    EXPECT_EQ(Slot(6, 0)[0], 0xE5);
    EXPECT_EQ(U16(&flash.FFat[2], &flash.FFat[4]), U16(2, 0));
    EXPECT_EQ(Fats(2, 2), U16{0});
    EXPECT_EQ(flash.FPendingEntry, 0u);

    medium.ClearFaults();
    medium.FailSector(W, 6, 5);  // the new entry cannot be written
    medium.ClearLog();
    EXPECT_EQ(Save("a", 3000), feLinkLost);
    EXPECT_EQ(medium.Log(), Span(R, 6, 9) + Span(W, 6, 6));
    EXPECT_EQ(flash.FFat[2], 0);
    EXPECT_EQ(flash.FPendingEntry, 0u);
}

TEST_F(FileOps, FailedTransfersEndTheOperation) {
    // A cluster read of a load, a FAT write of a delete, the writes of a format.
    ASSERT_EQ(Save("a", 5000), feOk);
    medium.FailSector(R, Sec(3) + 1, 1);
    medium.ClearLog();
    std::vector<uint8_t> out;
    EXPECT_EQ(Load("a", out, 5000), feLinkLost);
    EXPECT_EQ(medium.Log(), Span(R, 6, 9) + Span(R, Sec(2), Sec(3) + 1));

    medium.FailSector(W, 1, 3);
    EXPECT_EQ(flash.DeleteFile("a", 0), feNotReady);

    medium.ClearFaults();
    medium.FailSector(W, 10, 4);
    medium.ClearLog();
    EXPECT_EQ(flash.FormatFlash(0), feNotReady);
    EXPECT_FALSE(flash.FMounted);
    EXPECT_EQ(medium.Log(), Span(W, 6, 10));

    medium.ClearFaults();
    medium.ClearLog();
    medium.FailSector(W, 0, 1);
    EXPECT_EQ(flash.FormatFlash(0), feLinkLost);
    EXPECT_FALSE(flash.FMounted);
    EXPECT_EQ(medium.Log(), Span(W, 6, 37) + Span(W, 0, 0));

    medium.ClearFaults();
    medium.FailSector(W, 2, 5);
    EXPECT_EQ(flash.FormatFlash(0), feLinkLost);
    EXPECT_FALSE(flash.FMounted);
}

// ---------------------------------------------------------------- directory slots

TEST_F(FileOps, ClusterOfAnInterruptedSaveIsNotHandedOut) {
    // A save cut off after its entry was written: the entry names cluster 2,
    // but the FAT on the medium never learnt of it.
    test::PutEntry(Slot(6, 0), "CUT     TNC", 0, 2, 0);
    ASSERT_EQ(flash.InitFlash(), feOk);
    uint32_t size = 0;
    uint16_t first = 0;
    for (const char* name : {"NEW.TNC", "THIRD.TNC"}) {
        ASSERT_EQ(Save(name, 3000, 5), feOk);
        ASSERT_EQ(flash.FindEntry(name, size, first), feOk);
        EXPECT_NE(first, 2) << name;
        // The stale entry names a free cluster: it is damaged, neither
        // loaded nor deleted.
        std::vector<uint8_t> out;
        EXPECT_EQ(Load("CUT.TNC", out, 0), feDamagedFile);
        EXPECT_EQ(flash.DeleteFile("CUT.TNC", 0), feDamagedFile);
        EXPECT_EQ(flash.GetFileAttr("CUT.TNC", size, 0), feOk);
        ASSERT_EQ(Load("NEW.TNC", out, 3000), feOk);
        EXPECT_EQ(out, RandomBytes(3000, 5));
    }
}

TEST_F(Dir, SixtyFifthFileGoesIntoTheSecondBlock) {
    for (int i = 0; i < 64; ++i) ASSERT_EQ(Save(("F" + std::to_string(i)).c_str(), 1), feOk);
    const std::vector<uint8_t> first(medium.Sector(6), medium.Sector(10));
    medium.ClearLog();
    ASSERT_EQ(Save("last.lst", 300), feOk);
    // The blocks read for the scan are kept: the free slot is found in them.
    EXPECT_EQ(medium.Log(), Span(R, 6, 9) + Span(R, 10, 13) + Span(W, 10, 13) + Span(W, Sec(66), Sec(67) - 1) +
                                Span(W, 1, 5) + Span(R, 10, 13) + Span(W, 10, 13));
    EXPECT_EQ(std::memcmp(Slot(10, 0), "LAST    LST", 11), 0);
    EXPECT_EQ(GetU32(Slot(10, 0), 28), 300u);
    EXPECT_EQ(GetU16(Slot(10, 0), 26), 66);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), medium.Sector(6)));

    // A name in the last slot of the first block is found by the creation.
    medium.ClearLog();
    EXPECT_EQ(Save("f63", 1), feExists);
    EXPECT_EQ(medium.Log(), Span(R, 6, 9));

    ASSERT_EQ(flash.ReadDir(0, nullptr), feOk);
    EXPECT_EQ(flash.FFiles.Count(), 65);
}

TEST_F(Dir, DeletedSlotIsReusedFirst) {
    for (const char* name : {"a", "b", "c"}) ASSERT_EQ(Save(name, 1), feOk);
    ASSERT_EQ(flash.DeleteFile("b", 0), feOk);
    Slot(6, 1)[12] = 0x77;  // what the slot held stays
    ASSERT_EQ(Save("d", 5), feOk);
    EXPECT_EQ(std::memcmp(Slot(6, 1), "D          ", 11), 0);
    EXPECT_EQ(Slot(6, 1)[12], 0x77);
    EXPECT_EQ(GetU32(Slot(6, 1), 28), 5u);
    EXPECT_EQ(Slot(6, 3)[0], 0);
}

TEST_F(Dir, DirectoryOfTheSameNameDoesNotBlockAFile) {
    std::memset(medium.Sector(Sec(2)), 0x6B, 2048);
    medium.ClearLog();
    ASSERT_EQ(flash.MakeDir("x.txt", 0), feOk);
    EXPECT_EQ(medium.Log(), Span(R, 6, 9) + Span(W, 6, 9) + Span(W, Sec(2), Sec(3) - 1) + Span(W, 1, 5) +
                                Span(R, 6, 9) + Span(W, 6, 9));
    EXPECT_EQ(Slot(6, 0)[11], 0x10);
    EXPECT_EQ(Fats(2, 2), U16{0xFFFF});
    EXPECT_EQ(flash.FPendingEntry, 0u);
    EXPECT_EQ(std::vector<uint8_t>(medium.Sector(Sec(2)), medium.Sector(Sec(3))), std::vector<uint8_t>(2048, 0));

    EXPECT_EQ(flash.MakeDir("X.TXT", 0), feExists);
    uint32_t size = 0;
    EXPECT_EQ(flash.GetFileAttr("x.txt", size, 0), feNotFound);  // a directory is not a file
    ASSERT_EQ(Save("x.txt", 10), feOk);
    EXPECT_EQ(flash.GetFileAttr("x.txt", size, 0), feOk);
    EXPECT_EQ(size, 10u);
    ASSERT_EQ(flash.ReadDir(0, nullptr), feOk);
    EXPECT_EQ(flash.FFiles.StringList(), std::vector<std::string>{"X.TXT"});  // the directory is no file
}

TEST_F(Dir, FullRootDirectory) {
    test::PutEmptyFiles(medium.Sector(6), 512);
    medium.ClearLog();
    // Its own code: the clusters are all free.
    EXPECT_EQ(Save("new", 1), feRootFull);
    EXPECT_TRUE(medium.WrittenSectors().empty());
    EXPECT_EQ(flash.FFat[2], 0);  // the cluster meant for it is not lost
    ASSERT_EQ(flash.ReadDir(0, nullptr), feOk);
    EXPECT_EQ(flash.FFiles.Count(), 512);

    Slot(37, 15)[0] = 0xE5;  // the very last slot is free
    ASSERT_EQ(Save("new", 1), feOk);
    EXPECT_EQ(std::memcmp(Slot(37, 15), "NEW        ", 11), 0);
    EXPECT_EQ(Save("more", 1), feRootFull);  // full again
}

TEST(DirGeometry, RootNotAWholeNumberOfBlocks) {
    // 80 root entries fill 5 sectors (2..6); the second block read (6..9)
    // reaches into the data area, whose sectors must never take an entry.
    test::TMemMedium medium(64);
    TFlash flash;
    medium.Attach(flash);
    ASSERT_EQ(Lay(medium, 80, 1, 64).FirstDataSector, 7);
    for (int s = 7; s < 64; ++s) std::memset(medium.Sector(s), 0x41, 512);
    test::PutEmptyFiles(medium.Sector(2), 79);  // slot 79 stays free
    ASSERT_EQ(flash.InitFlash(), feOk);
    const uint8_t d = 1;
    medium.ClearLog();
    ASSERT_EQ(flash.SaveFile("last", &d, 0, 1), feOk);
    EXPECT_EQ(std::memcmp(medium.Sector(6) + 15 * 32, "LAST       ", 11), 0);
    EXPECT_EQ(medium.Log().front(), (TExchangeRecord{R, 2}));
    EXPECT_EQ(flash.SaveFile("more", &d, 0, 1), feRootFull);
    EXPECT_EQ(flash.FFat[3], 0);
    // Sector 7 is the first of cluster 2, which holds "last": it is read with
    // the second block but never taken for directory slots.
    std::vector<uint8_t> holdsLast(512, 0);
    holdsLast[0] = 1;
    EXPECT_EQ(std::vector<uint8_t>(medium.Sector(7), medium.Sector(8)), holdsLast);
    ASSERT_EQ(flash.ReadDir(0, nullptr), feOk);
    EXPECT_EQ(flash.FFiles.Count(), 80);
}

// ---------------------------------------------------------------- 16-bit sectors

TEST(FileOpsLarge, SectorNumbersNeverPass65535) {
    test::TMemMedium medium(65536);
    medium.MediumSize = 70000 * 512;  // a device as large as the volume claims
    TFlash flash;
    medium.Attach(flash);
    const TVolumeGeometry g = Lay(medium, 512, 69, 70000);
    ASSERT_EQ(flash.InitFlash(), feOk);
    EXPECT_EQ(flash.FTotalSectors, 70000u);
    const uint16_t last = flash.FLastCluster;
    for (uint32_t n = 2; n < last; ++n) flash.FFat[n] = 0xFFFF;

    medium.ClearLog();
    EXPECT_EQ(flash.SaveFile("two", std::vector<uint8_t>(2049).data(), 0, 2049), feNoRoom);
    const uint16_t lastSector = g.ClusterSector(last);
    for (uint16_t s : medium.WrittenSectors()) {
        const bool ok = (s >= 70 && s < 74) || (s >= 1 && s <= 69) || (s >= lastSector && s <= lastSector + 3);
        EXPECT_TRUE(ok) << s;
    }
    EXPECT_LE(lastSector + 3, 65535);
    const auto d = RandomBytes(100, 9);
    ASSERT_EQ(flash.SaveFile("one", d.data(), 0, 100), feOk);
    EXPECT_EQ(std::memcmp(medium.Sector(lastSector), d.data(), 100), 0);
}
