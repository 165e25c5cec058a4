// Short names of PC files on Windows: the system's own 8.3 name where the
// volume keeps one, the rule's name where it keeps none, and "\" and "/"
// alike as separators.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "core/short_name.h"
#include "tests/sim_process.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

TEST(ShortNameWin, NameThatFitsIsKept) {
    TempDir dir;
    WriteFileBytes(dir.File("prog1.tnc"), {1});
    EXPECT_EQ(Upper(ShortPathName(dir.File("prog1.tnc"))), "PROG1.TNC");
}

TEST(ShortNameWin, LongNameGetsAnEightThreeName) {
    TempDir dir;
    WriteFileBytes(dir.File("long program name.tnc"), {1});
    const std::string name = ShortPathName(dir.File("long program name.tnc"));
    EXPECT_TRUE(FitsShortName(name)) << name;
    ASSERT_GE(name.size(), 4u);
    EXPECT_EQ(Upper(name.substr(name.size() - 4)), ".TNC") << name;
}

TEST(ShortNameWin, BothSeparatorsWork) {
    TempDir dir;
    WriteFileBytes(dir.File("long program name.tnc"), {1});
    std::string backslashes = dir.Path() + "\\long program name.tnc";
    for (char& c : backslashes)
        if (c == '/') c = '\\';
    std::string slashes = backslashes;
    for (char& c : slashes)
        if (c == '\\') c = '/';
    EXPECT_EQ(ShortPathName(backslashes), ShortPathName(slashes));
    EXPECT_TRUE(FitsShortName(ShortPathName(backslashes)));
}

TEST(ShortNameWin, WithoutASystemNameTheRuleDecides) {
    TempDir dir;
    WriteFileBytes(dir.File("LONGPR~1.TNC"), {1});
    // No such file: the system has no short name for it, and the rule
    // passes over the name the folder already holds.
    EXPECT_EQ(ShortPathName(dir.File("longprogram.tnc")), "LONGPR~2.TNC");
    EXPECT_EQ(ShortPathName(dir.Path() + "\\my part.lst"), "MYPART~1.LST");
}

TEST(ShortNameWin, CyrillicNameThatFitsIsKept) {
    TempDir dir;
    WriteFileBytes(dir.File("деталь.iso"), {1});
    const std::string name = ShortPathName(dir.File("деталь.iso"));
    EXPECT_TRUE(FitsShortName(name)) << name;
    ASSERT_GE(name.size(), 4u);
    EXPECT_EQ(Upper(name.substr(name.size() - 4)), ".ISO");
}

}  // namespace
