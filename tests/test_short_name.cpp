#include <gtest/gtest.h>

#include "core/short_name.h"

using namespace skarvel;

TEST(ShortName, NamesThatFitAreKeptAsTheyAre) {
    EXPECT_EQ(ShortNameAmong("prog1.tnc", {}), "prog1.tnc");
    EXPECT_EQ(ShortNameAmong("A", {}), "A");
    // Cyrillic that fits 8.3 in code page 1251 stays (bytes of "деталь.iso").
    EXPECT_EQ(ShortNameAmong("деталь.iso", {}), "\xE4\xE5\xF2\xE0\xEB\xFC.iso");
    EXPECT_TRUE(FitsShortName("ABCDEFGH.TXT"));
    EXPECT_FALSE(FitsShortName("ABCDEFGHI.TXT"));
    EXPECT_FALSE(FitsShortName("A B.TXT"));
    EXPECT_FALSE(FitsShortName("A.B.C"));
    EXPECT_FALSE(FitsShortName("ABC.LONG"));
}

TEST(ShortName, LongNamesGetCapitalsAndATilde) {
    EXPECT_EQ(ShortNameAmong("longprogram.tnc", {}), "LONGPR~1.TNC");
    EXPECT_EQ(ShortNameAmong("my part.lst", {}), "MYPART~1.LST");
    EXPECT_EQ(ShortNameAmong("a.b.c.isoline", {}), "ABC~1.ISO");
    // Long Cyrillic names: capitals of code page 1251.
    EXPECT_EQ(ShortNameAmong("программа.tnc", {}), "\xCF\xD0\xCE\xC3\xD0\xC0~1.TNC");
    // Characters with no code page 1251 form are dropped.
    EXPECT_EQ(ShortNameAmong("日本abc.lst", {}), "ABC~1.LST");
}

TEST(ShortName, UniqueInTheFolder) {
    const std::vector<std::string> folder = {"longprogram1.tnc", "longprogram2.tnc", "LONGPR~3.TNC"};
    EXPECT_EQ(ShortNameAmong("longprogram1.tnc", folder), "LONGPR~1.TNC");
    EXPECT_EQ(ShortNameAmong("longprogram2.tnc", folder), "LONGPR~2.TNC");
    EXPECT_EQ(ShortNameAmong("longprogram3.tnc", folder), "LONGPR~4.TNC");
    EXPECT_EQ(ShortNameAmong("LONGPR~3.TNC", folder), "LONGPR~3.TNC");
}
