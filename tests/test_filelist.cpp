// The file list: names with sizes and flags kept index for index.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "flashfs/file_list.h"

using namespace skarvel;

namespace {

using Names = std::vector<std::string>;

// The three columns hold exactly these entries.
void ExpectList(const TFileList& l, const Names& names, const sizeArr& sizes, const boolArr& flags) {
    EXPECT_EQ(l.StringList(), names);
    EXPECT_EQ(l.SizeArray(), sizes);
    EXPECT_EQ(l.FlagArray(), flags);
    EXPECT_EQ(l.Count(), static_cast<int>(names.size()));
}

// A list that keeps its flagged entries on Clear, as the window's list does.
class TKeepFlagged : public TFileList {
public:
    int Deletes = 0;
    void Clear() override {
        int i = 0;
        for (int n = Count(); n > 0; --n) {
            if (Flags(i))
                Delete(i);
            else
                ++i;
        }
    }
    void Delete(int index) override {
        ++Deletes;
        TFileList::Delete(index);
    }
};

}  // namespace

TEST(FileList, AddDeleteClearKeepTheColumnsInStep) {
    TFileList l;
    EXPECT_EQ(l.AddFile("A.TXT", 10, true), 0);
    EXPECT_EQ(l.AddFile("B.TXT", 20, false), 1);
    EXPECT_EQ(l.AddFile("C.TXT", -3, true), 2);
    ExpectList(l, {"A.TXT", "B.TXT", "C.TXT"}, {10, 20, -3}, {true, false, true});

    l.Delete(1);
    ExpectList(l, {"A.TXT", "C.TXT"}, {10, -3}, {true, true});

    EXPECT_EQ(l.AddFile("A.TXT", 5, false), 2);  // duplicates are not merged
    ExpectList(l, {"A.TXT", "C.TXT", "A.TXT"}, {10, -3, 5}, {true, true, false});

    l.Clear();
    ExpectList(l, {}, {}, {});
}

TEST(FileList, BadIndicesThrow) {
    TFileList l;
    l.AddFile("C:\\PROGS\\A.LST", 7, false);
    EXPECT_THROW(l.Delete(1), std::out_of_range);
    EXPECT_THROW(l.Delete(-1), std::out_of_range);
    EXPECT_THROW((void)l.Strings(1), std::out_of_range);
    EXPECT_THROW((void)l.Sizes(-1), std::out_of_range);
    EXPECT_THROW(l.SetFlag(1, true), std::out_of_range);
    ExpectList(l, {"C:\\PROGS\\A.LST"}, {7}, {false});
}

TEST(FileList, IndexOfIgnoresLetterCaseCyrillicIncluded) {
    TFileList l;
    l.AddFile("README.TXT", 1, false);
    l.AddFile("\xCF\xD0\xCE\xC3.\xA8\xC6", 2, false);  // "ПРОГ.ЁЖ"
    EXPECT_EQ(l.IndexOf("readme.txt"), 0);
    EXPECT_EQ(l.IndexOf("\xEF\xF0\xEE\xE3.\xB8\xE6"), 1);  // "прог.ёж"
    EXPECT_EQ(l.IndexOf("README.TX"), -1);
    EXPECT_EQ(l.IndexOf(""), -1);
}

TEST(FileList, DerivedListOverridesClearAndDelete) {
    TKeepFlagged k;
    for (const char* name : {"M1", "P1", "M2", "P2"}) k.AddFile(name, name[1] - '0', name[0] == 'M');
    TFileList& base = k;
    base.Clear();  // virtual: the derived rule runs
    ExpectList(k, {"P1", "P2"}, {1, 2}, {false, false});
    EXPECT_EQ(k.Deletes, 2);
}
