// The soak test trusts the independent volume checker; these show that it
// does catch each kind of damage.
#include <gtest/gtest.h>

#include <cstring>

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
        EXPECT_EQ(flash.FormatFlash(0), 0);
        std::vector<uint8_t> a(3000, 'a'), b(10, 'b'), c(0);
        EXPECT_EQ(flash.SaveFile("A.TNC", a.data(), 0, 3000), 0);   // clusters 2, 3
        EXPECT_EQ(flash.SaveFile("B.TNC", b.data(), 0, 10), 0);     // cluster 4
        EXPECT_EQ(flash.SaveFile("C.TNC", c.data(), 0, 0), 0);      // cluster 5
    }
    uint8_t* Entry(int i) { return medium.Sector(6) + i * 32; }
    void SetFat(int n, uint16_t v) { PutU16(medium.Sector(1), static_cast<size_t>(n) * 2, v); }
    bool Reports(const std::string& what) {
        for (const auto& p : CheckVolume(medium.Bytes()).Problems)
            if (p.find(what) != std::string::npos) return true;
        return false;
    }
};

}  // namespace

TEST_F(Checked, ConsistentVolumeAndItsFiles) {
    const VolumeReport r = CheckVolume(medium.Bytes());
    EXPECT_TRUE(r.Formatted);
    EXPECT_TRUE(r.Problems.empty()) << r.Problems.front();
    ASSERT_EQ(r.Files.size(), 3u);
    EXPECT_EQ(r.Files.at("A.TNC"), std::vector<uint8_t>(3000, 'a'));
    EXPECT_EQ(r.Files.at("B.TNC"), std::vector<uint8_t>(10, 'b'));
    EXPECT_TRUE(r.Files.at("C.TNC").empty());
    EXPECT_FALSE(CheckVolume(std::vector<uint8_t>(4096 * 512, 0)).Formatted);
}

TEST_F(Checked, EachKindOfDamageIsReported) {
    PutU16(Entry(1), 26, 2);  // B shares A's first cluster
    EXPECT_TRUE(Reports("also A.TNC's"));
    EXPECT_TRUE(Reports("cluster 4 is taken but lost"));
    PutU16(Entry(1), 26, 4);
    SetFat(3, 2);  // A loops
    EXPECT_TRUE(Reports("loops"));
    SetFat(3, 0xFFFF);
    SetFat(3, 2000);  // A leaves the volume
    EXPECT_TRUE(Reports("outside the volume"));
    SetFat(3, 0xFFFF);
    PutU32(Entry(1), 28, 5000);  // B's size wants three clusters
    EXPECT_TRUE(Reports("5000 bytes but 1 clusters"));
    PutU32(Entry(1), 28, 10);
    SetFat(2, 0);  // A's chain starts on a free cluster
    EXPECT_TRUE(Reports("runs into free cluster"));
    SetFat(2, 3);
    SetFat(1020, 0xFFFF);  // beyond the data area
    EXPECT_TRUE(Reports("beyond the data area"));
}
