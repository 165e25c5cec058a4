// The flows that keep an operator's slip from losing a program: a file of
// the medium replaced only once its successor is written, the questions
// before quitting and before a load writes over a PC file, Return and Esc
// that answer every destructive question the safe way, and the read-back
// setting that survives a restart.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "core/cp1251.h"
#include "flashfs/fs_flash.h"
#include "tests/ui/ui_test_support.h"
#include "tests/volume_check.h"
#include "ui/my_list_box.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

using TRows = std::vector<std::pair<QString, bool>>;

// The medium's files by the independent checker, which must find the volume
// consistent but for clusters no entry reaches.
std::map<std::string, std::string> Contents(const VolumeReport& r) {
    std::map<std::string, std::string> out;
    for (const auto& [name, data] : r.Files) out[Cp1251ToUtf8(name)] = std::string(data.begin(), data.end());
    return out;
}

const QString ReplaceQuestion(const char* name) {
    return QStringLiteral("Файл с именем ") + name + QStringLiteral(" уже существует. Заменить?");
}

}  // namespace

TEST(SafeReplace, YesMarksTheRowAndOnlyTheWriteReplacesTheFile) {
    Rig rig({{"PROG.TNC", Bytes(3000, 1)}, {"KEEP.TNC", Bytes(10, 2)}});
    rig.boxes.Answers = {mrYes};
    const QString pc = rig.PcFile("prog.tnc", Bytes(5000, 3));
    rig.F().AddFiles({pc});
    ProcessPending(100);
    EXPECT_EQ(rig.Texts(), std::vector<QString>{ReplaceQuestion("prog.tnc")});
    // Nothing was asked of the device: the row waits, marked.
    EXPECT_EQ(rig.log->Count(opDeleteFile) + rig.log->Count(opSaveFile), 0);
    EXPECT_EQ(rig.Rows(), (TRows{{"PROG.TNC", false}, {"KEEP.TNC", true}}));
    EXPECT_TRUE(rig.List().Replaces(0));
    EXPECT_EQ(rig.List().ReplacedSize(0), 3000);
    EXPECT_EQ(rig.List().Sizes(0), 5000);
    EXPECT_TRUE(rig.F().RowText(0).startsWith("PROG.TNC") && rig.F().RowText(0).contains("заменит"));
    EXPECT_TRUE(rig.F().ListBox1->item(0)->toolTip().contains("PROG.TNC"));
    EXPECT_TRUE(rig.F().ListBox1->item(0)->toolTip().contains(pc));

    // A re-read of the list keeps the replacement waiting, behind the
    // medium's rows.
    rig.F().Action4->trigger();
    ASSERT_TRUE(rig.Completed(opReadDir, 3));
    EXPECT_EQ(rig.Rows(), (TRows{{"KEEP.TNC", true}, {"PROG.TNC", false}}));
    EXPECT_TRUE(rig.List().Replaces(1));
    TickToIdle(rig.F());

    rig.F().MenuSave->trigger();
    ASSERT_TRUE(rig.Completed(opSaveFile, 1));
    EXPECT_EQ(rig.log->Done.back().second, 0);
    EXPECT_EQ(rig.Texts().size(), 1u);
    EXPECT_EQ(rig.progress->Files.back().second, QStringLiteral("Замена PROG.TNC"));
    EXPECT_EQ(rig.Rows(), (TRows{{"KEEP.TNC", true}, {"PROG.TNC", true}}));
    EXPECT_FALSE(rig.List().Replaces(1));
    EXPECT_EQ(rig.List().Sizes(1), 5000);
    const VolumeReport medium = rig.Medium();
    EXPECT_TRUE(medium.Problems.empty()) << medium.Problems.front();
    EXPECT_EQ(Contents(medium), (std::map<std::string, std::string>{{"PROG.TNC", Bytes(5000, 3)},
                                                                     {"KEEP.TNC", Bytes(10, 2)}}));
}

TEST(SafeReplace, DroppingTheReplacementOrQuittingLeavesTheOldFile) {
    const struct {
        const char* Name;
        bool Quit;  // else F8 on the row
    } cases[] = {{"F8 on the marked row", false}, {"quitting without writing", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Rig rig({{"PROG.TNC", Bytes(3000, 1)}});
        rig.F().show();
        rig.boxes.Answers = {mrYes};
        rig.F().AddFiles({rig.PcFile("prog.tnc", Bytes(5000, 3))});
        if (c.Quit) {
            rig.boxes.Answers = {mrYes};
            rig.F().Action1->trigger();
            ProcessPending(100);
            EXPECT_FALSE(rig.F().isVisible());
            EXPECT_EQ(rig.Texts().back(), QStringLiteral("Файлов, ждущих записи на флэш: 1. Выйти, не записав их?"));
            rig.form.reset();
        } else {
            rig.Select({"PROG.TNC"});
            rig.boxes.Answers = {mrYes};
            rig.F().DelFileFlash->trigger();
            ProcessPending(100);
            // The row is the medium's again, as it was.
            EXPECT_EQ(rig.Rows(), (TRows{{"PROG.TNC", true}}));
            EXPECT_EQ(rig.List().Sizes(0), 3000);
            EXPECT_FALSE(rig.List().Replaces(0));
            EXPECT_EQ(rig.log->Count(opDeleteFile), 0);
        }
        EXPECT_EQ(rig.log->Count(opSaveFile), 0);
        EXPECT_EQ(Contents(rig.Medium()), (std::map<std::string, std::string>{{"PROG.TNC", Bytes(3000, 1)}}));
    }
}

TEST(SafeReplace, NoRoomForBothCopiesAsksBeforeTheOldOneGoes) {
    // 1.2 MB fills more than half of the 2 MiB medium: the new copy cannot
    // stand beside the old one.
    const std::string oldBytes = Bytes(1200000, 1), newBytes = Bytes(1100000, 2);
    const QString noRoom = QStringLiteral(
        "На флэш нет места для новой копии файла BIG.TNC рядом со старой. Удалить старый файл с флэш и записать "
        "новый на его место?\nЕсли запись прервётся, на флэш не останется ни старого, ни нового файла.");
    for (const int answer : {PressReturn, int{mrYes}}) {
        SCOPED_TRACE(answer);
        Rig rig({{"BIG.TNC", oldBytes}, {"SMALL.TNC", "s"}});
        rig.boxes.Answers = {mrYes};
        rig.F().AddFiles({rig.PcFile("big.tnc", newBytes), rig.PcFile("next.tnc", "n")});
        rig.boxes.Answers = {answer};
        rig.F().MenuSave->trigger();
        ASSERT_TRUE(rig.Completed(opSaveFile, 2));
        ASSERT_EQ(rig.Texts().size(), 2u);
        EXPECT_EQ(rig.Texts()[1], noRoom);
        EXPECT_EQ(rig.boxes.Boxes[1].Type, TMsgDlgType::Warning);
        // Either way the other file is written.
        const auto contents = Contents(rig.Medium());
        EXPECT_EQ(contents.at("NEXT.TNC"), "n");
        EXPECT_EQ(contents.at("SMALL.TNC"), "s");
        EXPECT_EQ(contents.at("BIG.TNC"), answer == mrYes ? newBytes : oldBytes);
    }
}

TEST(SafeDefaults, ReturnAndEscDestroyNothing) {
    for (const int key : {PressReturn, PressEscape}) {
        SCOPED_TRACE(key == PressReturn ? "Return" : "Esc");
        Rig rig({{"OLD.TNC", Bytes(100, 1)}});
        rig.F().show();
        rig.boxes.DefaultAnswer = key;
        const QString folder = rig.LoadFolder("out");
        rig.PcFile("out/OLD.TNC", "the PC's own copy");

        rig.F().Action2->trigger();  // format
        rig.Select({"OLD.TNC"});
        rig.F().DelFileFlash->trigger();
        rig.F().Action5->trigger();  // load over the PC's copy
        rig.F().AddFiles({rig.PcFile("old.tnc", "new"), rig.PcFile("extra.lst", "x")});
        rig.F().Action1->trigger();  // quit with a pending row
        ProcessPending(200);

        const std::vector<QString> asked = {
            QStringLiteral("Форматирование уничтожит все данные на носителе. Вы уверены что хотите продолжить?"),
            QStringLiteral("Удалить файл OLD.TNC?"),
            "Файл OLD.TNC уже есть в папке " + folder.chopped(1) + ". Заменить?",
            QStringLiteral("Загружено файлов: 0 из 1, пропущено (такой файл уже есть в папке): 1"),
            ReplaceQuestion("old.tnc"),
            QStringLiteral("Файлов, ждущих записи на флэш: 1. Выйти, не записав их?"),
        };
        EXPECT_EQ(rig.Texts(), asked);
        EXPECT_EQ(rig.log->Count(opFormat) + rig.log->Count(opDeleteFile) + rig.log->Count(opLoadFile), 0);
        EXPECT_EQ(ReadAll(folder + "OLD.TNC"), "the PC's own copy");
        EXPECT_EQ(rig.Rows(), (TRows{{"OLD.TNC", true}, {"extra.lst", false}})) << "no replacement marked";
        EXPECT_TRUE(rig.F().isVisible()) << "the quit question kept the window";
        EXPECT_EQ(Contents(rig.Medium()), (std::map<std::string, std::string>{{"OLD.TNC", Bytes(100, 1)}}));
    }
}

TEST(SafeDefaults, TheRealBoxTakesReturnAndEscOnNo) {
    TQtMessageBoxes boxes;
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        for (const unsigned buttons : {unsigned(mbYes | mbNo), unsigned(mbYes | mbNo | mbNoToAll | mbYesToAll)}) {
            QTimer::singleShot(0, [key] {
                QWidget* box = QApplication::activeModalWidget();
                ASSERT_NE(box, nullptr);
                QTest::keyClick(box, key);
            });
            EXPECT_EQ(boxes.Ask(nullptr, QStringLiteral("Удалить?"), TMsgDlgType::Confirmation, buttons), mrNo)
                << key << " " << buttons;
        }
    }
}

TEST(QuitQuestion, AskedOnlyWithPendingRowsAndNamesHowMany) {
    const struct {
        const char* Name;
        int Pending;
        int Answer;
        bool Closes;
    } cases[] = {
        {"nothing pending", 0, mrNo, true},
        {"two pending, No", 2, mrNo, false},
        {"two pending, Yes", 2, mrYes, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Window w;
        w.boxes.Boxes.clear();
        w.F().show();
        for (int i = 0; i < c.Pending; ++i) w.F().AddFiles({w.PcFile("p" + std::to_string(i) + ".lst")});
        w.boxes.Answers = {c.Answer};
        w.F().close();
        EXPECT_EQ(w.F().isVisible(), !c.Closes);
        if (c.Pending == 0) {
            EXPECT_TRUE(w.boxes.Boxes.empty());
        } else {
            ASSERT_EQ(w.boxes.Boxes.size(), 1u);
            EXPECT_EQ(w.Texts()[0], QStringLiteral("Файлов, ждущих записи на флэш: 2. Выйти, не записав их?"));
            EXPECT_EQ(w.boxes.Boxes[0].Buttons, mbYes | mbNo);
        }
    }
}

TEST(LoadOverwrite, AskedPerFileWithTheFolderAndCountedInTheSummary) {
    const TFiles medium = {{"A.TNC", "new a"}, {"B.TNC", "new b"}, {"C.TNC", "new c"}};
    const struct {
        const char* Name;
        std::deque<int> Answers;
        const char* A;
        const char* B;
        int Asked;
        const char* Summary;  // "" for none
    } cases[] = {
        {"Yes, then No", {mrYes, mrNo}, "new a", "old b", 2,
         "Загружено файлов: 2 из 3, пропущено (такой файл уже есть в папке): 1"},
        {"No to all", {mrNoToAll}, "old a", "old b", 1,
         "Загружено файлов: 1 из 3, пропущено (такой файл уже есть в папке): 2"},
        {"Yes to all", {mrYesToAll}, "new a", "new b", 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Rig rig(medium);
        const QString folder = rig.LoadFolder("out");
        rig.PcFile("out/A.TNC", "old a");
        rig.PcFile("out/B.TNC", "old b");
        rig.Select({"A.TNC", "B.TNC", "C.TNC"});
        rig.boxes.Answers = c.Answers;
        rig.F().Action5->trigger();
        ASSERT_TRUE(rig.Completed(opLoadFile, 1));
        ProcessPending(50);
        ASSERT_GE(rig.boxes.Boxes.size(), static_cast<size_t>(c.Asked));
        EXPECT_EQ(rig.Texts()[0], "Файл A.TNC уже есть в папке " + folder.chopped(1) + ". Заменить?");
        EXPECT_EQ(rig.boxes.Boxes[0].Buttons, mbYes | mbNo | mbNoToAll | mbYesToAll);
        EXPECT_EQ(ReadAll(folder + "A.TNC"), c.A);
        EXPECT_EQ(ReadAll(folder + "B.TNC"), c.B);
        EXPECT_EQ(ReadAll(folder + "C.TNC"), "new c");
        EXPECT_EQ(rig.boxes.Boxes.size(), static_cast<size_t>(c.Asked) + (*c.Summary ? 1 : 0));
        if (*c.Summary) {
            EXPECT_EQ(rig.Texts().back(), QString::fromUtf8(c.Summary));
        }
    }
}

TEST(VerifySetting, OnByDefaultInTheSettingsMenuAndRemembered) {
    TempDir dir;
    TScriptedBoxes boxes;
    TFormOptions options = FastOptions(dir.File("no-port"), &boxes);
    options.SettingsFile = QString::fromStdString(dir.File("skarvel.ini"));
    {
        TForm1 first(options);
        EXPECT_EQ(first.MenuVerify->text(), QStringLiteral("Проверять &запись"));
        EXPECT_TRUE(first.N3->actions().contains(first.MenuVerify));
        EXPECT_TRUE(first.MenuVerify->isCheckable());
        EXPECT_TRUE(first.MenuVerify->isChecked());
        first.MenuVerify->trigger();
    }
    TForm1 second(options);
    EXPECT_FALSE(second.MenuVerify->isChecked());
    second.MenuVerify->trigger();
    EXPECT_TRUE(TForm1(options).MenuVerify->isChecked());
}
