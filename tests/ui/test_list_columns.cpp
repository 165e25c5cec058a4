// What the list and the progress window tell besides the names: the rows'
// order by each column with the compare's folder rows and outcomes, the
// numbers and words of the texts, and the progress texts on a driven clock.
#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>
#include <string>
#include <vector>

#include "tests/ui/ui_test_support.h"
#include "ui/file_list_view.h"
#include "ui/my_list_box.h"
#include "ui/progress_info.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

// The display names in row order, checked against the control's items.
QStringList Order(const TMyListBox& box) {
    QStringList names;
    for (int i = 0; i < box.Count(); ++i) {
        names << box.DisplayName(i);
        EXPECT_EQ(box.ListBox->item(i)->text(), box.DisplayName(i)) << i;
    }
    return names;
}

}  // namespace

TEST(ListColumns, RowsKeepTheOrderOfTheColumnChosen) {
    TMyListBox box(new QListWidget);
    box.AddEntry("B.TNC", 300, "", true);
    box.AddEntry("a.lst", 20, "/pc/a.lst", false);
    box.AddEntry("C.ISO", 1000, "", true);
    box.AddEntry("D.TNC", 20, "", true);
    box.SetCompare(box.IndexOfName("B.TNC"), TCompareOutcome::Same);
    box.SetCompare(box.IndexOfName("C.ISO"), TCompareOutcome::Differs);
    box.SetCompare(box.IndexOfName("D.TNC"), TCompareOutcome::NotOnPc);
    box.AddFolderFile("E.LST", 5, "/lib/e.lst");
    // As they came, the medium's rows ahead of the others.
    EXPECT_EQ(Order(box), (QStringList{"B.TNC", "C.ISO", "D.TNC", "a.lst", "E.LST"}));

    struct Case {
        int column;
        bool descending;
        QStringList order;
    };
    const std::vector<Case> cases = {
        {colName, false, {"a.lst", "B.TNC", "C.ISO", "D.TNC", "E.LST"}},
        {colName, true, {"E.LST", "D.TNC", "C.ISO", "B.TNC", "a.lst"}},
        {colSize, false, {"E.LST", "a.lst", "D.TNC", "B.TNC", "C.ISO"}},  // equal sizes by name
        {colPlace, false, {"B.TNC", "C.ISO", "D.TNC", "a.lst", "E.LST"}},  // ZVT, pending, folder
        // "", "нет на ZVT", "нет на ПК", "отличается", "совпадает"
        {colCompare, false, {"a.lst", "E.LST", "D.TNC", "C.ISO", "B.TNC"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.column * 2 + c.descending);
        box.SortBy(c.column, c.descending);
        EXPECT_EQ(Order(box), c.order);
    }

    // Rows added later take their place; a folder row of a listed name
    // marks that row instead of adding one.
    box.SortBy(colSize, false);
    box.AddEntry("F.TNC", 100, "", true);
    EXPECT_EQ(Order(box), (QStringList{"E.LST", "a.lst", "D.TNC", "F.TNC", "B.TNC", "C.ISO"}));
    const int a = box.AddFolderFile("A.LST", 20, "/lib/A.LST");
    EXPECT_EQ(box.DisplayName(a), QStringLiteral("a.lst"));
    EXPECT_FALSE(box.FolderRow(a));
    EXPECT_EQ(box.Compare(a), TCompareOutcome::NotOnMedium);
    EXPECT_EQ(box.Count(), 6);

    // Clear keeps the pending row only, its outcome forgotten.
    box.Clear();
    EXPECT_EQ(Order(box), (QStringList{"a.lst"}));
    EXPECT_EQ(box.Compare(0), TCompareOutcome::Pending);
    EXPECT_TRUE(box.Pending(0));
}

TEST(ListColumns, NumbersAndTheWordForBytes) {
    const std::vector<std::pair<uint64_t, const char*>> grouped = {
        {0, "0"}, {999, "999"}, {1000, "1 000"}, {1884160, "1 884 160"}, {2097152, "2 097 152"}};
    for (const auto& [n, text] : grouped) EXPECT_EQ(GroupedNumber(n), QString::fromUtf8(text)) << n;
    const std::vector<std::pair<uint64_t, const char*>> words = {
        {0, "байт"},  {1, "байт"},   {2, "байта"},  {4, "байта"}, {5, "байт"},   {11, "байт"},
        {12, "байт"}, {14, "байт"}, {22, "байта"}, {54, "байта"}, {112, "байт"}, {1884160, "байт"}};
    for (const auto& [n, word] : words) EXPECT_EQ(BytesWord(n), QString::fromUtf8(word)) << n;
}

TEST(ListColumns, ProgressTextsOnADrivenClock) {
    int64_t now = 5000;
    TProgressInfo info([&] { return now; });
    info.Start(100, 5);
    info.FileStarted();
    ASSERT_TRUE(info.Due());
    EXPECT_EQ(info.FileText(), QStringLiteral("Файл 1 из 5, 0 %"));
    EXPECT_EQ(info.BytesText(), QStringLiteral("0 из 51 200 байт"));
    EXPECT_EQ(info.RateText(), QString());  // no rate before a second has passed

    struct Step {
        int64_t atMs;  // since the start
        bool nextFile;
        int transfers;
        bool due;
        const char* file;
        const char* bytes;
        const char* rate;
    };
    const std::vector<Step> steps = {
        {100, true, 10, false, nullptr, nullptr, nullptr},  // within 200 ms of the last showing
        {200, false, 0, true, "Файл 2 из 5, 10 %", "5 120 из 51 200 байт", ""},
        {300, false, 0, false, nullptr, nullptr, nullptr},  // nothing changed
        {2000, false, 30, true, "Файл 2 из 5, 40 %", "20 480 из 51 200 байт", "10,0 КБ/с, осталось 0:03"},
        {2100, false, 10, false, nullptr, nullptr, nullptr},
        {2200, false, 0, true, "Файл 2 из 5, 50 %", "25 600 из 51 200 байт", "11,4 КБ/с, осталось 0:03"},
        // Resends carry the count past the total: the texts stop at it.
        {4000, true, 70, true, "Файл 3 из 5, 100 %", "51 200 из 51 200 байт", "15,0 КБ/с, осталось 0:00"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.atMs);
        now = 5000 + s.atMs;
        if (s.nextFile) info.FileStarted();
        if (s.transfers) info.Stepped(s.transfers);
        ASSERT_EQ(info.Due(), s.due);
        if (!s.due) continue;
        EXPECT_EQ(info.FileText(), QString::fromUtf8(s.file));
        EXPECT_EQ(info.BytesText(), QString::fromUtf8(s.bytes));
        EXPECT_EQ(info.RateText(), QString::fromUtf8(s.rate));
    }

    // Long transfers give hours; an operation without files names none.
    info.Start(100000, 0);
    now += 10000;
    info.Stepped(100);
    EXPECT_EQ(info.FileText(), QStringLiteral("0 %"));
    EXPECT_EQ(info.RateText(), QStringLiteral("5,0 КБ/с, осталось 2:46:30"));
}

TEST(ListColumns, StatusLineCountsFilesAndFreeSpaceWhileIdle) {
    Rig rig({{"A.TNC", Bytes(3000)}, {"B.ISO", "x"}});
    rig.F().AddFiles({rig.PcFile("p.lst")});  // pending rows are not counted
    const QString summary = rig.F().SummaryText();
    EXPECT_TRUE(summary.startsWith(QStringLiteral("Файлов: 2, свободно "))) << summary.toStdString();
    EXPECT_TRUE(summary.endsWith(QStringLiteral(" байт")) || summary.endsWith(QStringLiteral(" байта")));
    EXPECT_EQ(rig.F().LabelSummary->text(), summary);
    // Busy: the summary gives way to the operation's texts.
    rig.F().SetBusy();
    EXPECT_EQ(rig.F().LabelSummary->text(), QString());
    rig.F().SetIdle();
    EXPECT_EQ(rig.F().LabelSummary->text(), summary);
}
