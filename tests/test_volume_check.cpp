// The volume check that `zvt check` and the soak test trust: it must catch
// each kind of damage, name what a cut save left, and agree with fsck.fat.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>

#include "flashfs/fat_layout.h"
#include "flashfs/fs_flash.h"
#include "tests/mem_medium.h"
#include "tests/volume_check.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

struct Checked : ::testing::Test {
    TMemMedium medium;
    TFlash flash;
    Checked() {
        medium.Attach(flash);
        flash.FMediumSize = 0x200000;
        EXPECT_EQ(flash.FormatFlash(0), feOk);
        std::vector<uint8_t> a(3000, 'a'), b(10, 'b'), c(0);
        EXPECT_EQ(flash.SaveFile("A.TNC", a.data(), 0, 3000), feOk);  // clusters 2, 3
        EXPECT_EQ(flash.SaveFile("B.TNC", b.data(), 0, 10), feOk);    // cluster 4
        EXPECT_EQ(flash.SaveFile("C.TNC", c.data(), 0, 0), feOk);     // cluster 5
    }
    uint8_t* Entry(int i) { return medium.Sector(6) + i * 32; }
    void SetFat(int n, uint16_t v) { PutU16(medium.Sector(1), static_cast<size_t>(n) * 2, v); }
};

}  // namespace

TEST_F(Checked, ConsistentVolumeAndItsFiles) {
    const VolumeReport r = CheckVolume(medium.Bytes());
    EXPECT_TRUE(r.Formatted);
    EXPECT_TRUE(r.Check.Clean());
    EXPECT_EQ(r.Problems, std::vector<std::string>{});
    using Files = std::map<std::string, std::vector<uint8_t>>;
    EXPECT_EQ(r.Files, (Files{{"A.TNC", std::vector<uint8_t>(3000, 'a')}, {"B.TNC", std::vector<uint8_t>(10, 'b')},
                              {"C.TNC", {}}}));
    EXPECT_FALSE(CheckVolume(std::vector<uint8_t>(4096 * 512, 0)).Formatted);
    // fsck.fat, which shares nothing with this code, agrees.
    if (const auto fsck = FsckFindings(medium.Bytes()))
        for (const std::string& line : *fsck) ADD_FAILURE() << "fsck.fat: " << line;
}

TEST_F(Checked, EachKindOfDamageIsReported) {
    struct Case {
        const char* Damage;
        std::function<void()> Make;
        TCheckProblem Expect;  // the first problem found
        bool Repairable;
        bool FsckSees = true;  // fsck.fat finds it too (it ignores FAT entries
                               // beyond the data and names' letter case, and
                               // chains longer than this system's are hidden
                               // behind its own extra cluster)
    };
    const Case cases[] = {
        {"B shares A's first cluster", [&] { PutU16(Entry(1), 26, 2); },
         {TCheckKind::CrossLink, "B.TNC", "A.TNC", 2, 0}, false},
        {"A loops", [&] { SetFat(3, 2); }, {TCheckKind::Loop, "A.TNC", "", 2, 0}, false},
        {"A leaves the volume", [&] { SetFat(3, 2000); }, {TCheckKind::LeavesDataArea, "A.TNC", "", 3, 2000}, false},
        {"A's chain holds a bad cluster", [&] { SetFat(3, 0xFFF7); },
         {TCheckKind::LeavesDataArea, "A.TNC", "", 3, 0xFFF7}, false},
        {"B's size wants three clusters", [&] { PutU32(Entry(1), 28, 5000); },
         {TCheckKind::ShortChain, "B.TNC", "", 4, 1}, false},
        {"C has clusters for 2 KiB more", [&] { SetFat(5, 6), SetFat(6, 7), SetFat(7, 0xFFFF); },
         {TCheckKind::LongChain, "C.TNC", "", 5, 3}, true, false},
        {"A's first cluster is free", [&] { SetFat(2, 0); }, {TCheckKind::UnfinishedSave, "A.TNC", "", 2, 0}, false},
        {"A runs into a free cluster", [&] { SetFat(2, 9); }, {TCheckKind::FreeInChain, "A.TNC", "", 2, 9}, false},
        {"B names no cluster", [&] { PutU16(Entry(1), 26, 0); }, {TCheckKind::BadFirstCluster, "B.TNC", "", 0, 0},
         false},
        {"B is a second A in small letters", [&] { std::memcpy(Entry(1), "a       tnc", 11); },
         {TCheckKind::DuplicateName, "A.TNC", "A.tnc", 0, 0}, true, false},
        {"a lost chain", [&] { SetFat(8, 9), SetFat(9, 0xFFFF); }, {TCheckKind::LostClusters, "", "", 8, 2}, true},
        {"beyond the data area", [&] { SetFat(1020, 0xFFFF); }, {TCheckKind::TakenBeyondData, "", "", 1016, 1},
         true, false},
    };
    const std::vector<uint8_t> good = medium.Bytes();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Damage);
        medium.Bytes() = good;
        c.Make();
        const TCheckReport r = CheckVolume(medium.Bytes()).Check;
        ASSERT_FALSE(r.Problems.empty());
        EXPECT_EQ(ProblemLine(r.Problems.front()), ProblemLine(c.Expect));
        EXPECT_EQ(r.Repairable(), c.Repairable);
        if (const auto fsck = FsckFindings(medium.Bytes())) {
            EXPECT_EQ(!fsck->empty(), c.FsckSees);
        }
    }
}

TEST_F(Checked, LostClustersOfACutSaveNameItAndTheRepairFreesOnlyThem) {
    // What a save cut off inside its FAT write leaves: the slot reserved
    // (a deleted entry of size 0 naming the first cluster) and its chain
    // taken in the FAT, named by no entry.
    std::memcpy(Entry(3), "\xE5" "UT     TNC", 11);
    PutU16(Entry(3), 26, 6);
    PutU32(Entry(3), 28, 0);
    SetFat(6, 7);
    SetFat(7, 0xFFFF);
    TFlash other;
    medium.Attach(other);
    ASSERT_EQ(other.InitFlash(), feOk);
    TVolumeTables tables;
    ASSERT_EQ(other.ReadVolumeTables(tables), feOk);
    const TCheckReport r = skarvel::CheckVolume(tables);
    ASSERT_EQ(r.Problems.size(), 1u);
    EXPECT_EQ(ProblemLine(r.Problems[0]), ProblemLine({TCheckKind::LostClusters, "?UT.TNC", "", 6, 2}));
    EXPECT_EQ(r.Lost, (std::vector<uint16_t>{6, 7}));

    medium.ClearLog();
    uint32_t freed = 0;
    ASSERT_EQ(other.FreeClustersOnMedium(r.Lost, freed), feOk);
    EXPECT_EQ(freed, 2u);
    EXPECT_EQ(medium.Log(), (std::vector<TExchangeRecord>{{cmdWriteSector, 1}}));  // the one FAT sector that changed
    const VolumeReport after = CheckVolume(medium.Bytes());
    EXPECT_TRUE(after.Check.Clean());
    EXPECT_EQ(after.Files.size(), 3u);
}
