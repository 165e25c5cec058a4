#include <gtest/gtest.h>

#include <set>

#include "core/short_name.h"

using namespace skarvel;

TEST(ShortName, NamesThatFitAreKeptOthersGetCapitalsAndATilde) {
    const std::pair<const char*, const char*> cases[] = {
        {"prog1.tnc", "prog1.tnc"},
        {"A", "A"},
        // Cyrillic that fits 8.3 in code page 1251 stays (bytes of "деталь.iso").
        {"деталь.iso", "\xE4\xE5\xF2\xE0\xEB\xFC.iso"},
        {"longprogram.tnc", "LONGPR~1.TNC"},
        {"my part.lst", "MYPART~1.LST"},
        {"a.b.c.isoline", "ABC~1.ISO"},
        // Long Cyrillic names: capitals of code page 1251.
        {"программа.tnc", "\xCF\xD0\xCE\xC3\xD0\xC0~1.TNC"},
        // Characters with no code page 1251 form are dropped.
        {"日本abc.lst", "ABC~1.LST"},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(ShortNameAmong(name, {}), expected) << name;
    EXPECT_TRUE(FitsShortName("ABCDEFGH.TXT"));
    for (const char* name : {"ABCDEFGHI.TXT", "A B.TXT", "A.B.C", "ABC.LONG"}) EXPECT_FALSE(FitsShortName(name)) << name;
}

TEST(ShortName, UniqueInTheFolder) {
    const std::vector<std::string> folder = {"longprogram1.tnc", "longprogram2.tnc", "LONGPR~3.TNC"};
    EXPECT_EQ(ShortNameAmong("longprogram1.tnc", folder), "LONGPR~1.TNC");
    EXPECT_EQ(ShortNameAmong("longprogram2.tnc", folder), "LONGPR~2.TNC");
    EXPECT_EQ(ShortNameAmong("longprogram3.tnc", folder), "LONGPR~4.TNC");
    EXPECT_EQ(ShortNameAmong("LONGPR~3.TNC", folder), "LONGPR~3.TNC");
}

TEST(ShortName, GeneratedNumberSkipsNamesTakenElsewhere) {
    const std::set<std::string> medium = {"LONGPR~1.TNC", "LONGPR~2.TNC", "PROG.TNC"};
    const TShortNameTaken onMedium = [&](const std::string& n) { return medium.count(n) > 0; };
    struct Case {
        const char* name;
        std::vector<std::string> folder;
        const char* expected;
    };
    const Case cases[] = {
        // The next number free on the medium as well as in the folder.
        {"longprogram.tnc", {}, "LONGPR~3.TNC"},
        {"longprogram2.tnc", {"longprogram1.tnc", "LONGPR~3.TNC"}, "LONGPR~4.TNC"},
        // The other long names of the folder keep their folder numbers
        // (longprogram1 is LONGPR~1 whatever the medium holds).
        {"longprogram2.tnc", {"longprogram1.tnc"}, "LONGPR~3.TNC"},
        // A name that fits 8.3 is never changed; its clash is the save's to report.
        {"PROG.TNC", {}, "PROG.TNC"},
        // Names of another base or extension are not affected.
        {"longprogram.iso", {}, "LONGPR~1.ISO"},
    };
    for (const Case& c : cases) EXPECT_EQ(ShortNameAmong(c.name, c.folder, onMedium), c.expected) << c.name;

    // The name is asked for candidates of the file's own name only.
    std::vector<std::string> asked;
    ShortNameAmong("longprogram2.tnc", {"longprogram1.tnc"}, [&](const std::string& n) {
        asked.push_back(n);
        return false;
    });
    EXPECT_EQ(asked, std::vector<std::string>{"LONGPR~2.TNC"});
}
