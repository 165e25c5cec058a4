// The compare of the medium's files with a PC folder: which PC file each
// medium file is paired with (8.3 names, letter case ignored, long PC names
// through their short names), the four outcomes, the folder's programs
// missing on the medium, and the pairs that cannot be judged.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/cp1251.h"
#include "core/short_name.h"
#include "flashfs/folder_compare.h"

using namespace skarvel;

namespace {

using TBytes = std::map<std::string, std::string>;

std::vector<uint8_t> Vec(const std::string& s) { return {s.begin(), s.end()}; }

// (medium name as shown, PC name, outcome word, error) of each row.
struct TShown {
    std::string Medium, Pc, Outcome, Error;
    bool operator==(const TShown&) const = default;
};
void PrintTo(const TShown& s, std::ostream* os) {
    *os << "{" << s.Medium << " | " << s.Pc << " | " << s.Outcome << " | " << s.Error << "}";
}

// Compares a medium holding `medium` (code page 1251 names) with a folder
// holding `pc` (UTF-8 names), its short names by the rule.
std::vector<TShown> Compare(const TBytes& medium, const TBytes& pc, const std::vector<std::string>& unreadable = {}) {
    std::vector<TMediumFile> files;
    for (const auto& [name, bytes] : medium) files.push_back({name, static_cast<uint32_t>(bytes.size())});
    std::vector<std::string> names;
    for (const auto& entry : pc) names.push_back(entry.first);
    TCompareSources sources;
    sources.ReadMedium = [&](const TCompareRow& row, std::vector<uint8_t>& data, std::string& error) {
        for (const std::string& u : unreadable)
            if (u == row.MediumName) {
                error = "файл на флэш повреждён";
                return false;
            }
        data = Vec(medium.at(row.MediumName));
        return true;
    };
    sources.ReadPc = [&](const std::string& name, std::vector<uint8_t>& data, std::string& error) {
        for (const std::string& u : unreadable)
            if (u == name) {
                error = name + ": нет доступа";
                return false;
            }
        data = Vec(pc.at(name));
        return true;
    };
    std::vector<TShown> out;
    for (const TCompareRow& r :
         CompareWithFolder(files, names, [](const std::vector<std::string>& n) { return ShortNamesAmong(n); }, sources))
        out.push_back({MediumNameToUtf8(r.MediumName), r.PcName, CompareOutcomeText(r.Outcome), r.Error});
    return out;
}

}  // namespace

TEST(FolderCompare, FourOutcomesWithLetterCaseAndLongNames) {
    const TBytes medium = {
        {"SAME.TNC", "N10 G0 X0\r\n"},
        {"CHANGED.ISO", "%\nN10 G1 X5\n%\n"},
        {"SHORTER.LST", "abcdef"},
        {"ONLYZVT.TNC", "x"},
        // A long PC name answers to its short name.
        {"LONGPR~1.TNC", "long program"},
        // Cyrillic: capitals of code page 1251 on the medium, small letters on the PC.
        {ToCp1251("ДЕТАЛЬ.LST"), "N1\n"},
    };
    const TBytes pc = {
        {"same.tnc", "N10 G0 X0\r\n"},
        {"Changed.iso", "%\nN10 G1 X6\n%\n"},
        {"SHORTER.LST", "abcde"},
        {"longprogram.tnc", "long program"},
        {"деталь.lst", "N1\n"},
        // Programs missing on the medium, a long name among them; other
        // files are never listed as missing.
        {"new.iso", "n"},
        {"another long.lst", "l"},
        {"notes.txt", "t"},
    };
    const std::vector<TShown> expected = {
        {"CHANGED.ISO", "Changed.iso", "отличается", ""},
        {"LONGPR~1.TNC", "longprogram.tnc", "совпадает", ""},
        {"ONLYZVT.TNC", "", "нет на ПК", ""},
        {"SAME.TNC", "same.tnc", "совпадает", ""},
        {"SHORTER.LST", "SHORTER.LST", "отличается", ""},
        {"ДЕТАЛЬ.LST", "деталь.lst", "совпадает", ""},
        {"", "another long.lst", "нет на ZVT", ""},
        {"", "new.iso", "нет на ZVT", ""},
    };
    EXPECT_EQ(Compare(medium, pc), expected);
    EXPECT_EQ(ShortNamesAmong({"another long.lst"}), std::vector<std::string>{"ANOTHE~1.LST"});
}

TEST(FolderCompare, WholeVerdict) {
    const auto verdict = [](const TBytes& medium, const TBytes& pc) {
        std::vector<TMediumFile> files;
        for (const auto& [name, bytes] : medium) files.push_back({name, static_cast<uint32_t>(bytes.size())});
        std::vector<std::string> names;
        for (const auto& entry : pc) names.push_back(entry.first);
        TCompareSources sources;
        sources.ReadMedium = [&](const TCompareRow& r, std::vector<uint8_t>& d, std::string&) {
            d = Vec(medium.at(r.MediumName));
            return true;
        };
        sources.ReadPc = [&](const std::string& n, std::vector<uint8_t>& d, std::string&) {
            d = Vec(pc.at(n));
            return true;
        };
        return AllSame(CompareWithFolder(files, names, ShortNamesAmong, sources));
    };
    EXPECT_TRUE(verdict({}, {}));
    EXPECT_TRUE(verdict({}, {{"readme.txt", "r"}}));  // no program missing
    EXPECT_TRUE(verdict({{"A.TNC", "a"}}, {{"a.tnc", "a"}, {"b.txt", "b"}}));
    EXPECT_FALSE(verdict({{"A.TNC", "a"}}, {{"a.tnc", "b"}}));
    EXPECT_FALSE(verdict({{"A.TNC", "a"}}, {}));
    EXPECT_FALSE(verdict({}, {{"b.tnc", "b"}}));
    // An empty file is a file like any other.
    EXPECT_TRUE(verdict({{"E.LST", ""}}, {{"e.lst", ""}}));
    EXPECT_FALSE(verdict({{"E.LST", ""}}, {{"e.lst", "\n"}}));
}

TEST(FolderCompare, PairsThatCannotBeJudgedAreNamedAsSuch) {
    // Two PC files that answer one name alike: either could be the program
    // meant, so neither is taken for it.
    EXPECT_EQ(Compare({{"A.TNC", "a"}}, {{"a.tnc", "a"}, {"A.TNC", "a"}}),
              (std::vector<TShown>{{"A.TNC", "A.TNC", "ошибка", "в папке несколько файлов с этим именем: A.TNC, a.tnc"}}));
    // A side that cannot be read is no difference: the reason is kept.
    EXPECT_EQ(Compare({{"BAD.TNC", "a"}, {"OK.TNC", "o"}}, {{"bad.tnc", "a"}, {"ok.tnc", "o"}}, {"BAD.TNC"}),
              (std::vector<TShown>{{"BAD.TNC", "bad.tnc", "ошибка", "файл на флэш повреждён"},
                                   {"OK.TNC", "ok.tnc", "совпадает", ""}}));
    EXPECT_EQ(Compare({{"P.TNC", "a"}}, {{"p.tnc", "a"}}, {"p.tnc"}),
              (std::vector<TShown>{{"P.TNC", "p.tnc", "ошибка", "p.tnc: нет доступа"}}));
}

TEST(FolderCompare, ShortNamesOfAFolderAtOnceAsOneByOne) {
    const std::vector<std::string> folder = {"longprogram1.tnc", "LONGPR~3.TNC", "longprogram2.tnc", "a.tnc",
                                             "программа.iso",    "my part.lst",  "longprogram0.tnc"};
    const std::vector<std::string> all = ShortNamesAmong(folder);
    ASSERT_EQ(all.size(), folder.size());
    for (size_t i = 0; i < folder.size(); ++i) EXPECT_EQ(all[i], ShortNameAmong(folder[i], folder)) << folder[i];
}
