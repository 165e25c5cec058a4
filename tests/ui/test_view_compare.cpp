// Viewing and comparing from the main window against the simulated device:
// F3 on a medium row and on a pending row, the compare with a PC folder and
// its column, the side-by-side view of one pair; nothing written anywhere.
#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QTest>
#include <QTextBlock>
#include <string>
#include <vector>

#include "flashfs/fs_flash.h"
#include "tests/ui/ui_test_support.h"
#include "ui/code_editor.h"
#include "ui/diff_form.h"
#include "ui/file_list_view.h"
#include "ui/my_list_box.h"
#include "ui/program_viewer.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

const std::string Prog = "%\r\nN10 G90 G54\r\nN20 X10 Y20\r\nM30\r\n%\r\n";

// Compares with folder through the window's command, as the folder dialog
// would give it.
void CompareWith(Rig& rig, const QString& folder) {
    rig.F().ExecCompareFolderDialog = [folder](QString& f) {
        f = folder;
        return true;
    };
    rig.F().CompareFolderAc->trigger();
}

QString Outcome(Rig& rig, const QString& name) {
    const int row = rig.List().IndexOfName(name);
    return row < 0 ? QStringLiteral("<no row>") : rig.F().ColumnText(row, colCompare);
}

}  // namespace

TEST(ViewCompare, F3ShowsAMediumFileAndAPendingRowsPcFile) {
    Rig rig({{"PROG.TNC", Prog}, {"EMPTY.ISO", ""}});
    const QString pc = rig.PcFile("local.lst", "G0 X1\n");
    rig.F().AddFiles({pc});
    const QStringList before = FolderEntries(QString::fromStdString(rig.dir.File("")));

    rig.Select({"PROG.TNC"});
    const int loads = rig.log->Count(opLoadFile);
    EXPECT_EQ(rig.F().ViewAc->shortcut(), QKeySequence(Qt::Key_F3));
    rig.F().ViewAc->trigger();
    ASSERT_TRUE(ProcessUntil([&] { return rig.F().Viewer() != nullptr; }));
    TProgramViewer* viewer = rig.F().Viewer();
    EXPECT_EQ(rig.log->Count(opLoadFile, 0), loads + 1);
    EXPECT_EQ(viewer->windowTitle(), QStringLiteral("Просмотр: PROG.TNC"));
    EXPECT_EQ(viewer->Editor->toPlainText(), QStringLiteral("%\nN10 G90 G54\nN20 X10 Y20\nM30\n%"));
    EXPECT_TRUE(viewer->StatusLabel->text().startsWith(QStringLiteral("PROG.TNC (ZVT): 37 байт, строк: 5")))
        << viewer->StatusLabel->text().toStdString();
    EXPECT_TRUE(viewer->isVisible());
    QTest::keyClick(viewer->Editor, Qt::Key_Escape);
    ASSERT_TRUE(ProcessUntil([&] { return rig.F().Viewer() == nullptr; }));  // closed and gone
    TickToIdle(rig.F());

    // A pending row: its PC file, the device not asked.
    rig.Select({"local.lst"});
    rig.F().ViewAc->trigger();
    ASSERT_NE(rig.F().Viewer(), nullptr);
    EXPECT_EQ(rig.F().Viewer()->Editor->toPlainText(), QStringLiteral("G0 X1"));
    EXPECT_TRUE(rig.F().Viewer()->StatusLabel->text().contains(QDir::toNativeSeparators(pc)));
    EXPECT_EQ(rig.log->Count(opLoadFile), loads + 1);
    rig.F().Viewer()->close();

    // An empty medium file opens too; nothing was written on the PC.
    rig.Select({"EMPTY.ISO"});
    rig.F().ViewAc->trigger();
    ASSERT_TRUE(ProcessUntil([&] { return rig.F().Viewer() && rig.F().Viewer()->windowTitle().endsWith("EMPTY.ISO"); }));
    EXPECT_EQ(rig.F().Viewer()->Editor->toPlainText(), QString());
    EXPECT_EQ(FolderEntries(QString::fromStdString(rig.dir.File(""))), before);
    EXPECT_TRUE(rig.boxes.Boxes.empty());
}

TEST(ViewCompare, CompareWithAFolderFillsTheColumnUntilTheNextRefresh) {
    Rig rig({{"SAME.TNC", Prog},
             {"CHANGED.TNC", Prog},
             {"ALONE.ISO", "x"},
             {"LONGPR~1.TNC", "long"},
             {"UPPER.LST", "case"}});
    const QString folder = rig.Folder("lib");
    rig.PcFile("lib/SAME.TNC", Prog);
    rig.PcFile("lib/CHANGED.TNC", Prog + "M00\r\n");
    rig.PcFile("lib/longprogram.tnc", "long");  // answers to LONGPR~1.TNC
    rig.PcFile("lib/upper.lst", "case");        // letter case ignored
    rig.PcFile("lib/missing.iso", "m");         // a program the medium lacks
    rig.PcFile("lib/notes.txt", "n");           // no program: not listed

    CompareWith(rig, folder);
    ASSERT_TRUE(ProcessUntil([&] { return Outcome(rig, "SAME.TNC") != QString(); }));
    struct Want {
        const char* name;
        const char* outcome;
    };
    for (const Want& w : std::vector<Want>{{"SAME.TNC", "совпадает"},
                                           {"CHANGED.TNC", "отличается"},
                                           {"ALONE.ISO", "нет на ПК"},
                                           {"LONGPR~1.TNC", "совпадает"},
                                           {"UPPER.LST", "совпадает"},
                                           {"MISSING.ISO", "нет на ZVT"}})
        EXPECT_EQ(Outcome(rig, w.name), QString::fromUtf8(w.outcome)) << w.name;
    EXPECT_LT(rig.List().IndexOfName("NOTES.TXT"), 0);
    const int missing = rig.List().IndexOfName("MISSING.ISO");
    EXPECT_TRUE(rig.List().FolderRow(missing));
    EXPECT_EQ(rig.List().Sizes(missing), 1);
    EXPECT_EQ(rig.F().CompareFolder(), folder);
    EXPECT_TRUE(rig.boxes.Boxes.empty());
    TickToIdle(rig.F());

    // The folder dialog starts at the folder compared last.
    QString offered;
    rig.F().ExecCompareFolderDialog = [&](QString& f) {
        offered = f;
        return false;
    };
    rig.F().CompareFolderAc->trigger();
    EXPECT_EQ(offered, folder);

    // A refresh forgets the outcomes and the folder's rows.
    const int lists = rig.log->Count(opReadDir);
    rig.F().Action4->trigger();
    ASSERT_TRUE(rig.Completed(opReadDir, lists + 1));
    EXPECT_EQ(Outcome(rig, "CHANGED.TNC"), QString());
    EXPECT_LT(rig.List().IndexOfName("MISSING.ISO"), 0);
}

TEST(ViewCompare, ComparingOnePairOpensTheTwoTextsSideBySide) {
    Rig rig({{"CHANGED.TNC", Prog}, {"ALONE.ISO", "x"}});
    const QString folder = rig.Folder("lib");
    rig.PcFile("lib/changed.tnc", "%\r\nN10 G90 G54\r\nN20 X15 Y20\r\nM30\r\n%\r\n");

    // Before any compare there is no pair to show.
    rig.Select({"CHANGED.TNC"});
    rig.F().CompareAc->trigger();
    ASSERT_EQ(rig.boxes.Boxes.size(), 1u);
    EXPECT_TRUE(rig.Texts()[0].startsWith(QStringLiteral("Для файла CHANGED.TNC нет пары на ПК")));

    CompareWith(rig, folder);
    ASSERT_TRUE(ProcessUntil([&] { return Outcome(rig, "CHANGED.TNC") == QStringLiteral("отличается"); }));
    TickToIdle(rig.F());
    rig.Select({"CHANGED.TNC"});
    rig.F().CompareAc->trigger();
    ASSERT_TRUE(ProcessUntil([&] { return rig.F().DiffWindow() && rig.F().DiffWindow()->Aligned(); }));
    TDiffForm* diff = rig.F().DiffWindow();
    EXPECT_EQ(diff->windowTitle(), QStringLiteral("Сравнение: CHANGED.TNC"));
    EXPECT_EQ(diff->LeftTitle->text(), QStringLiteral("ZVT: CHANGED.TNC"));
    EXPECT_TRUE(diff->RightTitle->text().endsWith(QStringLiteral("changed.tnc")));
    EXPECT_EQ(DifferingRows(diff->Rows()), 1);
    EXPECT_EQ(diff->CurrentRow(), 2);
    EXPECT_EQ(diff->Left->document()->findBlockByNumber(2).text(), QStringLiteral("N20 X10 Y20"));
    EXPECT_EQ(diff->Right->document()->findBlockByNumber(2).text(), QStringLiteral("N20 X15 Y20"));

    // A file without a pair is named as such.
    TickToIdle(rig.F());
    rig.boxes.Boxes.clear();
    rig.Select({"ALONE.ISO"});
    rig.F().CompareAc->trigger();
    ASSERT_EQ(rig.boxes.Boxes.size(), 1u);
    EXPECT_TRUE(rig.Texts()[0].startsWith(QStringLiteral("Для файла ALONE.ISO нет пары на ПК")));
}
