// Replacing a file's contents under its name: the outcomes, the refusals,
// a cable pulled after each of its sector writes, and the check after it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "flashfs/fs_flash.h"
#include "tests/mem_medium.h"
#include "tests/volume_check.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

using Image = std::vector<uint8_t>;
using Files = std::map<std::string, std::vector<uint8_t>>;  // displayed name -> bytes

TFlashError Save(TFlash& f, Files& files, const std::string& name, size_t n, uint32_t seed) {
    auto data = RandomBytes(n, seed);
    const TFlashError r = f.SaveFile(name.c_str(), data.data(), 0, static_cast<uint32_t>(n));
    if (r == feOk) files[name] = std::move(data);
    return r;
}

TFlashError Replace(TFlash& f, const std::string& name, const std::vector<uint8_t>& data) {
    return f.ReplaceFile(name.c_str(), data.data(), 0, static_cast<uint32_t>(data.size()));
}

TFlashError Mount(TMemMedium& m, TFlash& f) {
    m.Attach(f);
    return f.InitFlash();
}

// The files as a reader that shares nothing with the worker finds them on
// the image, and what it finds wrong besides lost clusters.
void ExpectFiles(const Image& image, const Files& files) {
    const VolumeReport r = CheckVolume(image);
    ASSERT_TRUE(r.Formatted);
    for (const TCheckProblem& p : r.Check.Problems)
        EXPECT_EQ(p.Kind, TCheckKind::LostClusters) << ProblemLine(p);
    EXPECT_EQ(r.Files.size(), files.size());
    for (const auto& [name, data] : files) {
        const auto it = r.Files.find(name);
        ASSERT_NE(it, r.Files.end()) << name;
        EXPECT_TRUE(it->second == data) << name;
    }
}

// The check's repair frees what is lost; then fsck.fat finds nothing.
void RepairAndExpectClean(TMemMedium& m, TFlash& f) {
    const TCheckReport report = CheckVolume(TablesOf(m.Bytes()));
    ASSERT_TRUE(report.Repairable());
    uint32_t freed = 0;
    ASSERT_EQ(f.FreeClustersOnMedium(report.Lost, freed), feOk);
    const TCheckReport after = CheckVolume(TablesOf(m.Bytes()));
    EXPECT_TRUE(after.Clean());
    for (const TCheckProblem& p : after.Problems) ADD_FAILURE() << ProblemLine(p);
    if (const auto fsck = FsckFindings(m.Bytes()))
        for (const std::string& line : *fsck) ADD_FAILURE() << "fsck.fat: " << line;
}

struct ReplaceFixture : ::testing::Test {
    TMemMedium medium;
    TFlash flash;
    Files files;
    ReplaceFixture() {
        medium.Attach(flash);
        EXPECT_EQ(flash.FormatFlash(0), feOk);
    }
};

// Volumes the cut matrix replaces OLD.TNC on.
struct Shape {
    const char* Name;
    std::function<void(TFlash&, Files&)> Before;
    size_t NewSize;
};

const Shape kShapes[] = {
    {"one cluster by one cluster, between two files",
     [](TFlash& f, Files& files) {
         ASSERT_EQ(Save(f, files, "A.TNC", 100, 1), feOk);
         ASSERT_EQ(Save(f, files, "OLD.TNC", 700, 2), feOk);
         ASSERT_EQ(Save(f, files, "B.TNC", 100, 3), feOk);
     },
     900},
    {"two clusters by three, the new chain around the old one",
     [](TFlash& f, Files& files) {
         ASSERT_EQ(Save(f, files, "GAP.TNC", 100, 4), feOk);  // 2
         ASSERT_EQ(Save(f, files, "OLD.TNC", 3000, 5), feOk);  // 3, 4
         ASSERT_EQ(f.DeleteFile("GAP.TNC", 0), feOk);
         files.erase("GAP.TNC");
     },
     4096},  // an exact multiple: one unused cluster more
    {"a new chain from one FAT sector into the next, the old one in the first",
     [](TFlash& f, Files& files) {
         ASSERT_EQ(Save(f, files, "OLD.TNC", 5000, 6), feOk);              // 2..4
         ASSERT_EQ(Save(f, files, "FILL.TNC", 245 * 2048 + 100, 7), feOk);  // 5..250
         ASSERT_EQ(Save(f, files, "GAP.TNC", 100, 8), feOk);                // 251
         ASSERT_EQ(Save(f, files, "FILL2.TNC", 5 * 2048, 9), feOk);         // 252..257
         ASSERT_EQ(f.DeleteFile("GAP.TNC", 0), feOk);
         files.erase("GAP.TNC");
     },
     3 * 2048 + 1},  // 251, 258, 259, 260
};

}  // namespace

TEST_F(ReplaceFixture, NewContentsTakeTheNameAndTheOldClustersAreFreed) {
    const struct {
        const char* What;
        size_t OldSize, NewSize;
        const char* Given;  // the name as the caller spells it
    } cases[] = {
        {"larger", 3000, 9000, "OLD.TNC"},
        {"smaller", 9000, 100, "OLD.TNC"},
        {"same size", 5000, 5000, "OLD.TNC"},
        {"empty", 5000, 0, "OLD.TNC"},
        {"an exact multiple of the cluster", 100, 4096, "OLD.TNC"},
        {"named in small letters", 3000, 2000, "old.tnc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        ASSERT_EQ(flash.FormatFlash(0), feOk);
        files.clear();
        ASSERT_EQ(Save(flash, files, "KEEP.TNC", 2500, 1), feOk);
        ASSERT_EQ(Save(flash, files, "OLD.TNC", c.OldSize, 2), feOk);
        ASSERT_EQ(Save(flash, files, "LAST.TNC", 100, 3), feOk);
        const uint32_t freeBefore = flash.FreeClusterCount();
        const auto data = RandomBytes(c.NewSize, 99);
        ASSERT_EQ(Replace(flash, c.Given, data), feOk);
        files["OLD.TNC"] = data;
        ExpectFiles(medium.Bytes(), files);
        const TCheckReport report = CheckVolume(TablesOf(medium.Bytes()));
        EXPECT_TRUE(report.Clean());
        // The old chain is free again: the count changes by the difference.
        EXPECT_EQ(flash.FreeClusterCount() + c.NewSize / 2048, freeBefore + c.OldSize / 2048);
        // The record of the last save is the replace's: the check reads it back clean.
        EXPECT_TRUE(flash.FLastSave.Finished);
        EXPECT_EQ(flash.FLastSave.Shown, "OLD.TNC");
        TSaveCheck check;
        ASSERT_EQ(flash.VerifySave(flash.FLastSave, data.data(), static_cast<uint32_t>(data.size()), check), feOk);
        EXPECT_TRUE(check.Clean());
        // A fresh mount reads the same.
        TFlash again;
        ASSERT_EQ(Mount(medium, again), feOk);
        std::vector<uint8_t> back;
        ASSERT_EQ(again.LoadFile("OLD.TNC", back, 0), feOk);
        EXPECT_TRUE(back == data);
        medium.Attach(flash);
    }
}

TEST_F(ReplaceFixture, RefusalsWriteNothing) {
    ASSERT_EQ(Save(flash, files, "OLD.TNC", 3000, 1), feOk);
    ASSERT_EQ(Save(flash, files, "FILL.TNC", 1000 * 2048, 2), feOk);  // leaves a handful of clusters
    const uint32_t freeClusters = flash.FreeClusterCount();
    ASSERT_GT(freeClusters, 2u);
    const size_t fits = (freeClusters - 1) * 2048 + 2047;  // takes every free cluster
    const struct {
        const char* What;
        const char* Name;
        size_t Size;
        bool NoData;
        TFlashError Result;
    } cases[] = {
        {"no file of that name", "NONE.TNC", 100, false, feNotFound},
        {"a name no entry can hold", " a", 100, false, feBadName},
        {"no bytes for a size", "OLD.TNC", 100, true, feFileEmpty},
        {"one cluster more than is free beside the old copy", "OLD.TNC", fits + 1, false, feNoRoomForCopy},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        const Image before = medium.Bytes();
        medium.ClearLog();
        const auto data = RandomBytes(c.Size, 5);
        EXPECT_EQ(flash.ReplaceFile(c.Name, c.NoData ? nullptr : data.data(), 0, static_cast<uint32_t>(c.Size)),
                  c.Result);
        EXPECT_TRUE(medium.WrittenSectors().empty());
        EXPECT_TRUE(medium.Bytes() == before);
        EXPECT_FALSE(flash.FLastSave.Finished);
        EXPECT_EQ(flash.FreeClusterCount(), freeClusters);
    }
    // What just fits beside the old copy is written.
    const auto data = RandomBytes(fits, 6);
    ASSERT_EQ(Replace(flash, "OLD.TNC", data), feOk);
    files["OLD.TNC"] = data;
    ExpectFiles(medium.Bytes(), files);

    TFlash unmounted;
    EXPECT_EQ(unmounted.ReplaceFile("OLD.TNC", data.data(), 0, 1), feUnformatted);
}

TEST_F(ReplaceFixture, AFailureOrAnAbortBeforeTheEntryLeavesTheOldFile) {
    ASSERT_EQ(Save(flash, files, "OLD.TNC", 5000, 1), feOk);
    const Files old = files;
    const auto data = RandomBytes(7000, 2);
    const struct {
        const char* What;
        size_t Exchange;  // of the replace, 1 = its first
        bool Abort;       // instead of a failure
        TFlashError Result;
    } cases[] = {
        {"a data cluster unanswered", 6, false, feLinkLost},
        {"the device busy after a data cluster", 10, false, feNotReady},
        {"aborted during the data", 8, true, feAborted},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        size_t count = 0;
        medium.OnExchange = [&](uint8_t, uint16_t) {
            if (++count == c.Exchange && c.Abort) flash.FAbort = true;
        };
        if (!c.Abort) medium.FailNth(c.Exchange, c.Result == feNotReady ? xrBusyTimeout : xrNoAnswer);
        EXPECT_EQ(Replace(flash, "OLD.TNC", data), c.Result);
        medium.OnExchange = nullptr;
        medium.ClearFaults();
        ExpectFiles(medium.Bytes(), old);
        // The same worker goes on: its FAT image never lost the old chain.
        const auto later = RandomBytes(3000, 3);
        ASSERT_EQ(Replace(flash, "OLD.TNC", later), feOk);
        ExpectFiles(medium.Bytes(), Files{{"OLD.TNC", later}});
        ASSERT_EQ(Replace(flash, "OLD.TNC", old.at("OLD.TNC")), feOk);
        RepairAndExpectClean(medium, flash);
    }
}

TEST(CutReplace, TheNameHoldsTheOldOrTheNewFileAfterEveryWrite) {
    for (const Shape& shape : kShapes) {
        SCOPED_TRACE(shape.Name);
        Files before;
        Image base;
        {
            TMemMedium m;
            TFlash f;
            m.Attach(f);
            ASSERT_EQ(f.FormatFlash(0), feOk);
            shape.Before(f, before);
            base = m.Bytes();
        }
        const auto data = RandomBytes(shape.NewSize, 42);
        Files after = before;
        after["OLD.TNC"] = data;

        // The whole replace: its writes and which one is the entry's.
        std::vector<uint16_t> written;
        uint16_t entrySector = 0;
        {
            TMemMedium m;
            m.Bytes() = base;
            TFlash f;
            ASSERT_EQ(Mount(m, f), feOk);
            m.ClearLog();
            ASSERT_EQ(Replace(f, "OLD.TNC", data), feOk);
            written = m.WrittenSectors();
            entrySector = f.FLastSave.EntrySector;
            ExpectFiles(m.Bytes(), after);
            EXPECT_TRUE(CheckVolume(TablesOf(m.Bytes())).Clean());
        }
        size_t commit = written.size();
        for (size_t i = 0; i < written.size(); ++i)
            if (written[i] == entrySector) commit = i;
        ASSERT_LT(commit, written.size());
        // The entry's sector is written once, after every data and FAT
        // write of the new chain and before the old chain is freed.
        EXPECT_EQ(std::count(written.begin(), written.end(), entrySector), 1);
        EXPECT_LT(commit + 1, written.size());

        for (size_t n = 0; n < written.size(); ++n) {
            SCOPED_TRACE("cut after " + std::to_string(n) + " of " + std::to_string(written.size()) + " writes");
            TMemMedium m;
            m.Bytes() = base;
            {
                TFlash cut;
                ASSERT_EQ(Mount(m, cut), feOk);
                m.CutAfterWrites(n);
                EXPECT_NE(Replace(cut, "OLD.TNC", data), feOk);
            }
            m.ClearFaults();
            const Files& expected = n > commit ? after : before;
            ExpectFiles(m.Bytes(), expected);
            TFlash f;  // the cable back in
            ASSERT_EQ(Mount(m, f), feOk);
            std::vector<uint8_t> back;
            ASSERT_EQ(f.LoadFile("OLD.TNC", back, 0), feOk);
            EXPECT_TRUE(back == expected.at("OLD.TNC"));
            RepairAndExpectClean(m, f);
            ExpectFiles(m.Bytes(), expected);
        }
    }
}

TEST(CutReplace, NoRoomForBothCopiesWritesNothing) {
    // The third shape of the matrix: the medium cannot hold the new copy
    // beside the old, so the replace never starts writing; what the caller
    // does then (delete first, after asking) is a delete and a save.
    TMemMedium m;
    TFlash f;
    m.Attach(f);
    ASSERT_EQ(f.FormatFlash(0), feOk);
    Files files;
    ASSERT_EQ(Save(f, files, "OLD.TNC", 400 * 2048, 1), feOk);
    ASSERT_EQ(Save(f, files, "FILL.TNC", 500 * 2048, 2), feOk);
    const Image before = m.Bytes();
    m.ClearLog();
    const auto data = RandomBytes(300 * 2048, 3);  // fits once the old copy is gone
    EXPECT_EQ(Replace(f, "OLD.TNC", data), feNoRoomForCopy);
    EXPECT_TRUE(m.WrittenSectors().empty());
    EXPECT_TRUE(m.Bytes() == before);
    ExpectFiles(m.Bytes(), files);
    ASSERT_EQ(f.DeleteFile("OLD.TNC", 0), feOk);
    ASSERT_EQ(f.SaveFile("OLD.TNC", data.data(), 0, static_cast<uint32_t>(data.size())), feOk);
    files["OLD.TNC"] = data;
    ExpectFiles(m.Bytes(), files);
}

TEST_F(ReplaceFixture, TheCheckAfterItFindsASectorStoredWrongly) {
    ASSERT_EQ(Save(flash, files, "A.TNC", 3000, 1), feOk);    // 2, 3
    ASSERT_EQ(Save(flash, files, "OLD.TNC", 2000, 2), feOk);  // 4
    const auto data = RandomBytes(5000, 3);                   // 5, 6, 7
    const uint16_t root = flash.FFirstRootSector;
    const uint16_t fat = flash.FReservedSectors;
    const uint16_t firstData = static_cast<uint16_t>(flash.FFirstDataSector + (5 - 2) * flash.FSectorsPerCluster);
    const struct {
        const char* What;
        uint16_t Sector;
        size_t Offset;  // the byte stored with bit 3 flipped, at every write of the sector
        TSaveArea Area;
        bool TouchesIt;
    } cases[] = {
        {"a byte of the new copy's data", firstData, 100, TSaveArea::Data, true},
        {"the entry's size", root, 32 + 28, TSaveArea::Directory, true},
        {"the neighbour's name in the entry's sector", root, 0 + 1, TSaveArea::Directory, false},
        // Its first write takes the chain, its last frees the old one.
        {"the new chain's link in the FAT", fat, 5 * 2, TSaveArea::Fat, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        bool flipped = false;
        medium.OnStored = [&](uint16_t sector, uint8_t* stored) {
            if (sector == c.Sector) {
                stored[c.Offset] ^= 0x08;
                flipped = true;
            }
        };
        ASSERT_EQ(Replace(flash, "OLD.TNC", data), feOk);
        medium.OnStored = nullptr;
        ASSERT_TRUE(flipped);
        TSaveCheck check;
        ASSERT_EQ(flash.VerifySave(flash.FLastSave, data.data(), static_cast<uint32_t>(data.size()), check), feOk);
        ASSERT_FALSE(check.Clean());
        bool area = false;
        for (const TSaveFault& fault : check.Faults) area = area || fault.Area == c.Area;
        EXPECT_TRUE(area);
        EXPECT_EQ(check.Touches("OLD.TNC"), c.TouchesIt);
        // A fresh volume for the next case.
        ASSERT_EQ(flash.FormatFlash(0), feOk);
        files.clear();
        ASSERT_EQ(Save(flash, files, "A.TNC", 3000, 1), feOk);
        ASSERT_EQ(Save(flash, files, "OLD.TNC", 2000, 2), feOk);
    }
}

TEST(TwoFats, EveryCopyOfTheFatFollowsSaveReplaceDeleteAndRepair) {
    // A volume formatted elsewhere with two FATs: each write of the FAT goes
    // to both, so that a system reading the second finds what the first says.
    TMemMedium m;
    TVolumeGeometry g;
    ASSERT_TRUE(FormatGeometry(m.MediumSize, g));
    g.NumFATs = 2;
    ASSERT_TRUE(DeriveGeometry(g));
    EncodeBootSector(g, m.Sector(0));
    for (uint32_t copy = 0; copy < 2; ++copy) {
        uint8_t* fat = m.Sector(g.ReservedSectors + copy * g.SectorsPerFAT);
        PutU16(fat, 0, FatMedia0);
        PutU16(fat, 2, FatEnd);
    }
    TFlash f;
    ASSERT_EQ(Mount(m, f), feOk);
    const auto sameCopies = [&] {
        const size_t fatBytes = static_cast<size_t>(g.SectorsPerFAT) * SectorSize;
        return std::memcmp(m.Sector(g.ReservedSectors), m.Sector(g.ReservedSectors + g.SectorsPerFAT), fatBytes) == 0;
    };
    Files files;
    const struct {
        const char* What;
        std::function<TFlashError()> Run;
    } steps[] = {
        {"save", [&] { return Save(f, files, "A.TNC", 5000, 1); }},
        {"save", [&] { return Save(f, files, "OLD.TNC", 3000, 2); }},
        {"replace", [&] {
             files["OLD.TNC"] = RandomBytes(9000, 3);
             return Replace(f, "OLD.TNC", files["OLD.TNC"]);
         }},
        {"delete", [&] {
             files.erase("A.TNC");
             return f.DeleteFile("A.TNC", 0);
         }},
        {"cut replace and repair", [&] {
             // The new copy's six clusters and the first FAT's sector that
             // takes them: the copies differ until the repair writes both.
             m.CutAfterWrites(6 * 4 + 1);
             EXPECT_NE(Replace(f, "OLD.TNC", RandomBytes(12000, 4)), feOk);
             m.ClearFaults();
             TFlash again;
             EXPECT_EQ(Mount(m, again), feOk);
             EXPECT_FALSE(sameCopies());
             RepairAndExpectClean(m, again);
             return feOk;
         }},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.What);
        ASSERT_EQ(step.Run(), feOk);
        EXPECT_TRUE(sameCopies());
        ExpectFiles(m.Bytes(), files);
        if (const auto fsck = FsckFindings(m.Bytes()))
            for (const std::string& line : *fsck) ADD_FAILURE() << "fsck.fat: " << line;
    }
}
