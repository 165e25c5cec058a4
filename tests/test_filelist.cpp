// The file list: names with sizes and flags kept index for index.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "flashfs/file_list.h"

using namespace skarvel;

namespace {

void ExpectInStep(const TFileList& l) {
    EXPECT_EQ(l.StringList().size(), static_cast<size_t>(l.Count()));
    EXPECT_EQ(l.SizeArray().size(), static_cast<size_t>(l.Count()));
    EXPECT_EQ(l.FlagArray().size(), static_cast<size_t>(l.Count()));
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
    ExpectInStep(l);
    EXPECT_EQ(l.Sizes(0), 10);
    EXPECT_TRUE(l.Flags(0));

    EXPECT_EQ(l.AddFile("B.TXT", 20, false), 1);
    EXPECT_EQ(l.AddFile("C.TXT", -3, true), 2);
    ExpectInStep(l);

    l.Delete(1);
    ExpectInStep(l);
    ASSERT_EQ(l.Count(), 2);
    EXPECT_EQ(l.Strings(0), "A.TXT");
    EXPECT_EQ(l.Sizes(0), 10);
    EXPECT_TRUE(l.Flags(0));
    EXPECT_EQ(l.Strings(1), "C.TXT");
    EXPECT_EQ(l.Sizes(1), -3);
    EXPECT_TRUE(l.Flags(1));

    EXPECT_EQ(l.AddFile("A.TXT", 5, false), 2);  // duplicates are not merged
    ExpectInStep(l);

    l.Clear();
    EXPECT_EQ(l.Count(), 0);
    ExpectInStep(l);
}

TEST(FileList, SettersAndBadIndices) {
    TFileList l;
    l.AddFile("C:\\PROGS\\A.LST", 7, false);
    l.SetFlag(0, true);
    l.SetString(0, "");
    l.SetSize(0, 99);
    EXPECT_TRUE(l.Flags(0));
    EXPECT_EQ(l.Strings(0), "");
    EXPECT_EQ(l.Sizes(0), 99);
    EXPECT_THROW(l.Delete(1), std::out_of_range);
    EXPECT_THROW(l.Delete(-1), std::out_of_range);
    EXPECT_THROW((void)l.Strings(1), std::out_of_range);
    EXPECT_THROW((void)l.Sizes(-1), std::out_of_range);
    ExpectInStep(l);
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
    k.AddFile("M1", 1, true);
    k.AddFile("P1", 2, false);
    k.AddFile("M2", 3, true);
    k.AddFile("P2", 4, false);
    TFileList& base = k;
    base.Clear();  // virtual: the derived rule runs
    ExpectInStep(k);
    ASSERT_EQ(k.Count(), 2);
    EXPECT_EQ(k.Strings(0), "P1");
    EXPECT_EQ(k.Sizes(1), 4);
    EXPECT_EQ(k.Deletes, 2);
}
