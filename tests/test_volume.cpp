// The volume layout: boot sector, geometry, chain length, the 8.3 name rules
// and the string routines behind them.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
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

// The six fields of the boot sector and what is derived from them.
std::vector<uint32_t> Layout(const TVolumeGeometry& g) {
    return {g.SectorsPerCluster, g.ReservedSectors, g.NumFATs,         g.RootEntries,
            g.SectorsPerFAT,     g.TotalSectors,    g.ClusterCount,    g.RootDirSectors,
            g.FirstRootSector,   g.FirstDataSector, g.LastCluster,     g.ClusterBytes()};
}

}  // namespace

// ---------------------------------------------------------------- My_str

TEST(MyStr, CapsTableMapsCodePage1251Letters) {
    const std::pair<int, int> caps[] = {{'a', 'A'},   {'z', 'Z'},   {'`', '`'},   {'{', '{'},
                                        {'A', 'A'},   {0xE0, 0xC0}, {0xFF, 0xDF}, {0xDF, 0xDF},
                                        {0xB8, 0xA8}, {0xA8, 0xA8}, {0xB9, 0xB9}, {0, 0}};
    for (const auto& [c, capital] : caps) EXPECT_EQ(CapsTable[c], capital) << c;
    int changed = 0;
    for (int c = 0; c < 256; ++c) changed += CapsTable[c] != c;
    EXPECT_EQ(changed, 26 + 32 + 1);
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
    // 1014 data clusters, 2..1015.
    EXPECT_EQ(Layout(g), (std::vector<uint32_t>{4, 1, 1, 512, 5, 4096, 1024, 32, 6, 38, 1015, 2048}));
    EXPECT_EQ(g.ClusterSector(2), 38);
    EXPECT_EQ(g.ClusterSector(1015), 4090);  // 4094 and 4095 belong to no cluster

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

    TVolumeGeometry g, formatted;
    ASSERT_TRUE(DecodeBootSector(s.data(), g));
    ASSERT_TRUE(FormatGeometry(0x200000, formatted));
    EXPECT_EQ(Layout(g), Layout(formatted));
}

TEST(Volume, BootSectorsThatAreRefused) {
    using Change = std::function<void(uint8_t*)>;
    const struct {
        const char* What;
        Change Make;
        bool Decodes;
    } cases[] = {
        {"as formatted", [](uint8_t*) {}, true},
        {"all zero", [](uint8_t* s) { std::memset(s, 0, 512); }, false},
        {"first signature byte", [](uint8_t* s) { s[510] = 0xAA; }, false},
        {"second signature byte", [](uint8_t* s) { s[511] = 0x55; }, false},
        {"no sectors per cluster", [](uint8_t* s) { s[boot::SectorsPerCluster] = 0; }, false},
        {"no FAT", [](uint8_t* s) { s[boot::NumFATs] = 0; }, false},
        {"no root entries", [](uint8_t* s) { PutU16(s, boot::RootEntries, 0); }, false},
        {"32-bit FAT fields", [](uint8_t* s) { PutU16(s, boot::SectorsPerFAT, 0); }, false},
        {"the FAT would overlay the boot sector", [](uint8_t* s) { PutU16(s, boot::ReservedSectors, 0); }, false},
        {"no total", [](uint8_t* s) { PutU16(s, boot::TotalSectors16, 0); }, false},
        // Beyond 16-bit sector numbers, or beyond the total.
        {"root past sector 65535", [](uint8_t* s) { PutU16(s, boot::ReservedSectors, 65500); }, false},
        {"FATs past sector 65535", [](uint8_t* s) { s[boot::NumFATs] = 255, PutU16(s, boot::SectorsPerFAT, 300); },
         false},
        {"the total ends inside the root", [](uint8_t* s) { PutU16(s, boot::TotalSectors16, 38); }, false},
        {"4096 root sectors beyond the total", [](uint8_t* s) { PutU16(s, boot::RootEntries, 0xFFFF); }, false},
        {"4096 root sectors within the total",
         [](uint8_t* s) { PutU16(s, boot::RootEntries, 0xFFFF), PutU16(s, boot::TotalSectors16, 60000); }, true},
        // Not examined: jump, OEM name, bytes per sector, media byte.
        {"no jump", [](uint8_t* s) { s[0] = 0; }, true},
        {"bytes per sector", [](uint8_t* s) { s[boot::BytesPerSector + 1] = 0x10; }, true},
        {"media byte", [](uint8_t* s) { s[boot::Media] = 0xF8; }, true},
    };
    for (const auto& c : cases) {
        auto s = FormattedBoot();
        c.Make(s.data());
        EXPECT_EQ(Decodes(s), c.Decodes) << c.What;
    }
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
    EXPECT_EQ(Layout(g), Layout(big));
}

TEST(Volume, ChainLength) {
    // One unused cluster after an exact multiple.
    const std::pair<uint32_t, uint32_t> cases[] = {{0, 1}, {1, 1}, {2047, 1}, {2048, 2}, {2049, 2}, {4096, 3}};
    for (const auto& [size, clusters] : cases) EXPECT_EQ(ChainLength(size, 2048), clusters) << size;
}

TEST(Volume, ClustersTheBytesFillAndTheShortestChain) {
    struct Case {
        uint32_t Size, Filled, Shortest;
    };
    const Case cases[] = {{0, 0, 1},    {1, 1, 1},    {2047, 1, 1},        {2048, 1, 1},
                          {2049, 2, 2}, {4096, 2, 2}, {0xFFFFFFFFu, 2097152u, 2097152u}};
    for (const Case& c : cases) {
        EXPECT_EQ(FilledClusters(c.Size, 2048), c.Filled) << c.Size;
        EXPECT_EQ(ShortestChain(c.Size, 2048), c.Shortest) << c.Size;
    }
}

TEST(Volume, FreshlyFormattedMedium) {
    test::TMemMedium medium;
    std::memset(medium.Bytes().data(), 0x5A, medium.Bytes().size());
    TFlash flash;
    medium.Attach(flash);
    ASSERT_EQ(flash.FormatFlash(0), feOk);

    const auto boot = FormattedBoot();
    EXPECT_EQ(std::memcmp(medium.Sector(0), boot.data(), 512), 0);
    std::vector<uint8_t> tables((5 + 32) * 512, 0);  // the FAT, then the root
    std::memset(tables.data(), 0xFF, 4);
    tables[0] = 0xF0;
    EXPECT_EQ(std::vector<uint8_t>(medium.Sector(1), medium.Sector(38)), tables);
    // The data area is not touched.
    EXPECT_EQ(medium.Sector(38)[0], 0x5A);
    EXPECT_EQ(medium.Sector(4095)[511], 0x5A);
}
