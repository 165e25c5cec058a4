// The volume layout: boot sector, geometry, chain length, the 8.3 name rules
// and the string routines behind them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "flashfs/fat_layout.h"
#include "flashfs/fs_flash.h"
#include "flashfs/my_str.h"
#include "tests/mem_medium.h"

using namespace skarvel;

namespace {

std::string Entry(const char* name) {
    char e[12];
    std::memset(e, '#', sizeof e);
    EXPECT_TRUE(MakeEntryName(name, e)) << name;
    EXPECT_EQ(e[11], 0);
    return std::string(e, 11);
}

// A boot sector as format writes it for the 2 MiB medium.
std::vector<uint8_t> FormattedBoot() {
    TVolumeGeometry g;
    EXPECT_TRUE(FormatGeometry(0x200000, g));
    std::vector<uint8_t> s(512);
    EncodeBootSector(g, s.data());
    return s;
}

bool Decodes(const std::vector<uint8_t>& s) {
    TVolumeGeometry g;
    return DecodeBootSector(s.data(), g);
}

}  // namespace

// ---------------------------------------------------------------- My_str

TEST(MyStr, CapsTableMapsCodePage1251Letters) {
    EXPECT_EQ(CapsTable['a'], 'A');
    EXPECT_EQ(CapsTable['z'], 'Z');
    EXPECT_EQ(CapsTable['`'], '`');
    EXPECT_EQ(CapsTable['{'], '{');
    EXPECT_EQ(CapsTable['A'], 'A');
    EXPECT_EQ(CapsTable[0xE0], 0xC0);
    EXPECT_EQ(CapsTable[0xFF], 0xDF);
    EXPECT_EQ(CapsTable[0xDF], 0xDF);
    EXPECT_EQ(CapsTable[0xB8], 0xA8);
    EXPECT_EQ(CapsTable[0xA8], 0xA8);
    EXPECT_EQ(CapsTable[0xB9], 0xB9);
    EXPECT_EQ(CapsTable[0], 0);
    int changed = 0;
    for (int c = 0; c < 256; ++c) changed += CapsTable[c] != c;
    EXPECT_EQ(changed, 26 + 32 + 1);
}

TEST(MyStr, CopyRoutines) {
    char buf[16];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(StrCopyZ(buf, "abc"), buf);
    EXPECT_EQ(std::memcmp(buf, "abc\0x", 5), 0);

    char same[] = "r\xE5" "adme.t\xB8t";
    StrCapsCopy(same, same);  // in place
    EXPECT_STREQ(same, "R\xC5" "ADME.T\xA8T");

    std::memset(buf, 'x', sizeof buf);
    StrCapsCopy(buf, "");
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(buf[1], 'x');
}

TEST(MyStr, SameNComparesExactlyNBytes) {
    EXPECT_TRUE(StrSameN("ABC  TXT", "ABC  TXQ", 7));
    EXPECT_FALSE(StrSameN("ABC  TXT", "ABC  TXQ", 8));
    EXPECT_TRUE(StrSameN("A\0B", "A\0B", 3));
    EXPECT_FALSE(StrSameN("A\0B", "A\0C", 3));  // zero bytes do not end the comparison
    EXPECT_FALSE(StrSameN(nullptr, "A", 1));
    EXPECT_FALSE(StrSameN("A", nullptr, 1));
}

// ---------------------------------------------------------------- names

TEST(Names, EntryNameConversion) {
    EXPECT_EQ(Entry("readme.txt"), "README  TXT");
    EXPECT_EQ(Entry("a"), "A          ");
    EXPECT_EQ(Entry("a b.c"), "AB      C  ");
    EXPECT_EQ(Entry("program.tx"), "PROGRAM TX ");
    EXPECT_EQ(Entry("ABCDEFGHIJ.TXT"), "ABCDEFGHJ.T");
    EXPECT_EQ(Entry("ABCDEFGH.LST"), "ABCDEFGHLST");
    EXPECT_EQ(Entry("ABCDEFGH"), "ABCDEFGH   ");
    EXPECT_EQ(Entry("abcdefghi"), "ABCDEFGH   ");  // the ninth character is stepped over
    EXPECT_EQ(Entry(""), "           ");
    EXPECT_EQ(Entry("x.a b"), "X       A B");        // the extension keeps its spaces
    EXPECT_EQ(Entry("name.long"), "NAME    LON");

    char e[12];
    EXPECT_FALSE(MakeEntryName(" a.txt", e));
    EXPECT_FALSE(MakeEntryName(nullptr, e));
}

TEST(Names, CyrillicSmallLettersBecomeCapitals) {
    // "прог.ёж" in code page 1251
    EXPECT_EQ(Entry("\xEF\xF0\xEE\xE3.\xB8\xE6"), "\xCF\xD0\xCE\xC3    \xA8\xC6 ");
    // a converted name never begins with the deleted mark
    EXPECT_EQ(static_cast<uint8_t>(Entry("\xE5.txt")[0]), 0xC5);
    // already capital letters and other bytes stay
    EXPECT_EQ(Entry("\xC0\xDF\xA8.\xB9"), "\xC0\xDF\xA8     \xB9  ");
}

TEST(Names, DisplayedName) {
    EXPECT_EQ(DisplayName("ABC     TXT"), "ABC.TXT");
    EXPECT_EQ(DisplayName("ABC        "), "ABC");
    EXPECT_EQ(DisplayName("abc     txt"), "ABC.txt");  // ASCII capitals in the base only
    EXPECT_EQ(DisplayName("\xE0" "BC     TXT"), "\xE0" "BC.TXT");
    EXPECT_EQ(DisplayName("ABCDEFGHIJK"), "ABCDEFGH.IJK");
    EXPECT_EQ(DisplayName("A B     C D"), "A B.C D");  // inner blanks of other systems stay
    EXPECT_EQ(DisplayName("MY FILE TXT"), "MY FILE.TXT");
    EXPECT_EQ(DisplayName("        TXT"), ".TXT");
    const char withZero[11] = {'A', 0, 'B', ' ', ' ', ' ', ' ', ' ', 'T', 0, 'X'};
    EXPECT_EQ(DisplayName(withZero), "A.T");
}

TEST(Names, MaskMatching) {
    EXPECT_TRUE(MatchMask("README  TXT", "*.*"));
    EXPECT_TRUE(MatchMask("README  TXT", nullptr));
    EXPECT_TRUE(MatchMask("\xE5\x01\x02\xFF\xFF\xFF\xFF\xFF\x00\x00\x00", nullptr));
    EXPECT_TRUE(MatchMask("README  TXT", "*.txt"));
    EXPECT_FALSE(MatchMask("README  LST", "*.TXT"));
    EXPECT_TRUE(MatchMask("README  TXT", "?EADME*.T?T"));
    EXPECT_TRUE(MatchMask("ABCDEFGHTXT", "ABCDEFGH.TXT"));
    // A base shorter than eight compares the mask's dot with the filler space.
    EXPECT_FALSE(MatchMask("README  TXT", "README.TXT"));
}

// ---------------------------------------------------------------- geometry

TEST(Volume, FormatGeometryOf2MiB) {
    TVolumeGeometry g;
    ASSERT_TRUE(FormatGeometry(0x200000, g));
    EXPECT_EQ(g.TotalSectors, 4096u);
    EXPECT_EQ(g.ClusterCount, 1024);
    EXPECT_EQ(g.SectorsPerFAT, 5);
    EXPECT_EQ(g.RootDirSectors, 32);
    EXPECT_EQ(g.FirstRootSector, 6);
    EXPECT_EQ(g.FirstDataSector, 38);
    EXPECT_EQ(g.LastCluster, 1015);  // 1014 data clusters
    EXPECT_EQ(g.ClusterSector(2), 38);
    EXPECT_EQ(g.ClusterSector(1015), 4090);  // 4094 and 4095 belong to no cluster
    EXPECT_EQ(g.ClusterBytes(), 2048u);

    EXPECT_FALSE(FormatGeometry(0, g));
    EXPECT_FALSE(FormatGeometry(20 * 512, g));  // no room for even one cluster
}

TEST(Volume, BootSectorAsFormatWritesIt) {
    const auto s = FormattedBoot();
    const uint8_t head[] = {0xEB, 0x00, 0x90, 'M', 'S', 'W', 'I', 'N', '4', '.', '1', 0x00, 0x02, 0x04,
                            0x01, 0x00, 0x01, 0x00, 0x02, 0x00, 0x10, 0xF0, 0x05, 0x00};
    EXPECT_EQ(std::memcmp(s.data(), head, sizeof head), 0);
    for (size_t i = 24; i < 510; ++i) ASSERT_EQ(s[i], 0) << i;
    EXPECT_EQ(s[510], 0x55);
    EXPECT_EQ(s[511], 0xAA);

    TVolumeGeometry g;
    ASSERT_TRUE(DecodeBootSector(s.data(), g));
    EXPECT_EQ(g.TotalSectors, 4096u);
    EXPECT_EQ(g.FirstDataSector, 38);
    EXPECT_EQ(g.LastCluster, 1015);
}

TEST(Volume, BootSectorsThatCountAsUnformatted) {
    ASSERT_TRUE(Decodes(FormattedBoot()));
    auto with = [](size_t off, uint8_t v) {
        auto s = FormattedBoot();
        s[off] = v;
        return s;
    };
    EXPECT_FALSE(Decodes(std::vector<uint8_t>(512, 0)));
    EXPECT_FALSE(Decodes(with(510, 0xAA)));
    EXPECT_FALSE(Decodes(with(511, 0x55)));
    EXPECT_FALSE(Decodes(with(boot::SectorsPerCluster, 0)));
    EXPECT_FALSE(Decodes(with(boot::NumFATs, 0)));
    auto noRoot = FormattedBoot();
    PutU16(noRoot.data(), boot::RootEntries, 0);
    EXPECT_FALSE(Decodes(noRoot));
    auto fat32 = FormattedBoot();  // a volume with 32-bit FAT fields
    PutU16(fat32.data(), boot::SectorsPerFAT, 0);
    EXPECT_FALSE(Decodes(fat32));
    auto noReserved = FormattedBoot();  // the FAT would overlay the boot sector
    PutU16(noReserved.data(), boot::ReservedSectors, 0);
    EXPECT_FALSE(Decodes(noReserved));
    auto noTotal = FormattedBoot();
    PutU16(noTotal.data(), boot::TotalSectors16, 0);
    EXPECT_FALSE(Decodes(noTotal));
    // Not examined: jump, OEM name, bytes per sector, media byte.
    EXPECT_TRUE(Decodes(with(0, 0)));
    EXPECT_TRUE(Decodes(with(boot::BytesPerSector + 1, 0x10)));
    EXPECT_TRUE(Decodes(with(boot::Media, 0xF8)));
}

TEST(Volume, LayoutsBeyondSixteenBitSectorsAreRefused) {
    auto s = FormattedBoot();
    PutU16(s.data(), boot::ReservedSectors, 65500);  // root would pass sector 65535
    EXPECT_FALSE(Decodes(s));
    s = FormattedBoot();
    s[boot::NumFATs] = 255;
    PutU16(s.data(), boot::SectorsPerFAT, 300);  // FATs end beyond 65535
    EXPECT_FALSE(Decodes(s));
    s = FormattedBoot();
    PutU16(s.data(), boot::TotalSectors16, 38);  // the total ends inside the root
    EXPECT_FALSE(Decodes(s));
    s = FormattedBoot();
    PutU16(s.data(), boot::RootEntries, 0xFFFF);  // 4096 root sectors: beyond this total
    EXPECT_FALSE(Decodes(s));
    PutU16(s.data(), boot::TotalSectors16, 60000);  // but within this one
    EXPECT_TRUE(Decodes(s));
}

TEST(Volume, ThirtyTwoBitTotalAndTheSixteenBitDataRange) {
    auto s = FormattedBoot();
    PutU16(s.data(), boot::TotalSectors16, 0);
    PutU32(s.data(), boot::TotalSectors32, 70000);
    PutU16(s.data(), boot::SectorsPerFAT, 69);
    TVolumeGeometry g;
    ASSERT_TRUE(DecodeBootSector(s.data(), g));
    EXPECT_EQ(g.TotalSectors, 70000u);
    EXPECT_EQ(g.ClusterCount, 17500);
    EXPECT_EQ(g.FirstDataSector, 1 + 69 + 32);
    // Only clusters wholly below sector 65536 are data clusters.
    const uint32_t lastSector = g.ClusterSector(g.LastCluster) + g.SectorsPerCluster - 1u;
    EXPECT_LE(lastSector, 65535u);
    EXPECT_GT(lastSector + g.SectorsPerCluster, 65535u);

    // A FAT too small for the data area limits the clusters to its entries.
    PutU16(s.data(), boot::SectorsPerFAT, 2);
    ASSERT_TRUE(DecodeBootSector(s.data(), g));
    EXPECT_EQ(g.LastCluster, 511);

    // Formatting writes a 32-bit total from 0x10000 sectors on.
    TVolumeGeometry big;
    ASSERT_TRUE(FormatGeometry(0x10000 * 512, big));
    std::vector<uint8_t> b(512);
    EncodeBootSector(big, b.data());
    EXPECT_EQ(GetU16(b.data(), boot::TotalSectors16), 0);
    EXPECT_EQ(GetU32(b.data(), boot::TotalSectors32), 0x10000u);
    ASSERT_TRUE(DecodeBootSector(b.data(), g));
    EXPECT_EQ(g.TotalSectors, 0x10000u);
}

TEST(Volume, ChainLength) {
    EXPECT_EQ(ChainLength(0, 2048), 1u);
    EXPECT_EQ(ChainLength(1, 2048), 1u);
    EXPECT_EQ(ChainLength(2047, 2048), 1u);
    EXPECT_EQ(ChainLength(2048, 2048), 2u);  // one unused cluster after an exact multiple
    EXPECT_EQ(ChainLength(2049, 2048), 2u);
    EXPECT_EQ(ChainLength(4096, 2048), 3u);
}

TEST(Volume, FreshlyFormattedMedium) {
    test::TMemMedium medium;
    std::memset(medium.Bytes().data(), 0x5A, medium.Bytes().size());
    TFlash flash;
    medium.Attach(flash);
    ASSERT_EQ(flash.FormatFlash(0), feOk);

    const auto boot = FormattedBoot();
    EXPECT_EQ(std::memcmp(medium.Sector(0), boot.data(), 512), 0);
    const uint8_t fat[] = {0xF0, 0xFF, 0xFF, 0xFF, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(medium.Sector(1), fat, sizeof fat), 0);
    for (uint32_t i = 4; i < 5 * 512; ++i) ASSERT_EQ(medium.Sector(1)[i], 0) << i;
    for (uint32_t i = 0; i < 32 * 512; ++i) ASSERT_EQ(medium.Sector(6)[i], 0) << i;
    // The data area is not touched.
    EXPECT_EQ(medium.Sector(38)[0], 0x5A);
    EXPECT_EQ(medium.Sector(4095)[511], 0x5A);
}
