// The check after a save: a sector of the FAT or the directory that the
// device stored otherwise than it was sent is found and named with the files
// it touches, though the saved file itself reads back right.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "flashfs/fs_flash.h"
#include "tests/mem_medium.h"

using namespace skarvel;
using test::RandomBytes;
using Names = std::vector<std::string>;

namespace {

struct SaveCheck : ::testing::Test {
    test::TMemMedium medium;
    TFlash flash;

    SaveCheck() {
        medium.Attach(flash);
        flash.FMediumSize = 0x200000;
        EXPECT_EQ(flash.FormatFlash(0), feOk);
        // Two files saved and checked before: A.TNC in slot 0, B.TNC in slot 1.
        EXPECT_EQ(Save("A.TNC", RandomBytes(3000, 1)), feOk);
        EXPECT_EQ(Save("B.TNC", RandomBytes(5000, 2)), feOk);
    }
    uint8_t Save(const char* name, const std::vector<uint8_t>& d) {
        return flash.SaveFile(name, d.data(), 0, static_cast<uint32_t>(d.size()));
    }
    uint8_t Verify(const std::vector<uint8_t>& d, TSaveCheck& check) {
        return flash.VerifySave(flash.FLastSave, d.data(), static_cast<uint32_t>(d.size()), check);
    }
};

}  // namespace

TEST_F(SaveCheck, CleanSaveRecordsItsFatAndDirectorySectors) {
    const auto c = RandomBytes(9000, 3);
    ASSERT_EQ(Save("C.TNC", c), feOk);
    const TSaveRecord& rec = flash.FLastSave;
    EXPECT_TRUE(rec.Finished);
    // Every FAT sector and the directory sector with the entry, nothing of the data.
    for (uint16_t s = flash.FReservedSectors; s < flash.FReservedSectors + flash.FSectorsPerFAT; ++s)
        EXPECT_EQ(rec.Sectors.count(s), 1u) << s;
    EXPECT_EQ(rec.Sectors.count(flash.FFirstRootSector), 1u);
    EXPECT_EQ(rec.EntrySector, flash.FFirstRootSector);
    EXPECT_EQ(rec.EntryOffset, 64);
    for (const auto& [s, bytes] : rec.Sectors) EXPECT_LT(s, flash.FFirstDataSector);
    TSaveCheck check;
    ASSERT_EQ(Verify(c, check), feOk);
    EXPECT_TRUE(check.Clean());
}

TEST_F(SaveCheck, SectorStoredWronglyIsNamedWithTheFilesItTouches) {
    const uint16_t root = flash.FFirstRootSector;
    const uint16_t fat = flash.FReservedSectors;
    // Clusters 2.. hold A (2 clusters of 2 KiB), B (3), then C: the FAT
    // entries sit two bytes a cluster from the start of the FAT.
    const struct {
        const char* what;
        uint16_t sector;
        int write;       // which write of that sector goes wrong (1: the first)
        size_t offset;   // the byte stored with bit 7 flipped
        TSaveArea area;
        Names files;
    } cases[] = {
        // A neighbour's name in the block that the entry's final write
        // carries: B.TNC would read as B.TNC with its second letter changed.
        {"name of another entry, final write", root, 2, 32 + 0, TSaveArea::Directory, {"B.TNC", "\xC2.TNC"}},
        // The same stored wrongly when the slot was taken: the entry's final
        // write reads the block back and sends the wrong byte again.
        {"name of another entry, first write", root, 1, 32 + 8, TSaveArea::Directory, {"B.TNC", "B.\xD4NC"}},
        // The size of another entry.
        {"size of another entry", root, 2, 32 + 28 + 1, TSaveArea::Directory, {"B.TNC"}},
        // A's chain: its first cluster's entry (cluster 2).
        {"FAT entry of another file's chain", fat, 1, 2 * 2 + 1, TSaveArea::Fat, {"A.TNC"}},
        // The saved file's own chain (cluster 7, its first).
        {"FAT entry of the saved file's chain", fat, 1, 7 * 2 + 1, TSaveArea::Fat, {"C.TNC"}},
        // The entry of a free cluster far behind every chain, in the FAT's
        // second sector.
        {"FAT entry of a free cluster", static_cast<uint16_t>(fat + 1), 1, 400 * 2 + 1 - 512, TSaveArea::Fat, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Each case on the volume as the fixture left it.
        const std::vector<uint8_t> before = medium.Bytes();
        const std::vector<uint16_t> fatBefore = flash.FFat;
        int writes = 0;
        medium.OnStored = [&](uint16_t sector, uint8_t* stored) {
            if (sector == c.sector && ++writes == c.write) stored[c.offset] ^= 0x80;
        };
        const auto data = RandomBytes(5000, 9);
        ASSERT_EQ(Save("C.TNC", data), feOk);
        medium.OnStored = nullptr;
        TSaveCheck check;
        ASSERT_EQ(Verify(data, check), feOk);
        ASSERT_EQ(check.Faults.size(), 1u);
        EXPECT_EQ(check.Faults[0].Area, c.area);
        EXPECT_EQ(check.Faults[0].Sector, c.sector);
        EXPECT_EQ(check.Faults[0].Files, c.files);
        EXPECT_EQ(check.Touches("C.TNC"), c.files == Names{"C.TNC"});
        medium.Bytes() = before;
        flash.FFat = fatBefore;
    }
}

TEST_F(SaveCheck, FileThatReadsBackOtherwiseIsADataFault) {
    const auto data = RandomBytes(5000, 4);
    // The second data sector of the file (cluster 7) stored wrongly.
    const uint16_t target = static_cast<uint16_t>(flash.FFirstDataSector + 5 * flash.FSectorsPerCluster + 1);
    medium.OnStored = [&](uint16_t sector, uint8_t* stored) {
        if (sector == target) stored[10] ^= 0x80;
    };
    ASSERT_EQ(Save("C.TNC", data), feOk);
    medium.OnStored = nullptr;
    TSaveCheck check;
    ASSERT_EQ(Verify(data, check), feOk);
    ASSERT_EQ(check.Faults.size(), 1u);
    EXPECT_EQ(check.Faults[0].Area, TSaveArea::Data);
    EXPECT_EQ(check.Faults[0].Files, Names{"C.TNC"});
    EXPECT_TRUE(check.Touches("C.TNC"));
}

TEST_F(SaveCheck, ReadFailureIsTheCheckResult) {
    const auto data = RandomBytes(100, 5);
    ASSERT_EQ(Save("C.TNC", data), feOk);
    medium.FailSector(cmdReadSector, flash.FReservedSectors, xrNoAnswer);
    TSaveCheck check;
    EXPECT_EQ(Verify(data, check), feLinkLost);
}
