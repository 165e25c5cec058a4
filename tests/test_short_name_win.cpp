// Short names of PC files on Windows: the system's own 8.3 name where the
// volume keeps one, the rule's name where it keeps none, and "\" and "/"
// alike as separators.
#include <gtest/gtest.h>

#include <algorithm>
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

TEST(ShortNameWin, ExistingFilesGetTheSystemsEightThreeName) {
    TempDir dir;
    for (const auto& [file, ext] : {std::pair{"prog1.tnc", ".TNC"}, {"long program name.tnc", ".TNC"},
                                    {"деталь.iso", ".ISO"}}) {
        SCOPED_TRACE(file);
        WriteFileBytes(dir.File(file), {1});
        std::string slashes = dir.File(file), backslashes = slashes;
        std::replace(slashes.begin(), slashes.end(), '\\', '/');
        std::replace(backslashes.begin(), backslashes.end(), '/', '\\');
        const std::string name = ShortPathName(backslashes);
        EXPECT_EQ(ShortPathName(slashes), name);
        EXPECT_TRUE(FitsShortName(name)) << name;
        ASSERT_GE(name.size(), 4u);
        EXPECT_EQ(Upper(name.substr(name.size() - 4)), ext) << name;
    }
    EXPECT_EQ(Upper(ShortPathName(dir.File("prog1.tnc"))), "PROG1.TNC");
}

TEST(ShortNameWin, WithoutASystemNameTheRuleDecides) {
    TempDir dir;
    WriteFileBytes(dir.File("LONGPR~1.TNC"), {1});
    // No such file: the system has no short name for it, and the rule
    // passes over the name the folder already holds.
    EXPECT_EQ(ShortPathName(dir.File("longprogram.tnc")), "LONGPR~2.TNC");
    EXPECT_EQ(ShortPathName(dir.Path() + "\\my part.lst"), "MYPART~1.LST");
}

}  // namespace
