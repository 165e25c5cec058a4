// Writing, loading, deleting and formatting from the window against the
// simulated device: the flows with their prompts, cancel, a device that
// vanishes, closing during a transfer, and progress totals against the
// sectors the device moved.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "core/cp1251.h"
#include "flashfs/fs_flash.h"
#include "link/zvt_drv.h"
#include "tests/sim_process.h"
#include "tests/ui/ui_test_support.h"
#include "tests/volume_check.h"
#include "ui/lamps.h"
#include "ui/my_list_box.h"
#include "ui/progress_form.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

std::vector<std::string> Names(const VolumeReport& r) {
    std::vector<std::string> out;
    for (const auto& [name, data] : r.Files) out.push_back(Cp1251ToUtf8(name));
    return out;
}

const QString Aborted = QStringLiteral("операция прервана пользователем");
using TRows = std::vector<std::pair<QString, bool>>;

}  // namespace

TEST(Transfers, WriteWithAPcFileGoneAsksToGoOn) {
    for (const int answer : {mrOk, mrAbort}) {
        SCOPED_TRACE(answer);
        Rig rig({});
        const QString b = rig.PcFile("b.lst", Bytes(10, 2));
        rig.F().AddFiles({rig.PcFile("a.lst", Bytes(3000, 1)), b, rig.PcFile("c.lst", Bytes(5000, 3))});
        QFile::remove(b);
        rig.boxes.Answers = {answer};

        rig.F().MenuSave->trigger();
        ASSERT_TRUE(rig.Completed(opSaveFile, answer == mrOk ? 2 : 1));
        ASSERT_GE(rig.boxes.Boxes.size(), 1u);
        EXPECT_EQ(rig.Texts()[0], "Файл " + b + QStringLiteral(" не найден. Продолжить выполнение операции?"));
        EXPECT_EQ(rig.boxes.Boxes[0].Buttons, mbOK | mbAbort);
        if (answer == mrOk) {
            EXPECT_EQ(rig.boxes.Boxes.size(), 1u);
            // Written rows show the names as the medium holds them, among the medium's rows.
            EXPECT_EQ(rig.Rows(), (TRows{{"A.LST", true}, {"C.LST", true}, {"b.lst", false}}));
            const VolumeReport medium = rig.Medium();
            EXPECT_TRUE(medium.Problems.empty());
            EXPECT_EQ(Names(medium), (std::vector<std::string>{"A.LST", "C.LST"}));
            EXPECT_EQ(std::string(medium.Files.at("C.LST").begin(), medium.Files.at("C.LST").end()), Bytes(5000, 3));
        } else {
            // Abort: the list is read again and the cancel is reported.
            ASSERT_TRUE(rig.Completed(opReadDir, 3));
            EXPECT_EQ(rig.Texts().size(), 2u);
            EXPECT_EQ(rig.Texts().back(), Aborted);
            EXPECT_EQ(rig.Rows(), (TRows{{"A.LST", true}, {"b.lst", false}, {"c.lst", false}}));
        }
    }
}

TEST(Transfers, CancelInTheMiddleOfAWrite) {
    // Esc, or the frame's close button, of the progress window.
    for (const bool byClose : {false, true}) {
        SCOPED_TRACE(byClose ? "close" : "Esc");
        Rig rig({});
        rig.F().AddFiles({rig.PcFile("x1.lst", Bytes(3000, 1)), rig.PcFile("x2.lst", Bytes(300000, 2)),
                          rig.PcFile("x3.lst", Bytes(100, 3))});
        // Esc in the progress window a few sectors into the big second file.
        int stepsInSecond = -1;
        rig.progress->OnFile = [&] {
            if (rig.progress->Files.back().second == QStringLiteral("Запись x2.lst")) stepsInSecond = 0;
        };
        rig.progress->OnStep = [&] {
            if (stepsInSecond < 0 || ++stepsInSecond != 3) return;
            if (byClose) rig.F().Progress()->close();
            else QTest::keyClick(rig.F().Progress(), Qt::Key_Escape);
        };
        rig.F().MenuSave->trigger();
        EXPECT_EQ(rig.F().Progress(), nullptr);  // closed at once
        ASSERT_TRUE(rig.Completed(opSaveFile, 1));
        EXPECT_EQ(rig.Texts(), (std::vector<QString>{QStringLiteral("Ошибка записи файла x2.lst: ") + Aborted +
                                                     QStringLiteral("; записано файлов: 1 из 3")}));
        EXPECT_EQ(rig.log->Count(opReadDir), 2);  // no re-read
        EXPECT_EQ(rig.Rows(), (TRows{{"X1.LST", true}, {"x2.lst", false}, {"x3.lst", false}}));
        const VolumeReport medium = rig.Medium();
        EXPECT_TRUE(medium.Problems.empty()) << medium.Problems.front();
        EXPECT_EQ(Names(medium), (std::vector<std::string>{"X1.LST"}));
    }
}

TEST(Transfers, LoadOfMediumAndPendingRowsIntoAFolder) {
    const TFiles medium = {{"P1.TNC", Bytes(5000, 1)}, {"P2.ISO", ""}, {"P3.LST", Bytes(4096, 3)}};
    Rig rig(medium);
    const QString gone = rig.PcFile("gone.lst", "x");
    rig.F().AddFiles({rig.PcFile("q.lst", Bytes(700, 4)), gone});
    QFile::remove(gone);
    const QString folder = rig.LoadFolder("out");
    rig.PcFile("out/P1.TNC", "an older copy");

    // The missing PC file: Abort loads nothing, No skips it, Yes drops its
    // row. The older copy of P1.TNC is replaced, the user agreeing for all.
    for (const int answer : {mrAbort, mrNo, mrYes}) {
        SCOPED_TRACE(answer);
        rig.boxes.Boxes.clear();
        rig.boxes.Answers = {mrYesToAll, answer};
        rig.Select({"P1.TNC", "P2.ISO", "P3.LST", "q.lst", "gone.lst"});
        const int loads = rig.log->Count(opLoadFile);
        rig.F().Action5->trigger();
        ASSERT_EQ(rig.boxes.Boxes.size(), 2u);
        EXPECT_EQ(rig.Texts()[0], "Файл P1.TNC уже есть в папке " + folder.chopped(1) + ". Заменить?");
        EXPECT_EQ(rig.Texts()[1], QStringLiteral("Файл gone.lst не найден. Удалить его из списка?"));
        EXPECT_EQ(rig.boxes.Boxes[1].Buttons, mbYes | mbNo | mbAbort);
        if (answer == mrAbort) {
            ProcessPending(100);
            EXPECT_EQ(rig.log->Count(opLoadFile), loads);
            continue;
        }
        ASSERT_TRUE(rig.Completed(opLoadFile, loads + 1));
        EXPECT_EQ(rig.log->Done.back().second, 0);
        TickToIdle(rig.F());
        EXPECT_EQ(rig.List().IndexOfName(QStringLiteral("gone.lst")) >= 0, answer == mrNo);
    }
    EXPECT_EQ(rig.FolderAsks, 3);
    EXPECT_EQ(FolderEntries(folder), (QStringList{"P1.TNC", "P2.ISO", "P3.LST", "q.lst"}));
    for (const auto& [name, bytes] : medium) EXPECT_EQ(ReadAll(folder + name.c_str()), bytes) << name;
    EXPECT_EQ(ReadAll(folder + "q.lst"), Bytes(700, 4));
    EXPECT_EQ(rig.boxes.Boxes.size(), 2u);  // no error
}

TEST(Transfers, LoadCutByTheDeviceVanishingLeavesNoPartialFile) {
    Rig rig({{"SMALL.TNC", Bytes(100, 1)}, {"BIG.TNC", Bytes(400000, 2)}});
    const QString folder = rig.LoadFolder("out");
    rig.PcFile("out/BIG.TNC", "the copy loaded yesterday");
    int steps = 0;
    rig.progress->OnStep = [&] {
        if (rig.progress->Files.size() == 2 && ++steps == 5) rig.sim->Kill();
    };
    rig.Select({"SMALL.TNC", "BIG.TNC"});
    rig.boxes.Answers = {mrYes};  // the older copy may be replaced
    rig.F().Action5->trigger();
    ASSERT_TRUE(rig.Completed(opLoadFile, 1));
    EXPECT_EQ(rig.log->Done.back().second, feLinkLost);
    EXPECT_EQ(rig.Texts(), (std::vector<QString>{"Файл BIG.TNC уже есть в папке " + folder.chopped(1) + ". Заменить?",
                                                 "Ошибка загрузки файла BIG.TNC: " + rig.F().MessageText(feLinkLost) +
                                                     "; загружено файлов: 1 из 2"}));
    EXPECT_EQ(FolderEntries(folder), (QStringList{"BIG.TNC", "SMALL.TNC"}));
    EXPECT_EQ(ReadAll(folder + "BIG.TNC"), "the copy loaded yesterday");
    EXPECT_EQ(ReadAll(folder + "SMALL.TNC"), Bytes(100, 1));
    // The link is down: lamp dark, the medium's rows gone until it is back.
    EXPECT_FALSE(rig.F().LinkUp());
    EXPECT_EQ(rig.F().LinkLamp(), lampBlack);
    EXPECT_EQ(rig.List().Count(), 0);
}

TEST(Transfers, DeleteOfAMixedSelection) {
    Rig rig({{"D1.TNC", Bytes(100, 1)}, {"D2.TNC", Bytes(3000, 2)}, {"D3.TNC", Bytes(5000, 3)}});
    rig.F().AddFiles({rig.PcFile("p.lst", "pending")});
    rig.Select({"D1.TNC", "p.lst", "D3.TNC"});
    TRows rowsAtStart;
    QObject::connect(&rig.F(), &TForm1::ProgressStarted, &rig.F(), [&] { rowsAtStart = rig.Rows(); });
    rig.boxes.Answers = {mrYes};
    rig.F().DelFileFlash->trigger();
    ASSERT_TRUE(rig.Completed(opDeleteFile, 1));
    EXPECT_EQ(rig.Texts(), std::vector<QString>{QStringLiteral("Удалить выделенные файлы?")});
    EXPECT_EQ(rig.boxes.Boxes[0].Buttons, mbYes | mbNo);
    // The pending row went before the worker started; the medium's through it.
    EXPECT_EQ(rowsAtStart, (TRows{{"D1.TNC", true}, {"D2.TNC", true}, {"D3.TNC", true}}));
    EXPECT_EQ(rig.progress->Files, (std::vector<std::pair<int, QString>>{{9, "Удаление D1.TNC"}, {9, "Удаление D3.TNC"}}));
    EXPECT_EQ(rig.Rows(), (TRows{{"D2.TNC", true}}));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(rig.dir.File("p.lst"))));

    // One file: named in the question; No deletes nothing.
    TickToIdle(rig.F());
    rig.Select({"D2.TNC"});
    rig.boxes.Answers = {mrNo};
    rig.F().DelFileFlash->trigger();
    ProcessPending(100);
    EXPECT_EQ(rig.Texts().back(), QStringLiteral("Удалить файл D2.TNC?"));
    EXPECT_EQ(rig.log->Count(opDeleteFile), 1);
    EXPECT_EQ(Names(rig.Medium()), (std::vector<std::string>{"D2.TNC"}));
}

TEST(Transfers, FormatAsksOnlyWithTheLinkUp) {
    {
        // Off while the device does not answer: nothing is asked.
        Window silent({"--silent"}, true);
        EXPECT_FALSE(silent.F().Action2->isEnabled());
        silent.F().Action2->trigger();
        ProcessPending(100);
        EXPECT_EQ(silent.log->Count(opInit), 2);
        EXPECT_TRUE(silent.boxes.Boxes.empty());
        EXPECT_EQ(silent.log->Count(opFormat), 0);
    }
    Rig rig({{"OLD.TNC", Bytes(100, 1)}});
    rig.F().AddFiles({rig.PcFile("new.lst", "x")});
    rig.boxes.Answers = {mrNo, mrYes};
    rig.F().Action2->trigger();
    ProcessPending(100);
    EXPECT_EQ(rig.log->Count(opFormat), 0);
    rig.F().Action2->trigger();
    ASSERT_TRUE(rig.Completed(opFormat, 1));
    const QString warning =
        QStringLiteral("Форматирование уничтожит все данные на носителе. Вы уверены что хотите продолжить?");
    EXPECT_EQ(rig.Texts(), (std::vector<QString>{warning, warning, QStringLiteral("ZVT успешно отформатировано")}));
    EXPECT_EQ(rig.boxes.Boxes[1].Type, TMsgDlgType::Warning);
    EXPECT_EQ(rig.boxes.Boxes[1].Buttons, mbYes | mbNo);
    EXPECT_EQ(rig.List().Count(), 0);
    EXPECT_TRUE(rig.Medium().Files.empty());
}

TEST(Transfers, MessageTableHasTheWorkersTextsAndTheWindowsOwn) {
    Window w;
    const std::pair<int, QString> own[] = {
        {0, "нет ошибки"},
        {9, "ошибка связи с ZVT"},
        {11, Aborted},
        {12, "Не удалось выделить память при чтении файла "},
        {13, "Ошибка при записи файла "},
        {14, "Ошибка при чтения файла "},
    };
    for (const auto& [code, text] : own) EXPECT_EQ(w.F().MessageText(code), text);
    for (const uint8_t code : {feDamagedFile, feForeignVolume})
        EXPECT_EQ(w.F().MessageText(code), QString::fromStdString(Cp1251ToUtf8(WorkerErrorText(code))));
    EXPECT_FALSE(w.F().MessageText(200).isEmpty());  // never an empty error box
}

TEST(Transfers, ProgressTotalsAreTheSectorsTheDeviceMoved) {
    // Sizes around the cluster (2048 bytes): empty, exactly one, part of two.
    const TFiles files = {{"E0.TNC", ""}, {"E1.TNC", Bytes(2048, 1)}, {"E2.TNC", Bytes(3000, 2)}};
    const QStringList names = {"E0.TNC", "E1.TNC", "E2.TNC"};
    // The sectors the device counted as "read " or "write ".
    const auto counted = [](auto&& rig, const char* what) {
        rig.sim->Stop();
        const std::string& out = rig.sim->Output();
        const size_t at = out.find(what);
        return at == std::string::npos ? -1 : std::stoi(out.substr(at + std::string(what).size()));
    };
    // Every step reported and both bars full at the finish.
    const auto full = [](const TProgressLog& p) {
        return p.Steps == p.Total && p.Bar == p.BarMax && p.FileBar == p.FileBarMax;
    };
    const int startUpReads = counted(Rig(files), "read ");
    // A write counts its write frames, and with the read-back on the reads
    // that the read-back adds to those of the save.
    int writeReads = -1;
    for (const bool verify : {false, true}) {
        SCOPED_TRACE(verify ? "write with read-back" : "write");
        Rig rig({});
        rig.F().MenuVerify->setChecked(verify);
        QStringList pc;
        for (const auto& [name, data] : files) pc << rig.PcFile(name, data);
        rig.F().AddFiles(pc);
        rig.F().MenuSave->trigger();
        ASSERT_TRUE(rig.Completed(opSaveFile, 1));
        EXPECT_TRUE(rig.boxes.Boxes.empty());
        const int total = rig.progress->Total;
        EXPECT_TRUE(full(*rig.progress));
        const int writes = counted(rig, "write ");
        const int reads = counted(rig, "read ") - startUpReads;
        if (!verify) {
            EXPECT_EQ(total, writes);
            writeReads = reads;
        } else {
            EXPECT_EQ(total, writes + reads - writeReads);
        }
    }
    {
        Rig rig(files);
        rig.LoadFolder("out");
        rig.Select(names);
        rig.F().Action5->trigger();
        ASSERT_TRUE(rig.Completed(opLoadFile, 1));
        EXPECT_EQ(rig.progress->Total, counted(rig, "read ") - startUpReads) << "load";
        EXPECT_TRUE(full(*rig.progress)) << "load";
    }
    {
        Rig rig(files);
        rig.Select(names);
        rig.boxes.Answers = {mrYes};
        rig.F().DelFileFlash->trigger();
        ASSERT_TRUE(rig.Completed(opDeleteFile, 1));
        EXPECT_EQ(rig.progress->Total, counted(rig, "write ")) << "delete";
        EXPECT_EQ(rig.progress->Bar, rig.progress->BarMax);
    }
}

TEST(Transfers, ClosingDuringAWriteCancelsAndWaitsForTheWorker) {
    Rig rig({{"OLD.TNC", Bytes(100, 1)}});
    rig.F().show();
    rig.F().AddFiles({rig.PcFile("first.lst", Bytes(2000, 2)), rig.PcFile("big.lst", Bytes(300000, 3))});
    int steps = 0;
    rig.progress->OnStep = [&] {
        if (rig.progress->Files.size() == 2 && ++steps == 3) rig.F().close();
    };
    rig.F().MenuSave->trigger();
    ASSERT_TRUE(rig.Completed(opSaveFile, 1));
    EXPECT_FALSE(rig.F().isVisible());
    EXPECT_TRUE(rig.boxes.Boxes.empty());
    rig.form.reset();
    const VolumeReport medium = rig.Medium();
    EXPECT_TRUE(medium.Problems.empty());
    EXPECT_EQ(Names(medium), (std::vector<std::string>{"FIRST.LST", "OLD.TNC"}));
}

TEST(Transfers, MediumNamesThatCannotBeLocalFilesAreRefused) {
    Rig rig({{"A/B.TNC", "x"}, {"C\\D.TNC", "y"}, {"OK.TNC", "z"}});
    const QString folder = rig.LoadFolder("out");
    rig.Select({"A/B.TNC", "OK.TNC"});
    rig.F().Action5->trigger();
    ProcessPending(100);
    EXPECT_EQ(rig.Texts(), (std::vector<QString>{QStringLiteral("Имя файла A/B.TNC") +
                                                 QStringLiteral(" непригодно для файла на ПК, файл не загружен")}));
    EXPECT_EQ(rig.log->Count(opLoadFile), 0);
    EXPECT_TRUE(FolderEntries(folder).isEmpty());

    // A backslash is shown escaped, and its file on the PC carries it as %5C.
    rig.boxes.Boxes.clear();
    rig.Select({"C\\x5CD.TNC"});
    rig.F().Action5->trigger();
    ASSERT_TRUE(rig.Completed(opLoadFile, 1));
    EXPECT_EQ(rig.log->Done.back().second, 0);
    EXPECT_EQ(FolderEntries(folder), QStringList{"C%5CD.TNC"});
    EXPECT_EQ(ReadAll(folder + "C%5CD.TNC"), "y");
}

TEST(Transfers, LinkCheckBringsTheLinkAndTheListBackAfterAHangUp) {
    TempDir links;
    Rig rig({{"BACK.TNC", "x"}}, {"--link", links.File("port")});
    TForm1& f = rig.F();
    rig.sim->Kill();
    ASSERT_TRUE(ProcessUntil([&] { return !f.Driver()->ComPort.EventThreadRunning(); }));
    f.Timer1Timer();  // the hang-up is noticed
    EXPECT_FALSE(f.LinkUp());
    EXPECT_EQ(f.LinkLamp(), lampBlack);
    EXPECT_EQ(f.ListBox1->count(), 0);
    EXPECT_EQ(f.Action8->text(), QStringLiteral("Освободить &порт"));

    rig.sim = std::make_unique<SimProcess>(std::vector<std::string>{"--image", rig.image, "--link", links.File("port")});
    const int lists = rig.log->Count(opReadDir);
    f.Timer1Timer();  // opens the port again and asks the device
    ASSERT_TRUE(rig.Completed(opReadDir, lists + 1));
    EXPECT_TRUE(f.LinkUp());
    EXPECT_EQ(f.LinkLamp(), lampGreen);
    EXPECT_EQ(rig.Names(), std::vector<QString>{"BACK.TNC"});
    EXPECT_TRUE(rig.boxes.Boxes.empty());
}
