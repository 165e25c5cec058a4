// Writing, loading, deleting and formatting from the window against the
// simulated device: the flows with their prompts, cancel, a device that
// vanishes, closing during a transfer, and progress totals against the
// sectors the device moved.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
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

}  // namespace

TEST(Transfers, WriteWithAPcFileGoneAsksToGoOn) {
    for (const int answer : {mrOk, mrAbort}) {
        Rig rig({});
        const QString a = rig.PcFile("a.lst", Bytes(3000, 1));
        const QString b = rig.PcFile("b.lst", Bytes(10, 2));
        const QString c = rig.PcFile("c.lst", Bytes(5000, 3));
        rig.F().AddFiles({a, b, c});
        QFile::remove(b);
        rig.boxes.Answers = {answer};

        rig.F().MenuSave->trigger();
        ASSERT_TRUE(rig.Completed(opSaveFile, answer == mrOk ? 2 : 1));
        ASSERT_GE(rig.boxes.Boxes.size(), 1u);
        EXPECT_EQ(rig.boxes.Boxes[0].Text, QStringLiteral("Файл ") + b +
                                               QStringLiteral(" не найден. Продолжить выполнение операции?"));
        EXPECT_EQ(rig.boxes.Boxes[0].Buttons, mbOK | mbAbort);
        if (answer == mrOk) {
            EXPECT_EQ(rig.boxes.Boxes.size(), 1u);
            EXPECT_EQ(rig.Rows(), (std::vector<std::pair<QString, bool>>{{"a.lst", true}, {"b.lst", false}, {"c.lst", true}}));
            const VolumeReport medium = rig.Medium();
            EXPECT_TRUE(medium.Problems.empty());
            EXPECT_EQ(Names(medium), (std::vector<std::string>{"A.LST", "C.LST"}));
            EXPECT_EQ(std::string(medium.Files.at("C.LST").begin(), medium.Files.at("C.LST").end()), Bytes(5000, 3));
        } else {
            // Abort: the list is read again and the cancel is reported.
            ASSERT_TRUE(rig.Completed(opReadDir, 3));
            ASSERT_EQ(rig.boxes.Boxes.size(), 2u);
            EXPECT_EQ(rig.boxes.Boxes[1].Text, Aborted);
            EXPECT_EQ(rig.Rows(), (std::vector<std::pair<QString, bool>>{{"b.lst", false}, {"c.lst", false}, {"A.LST", true}}));
        }
    }
}

TEST(Transfers, CancelInTheMiddleOfAWrite) {
    Rig rig({});
    rig.F().AddFiles({rig.PcFile("x1.lst", Bytes(3000, 1)), rig.PcFile("x2.lst", Bytes(300000, 2)),
                      rig.PcFile("x3.lst", Bytes(100, 3))});
    // Esc in the progress window a few sectors into the big second file.
    int stepsInSecond = -1;
    rig.progress->OnFile = [&] {
        if (rig.progress->Files.back().second == QStringLiteral("Запись x2.lst")) stepsInSecond = 0;
    };
    rig.progress->OnStep = [&] {
        if (stepsInSecond >= 0 && ++stepsInSecond == 3) QTest::keyClick(rig.F().Progress(), Qt::Key_Escape);
    };
    rig.F().MenuSave->trigger();
    EXPECT_EQ(rig.F().Progress(), nullptr);  // closed at once
    ASSERT_TRUE(rig.Completed(opSaveFile, 1));
    EXPECT_EQ(rig.Texts(), (std::vector<QString>{QStringLiteral("Ошибка записи файла x2.lst: ") + Aborted}));
    EXPECT_EQ(rig.log->Count(opReadDir), 2);  // no re-read
    EXPECT_EQ(rig.Rows(), (std::vector<std::pair<QString, bool>>{{"x1.lst", true}, {"x2.lst", false}, {"x3.lst", false}}));
    const VolumeReport medium = rig.Medium();
    EXPECT_TRUE(medium.Problems.empty()) << medium.Problems.front();
    EXPECT_EQ(Names(medium), (std::vector<std::string>{"X1.LST"}));
}

TEST(Transfers, LoadOfMediumAndPendingRowsIntoAFolder) {
    Rig rig({{"P1.TNC", Bytes(5000, 1)}, {"P2.ISO", ""}, {"P3.LST", Bytes(4096, 3)}});
    const QString pending = rig.PcFile("q.lst", Bytes(700, 4));
    const QString gone = rig.PcFile("gone.lst", "x");
    rig.F().AddFiles({pending, gone});
    QFile::remove(gone);
    const QString folder = rig.Folder("out");
    QFile stale(folder + QStringLiteral("P1.TNC"));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("an older copy");
    stale.close();
    int asked = 0;
    rig.F().ExecFolderDialog = [&](QString& f) {
        ++asked;
        f = folder;
        return true;
    };

    // The missing PC file: Abort loads nothing, No skips it, Yes drops its row.
    for (const int answer : {mrAbort, mrNo, mrYes}) {
        rig.boxes.Boxes.clear();
        rig.boxes.Answers = {answer};
        rig.Select({"P1.TNC", "P2.ISO", "P3.LST", "q.lst", "gone.lst"});
        const int loads = rig.log->Count(opLoadFile);
        rig.F().Action5->trigger();
        ASSERT_EQ(rig.boxes.Boxes.size(), 1u);
        EXPECT_EQ(rig.boxes.Boxes[0].Text, QStringLiteral("Файл gone.lst не найден. Удалить его из списка?"));
        EXPECT_EQ(rig.boxes.Boxes[0].Buttons, mbYes | mbNo | mbAbort);
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
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(FolderEntries(folder), (QStringList{"P1.TNC", "P2.ISO", "P3.LST", "q.lst"}));
    EXPECT_EQ(ReadAll(folder + "P1.TNC"), Bytes(5000, 1));
    EXPECT_EQ(ReadAll(folder + "P2.ISO"), "");
    EXPECT_EQ(ReadAll(folder + "P3.LST"), Bytes(4096, 3));
    EXPECT_EQ(ReadAll(folder + "q.lst"), Bytes(700, 4));
    EXPECT_EQ(rig.boxes.Boxes.size(), 1u);  // no error
}

TEST(Transfers, LoadCutByTheDeviceVanishingLeavesNoPartialFile) {
    Rig rig({{"SMALL.TNC", Bytes(100, 1)}, {"BIG.TNC", Bytes(400000, 2)}});
    const QString folder = rig.Folder("out");
    QFile good(folder + QStringLiteral("BIG.TNC"));
    ASSERT_TRUE(good.open(QIODevice::WriteOnly));
    good.write("the copy loaded yesterday");
    good.close();
    rig.F().ExecFolderDialog = [&](QString& f) {
        f = folder;
        return true;
    };
    int steps = 0;
    rig.progress->OnStep = [&] {
        if (rig.progress->Files.size() == 2 && ++steps == 5) rig.sim->Kill();
    };
    rig.Select({"SMALL.TNC", "BIG.TNC"});
    rig.F().Action5->trigger();
    ASSERT_TRUE(rig.Completed(opLoadFile, 1));
    EXPECT_EQ(rig.log->Done.back().second, feLinkError);
    EXPECT_EQ(rig.Texts(), (std::vector<QString>{rig.F().MessageText(feLinkError)}));
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
    std::vector<std::pair<QString, bool>> rowsAtStart;
    QObject::connect(&rig.F(), &TForm1::ProgressStarted, &rig.F(), [&] { rowsAtStart = rig.Rows(); });
    rig.boxes.Answers = {mrYes};
    rig.F().DelFileFlash->trigger();
    ASSERT_TRUE(rig.Completed(opDeleteFile, 1));
    EXPECT_EQ(rig.boxes.Boxes[0].Text, QStringLiteral("Удалить выделенные файлы?"));
    EXPECT_EQ(rig.boxes.Boxes[0].Buttons, mbYes | mbNo);
    // The pending row went before the worker started; the medium's through it.
    EXPECT_EQ(rowsAtStart, (std::vector<std::pair<QString, bool>>{{"D1.TNC", true}, {"D2.TNC", true}, {"D3.TNC", true}}));
    EXPECT_EQ(rig.progress->Files, (std::vector<std::pair<int, QString>>{{9, "Удаление D1.TNC"}, {9, "Удаление D3.TNC"}}));
    EXPECT_EQ(rig.Rows(), (std::vector<std::pair<QString, bool>>{{"D2.TNC", true}}));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(rig.dir.File("p.lst"))));
    EXPECT_EQ(rig.boxes.Boxes.size(), 1u);

    // One file: named in the question; No deletes nothing.
    TickToIdle(rig.F());
    rig.Select({"D2.TNC"});
    rig.boxes.Answers = {mrNo};
    rig.F().DelFileFlash->trigger();
    ProcessPending(100);
    EXPECT_EQ(rig.boxes.Boxes.back().Text, QStringLiteral("Удалить файл D2.TNC?"));
    EXPECT_EQ(rig.log->Count(opDeleteFile), 1);
    EXPECT_EQ(Names(rig.Medium()), (std::vector<std::string>{"D2.TNC"}));
}

TEST(Transfers, ReplacingAFileOfTheMediumDeletesItFirst) {
    Rig rig({{"PROG.TNC", Bytes(100, 1)}, {"KEEP.TNC", Bytes(10, 2)}});
    rig.boxes.Answers = {mrYes};
    rig.F().AddFiles({rig.PcFile("prog.tnc", Bytes(50, 3))});
    ASSERT_TRUE(rig.Completed(opDeleteFile, 1));
    EXPECT_EQ(rig.Texts(), (std::vector<QString>{QStringLiteral("Файл с именем prog.tnc уже существует. Заменить?")}));
    EXPECT_EQ(rig.progress->Files, (std::vector<std::pair<int, QString>>{{9, "Удаление PROG.TNC"}}));
    EXPECT_EQ(rig.boxes.Boxes.size(), 1u);
    EXPECT_EQ(rig.Rows(), (std::vector<std::pair<QString, bool>>{{"KEEP.TNC", true}, {"prog.tnc", false}}));
    EXPECT_EQ(rig.List().Sizes(1), 50);
    EXPECT_EQ(Names(rig.Medium()), (std::vector<std::string>{"KEEP.TNC"}));
}

TEST(Transfers, FormatAsksOnlyWithTheLinkUp) {
    {
        SimProcess silent({"--silent"});
        TScriptedBoxes boxes;
        TForm1 f(SilentOptions(silent.PtyPath(), &boxes));
        TDoneLog log(f);
        ASSERT_TRUE(ProcessUntil([&] { return log.Count(opInit) == 2; }));
        f.Action2->trigger();  // only asks the device again
        ASSERT_TRUE(ProcessUntil([&] { return log.Count(opInit) == 3; }));
        EXPECT_TRUE(boxes.Boxes.empty());
        EXPECT_EQ(log.Count(opFormat), 0);
    }
    Rig rig({{"OLD.TNC", Bytes(100, 1)}});
    rig.F().AddFiles({rig.PcFile("new.lst", "x")});
    rig.boxes.Answers = {mrNo};
    rig.F().Action2->trigger();
    ProcessPending(100);
    EXPECT_EQ(rig.log->Count(opFormat), 0);
    rig.boxes.Answers = {mrYes};
    rig.F().Action2->trigger();
    ASSERT_TRUE(rig.Completed(opFormat, 1));
    const QString warning =
        QStringLiteral("Форматирование уничтожит все данные на носителе. Вы уверены что хотите продолжить?");
    ASSERT_EQ(rig.boxes.Boxes.size(), 3u);
    EXPECT_EQ(rig.boxes.Boxes[1].Text, warning);
    EXPECT_EQ(rig.boxes.Boxes[1].Type, TMsgDlgType::Warning);
    EXPECT_EQ(rig.boxes.Boxes[1].Buttons, mbYes | mbNo);
    EXPECT_EQ(rig.boxes.Boxes[2].Text, QStringLiteral("ZVT успешно отформатировано"));
    EXPECT_EQ(rig.List().Count(), 0);
    EXPECT_TRUE(rig.Medium().Files.empty());
}

TEST(Transfers, UnformattedMediumIsNamedInTheStatusLineUntilFormatted) {
    SimProcess sim;  // zeros
    TScriptedBoxes boxes;
    TForm1 f(FastOptions(sim.PtyPath(), &boxes));
    TDoneLog log(f);
    ASSERT_TRUE(ProcessUntil([&] { return log.Count(opInit) == 2; }));
    TickToIdle(f);
    EXPECT_EQ(f.Label3->text(), QStringLiteral("Статус: неформатированный носитель"));
    EXPECT_EQ(f.LinkLamp(), lampGreen);
    // A medium formatted elsewhere (17) is taken the same way: its text in
    // the status line, no list asked for.
    f.WMOperationDone(opInit, feForeignVolume);
    EXPECT_EQ(f.Label3->text(), QStringLiteral("Статус: ") + QString::fromStdString(Cp1251ToUtf8(WorkerErrorText(feForeignVolume))));
    EXPECT_EQ(log.Count(opReadDir), 0);
    boxes.Answers = {mrYes};
    f.Action2->trigger();
    ASSERT_TRUE(ProcessUntil([&] { return log.Count(opFormat) == 1; }));
    EXPECT_EQ(log.Done.back().second, 0);
    TickToIdle(f);
    EXPECT_EQ(f.Label3->text(), QStringLiteral("Статус: ожидание"));
}

TEST(Transfers, MessageTableHasTheWorkersTextsAndTheWindowsOwn) {
    TempDir dir;
    TScriptedBoxes boxes;
    TForm1 f(FastOptions(dir.File("no-port"), &boxes));
    EXPECT_EQ(f.MessageText(0), QStringLiteral("нет ошибки"));
    EXPECT_EQ(f.MessageText(9), QStringLiteral("ошибка связи с ZVT"));
    EXPECT_EQ(f.MessageText(11), Aborted);
    EXPECT_EQ(f.MessageText(12), QStringLiteral("Не удалось выделить память при чтении файла "));
    EXPECT_EQ(f.MessageText(13), QStringLiteral("Ошибка при записи файла "));
    EXPECT_EQ(f.MessageText(14), QStringLiteral("Ошибка при чтения файла "));
    for (const uint8_t code : {feDamagedFile, feForeignVolume})
        EXPECT_EQ(f.MessageText(code), QString::fromStdString(Cp1251ToUtf8(WorkerErrorText(code))));
    EXPECT_FALSE(f.MessageText(200).isEmpty());  // never an empty error box
}

TEST(Transfers, ProgressTotalsAreTheSectorsTheDeviceMoved) {
    // Sizes around the cluster (2048 bytes): empty, exactly one, part of two.
    const TFiles files = {{"E0.TNC", ""}, {"E1.TNC", Bytes(2048, 1)}, {"E2.TNC", Bytes(3000, 2)}};
    const auto counted = [](SimProcess& sim, const char* what) {
        sim.Stop();
        const std::string& out = sim.Output();
        const size_t at = out.find(what);
        return at == std::string::npos ? -1 : std::stoi(out.substr(at + std::string(what).size()));
    };
    int startUpReads = 0;
    {
        Rig idle(files);
        startUpReads = counted(*idle.sim, "read ");
    }
    {
        Rig rig({});
        QStringList pc;
        for (const auto& [name, data] : files) pc << rig.PcFile(name, data);
        rig.F().AddFiles(pc);
        rig.F().MenuSave->trigger();
        ASSERT_TRUE(rig.Completed(opSaveFile, 1));
        EXPECT_EQ(rig.progress->Total, counted(*rig.sim, "write ")) << "write";
        EXPECT_EQ(rig.progress->Steps, rig.progress->Total);
        EXPECT_EQ(rig.progress->Bar, rig.progress->BarMax);
        EXPECT_EQ(rig.progress->FileBar, rig.progress->FileBarMax);
    }
    {
        Rig rig(files);
        const QString folder = rig.Folder("out");
        rig.F().ExecFolderDialog = [&](QString& f) {
            f = folder;
            return true;
        };
        rig.Select({"E0.TNC", "E1.TNC", "E2.TNC"});
        rig.F().Action5->trigger();
        ASSERT_TRUE(rig.Completed(opLoadFile, 1));
        EXPECT_EQ(rig.progress->Total, counted(*rig.sim, "read ") - startUpReads) << "load";
        EXPECT_EQ(rig.progress->Steps, rig.progress->Total);
        EXPECT_EQ(rig.progress->Bar, rig.progress->BarMax);
        EXPECT_EQ(rig.progress->FileBar, rig.progress->FileBarMax);
    }
    {
        Rig rig(files);
        rig.Select({"E0.TNC", "E1.TNC", "E2.TNC"});
        rig.boxes.Answers = {mrYes};
        rig.F().DelFileFlash->trigger();
        ASSERT_TRUE(rig.Completed(opDeleteFile, 1));
        EXPECT_EQ(rig.progress->Total, counted(*rig.sim, "write ")) << "delete";
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
    const QString folder = rig.Folder("out");
    rig.F().ExecFolderDialog = [&](QString& f) {
        f = folder;
        return true;
    };
    for (const QString& bad : {QStringLiteral("A/B.TNC"), QStringLiteral("C\\D.TNC")}) {
        rig.boxes.Boxes.clear();
        rig.Select({bad, "OK.TNC"});
        rig.F().Action5->trigger();
        ProcessPending(100);
        EXPECT_EQ(rig.Texts(), (std::vector<QString>{QStringLiteral("Имя файла ") + bad +
                                                     QStringLiteral(" непригодно для файла на ПК, файл не загружен")}));
    }
    EXPECT_EQ(rig.log->Count(opLoadFile), 0);
    EXPECT_TRUE(FolderEntries(folder).isEmpty());
}

TEST(Transfers, LinkCheckBringsTheLinkAndTheListBackAfterAHangUp) {
    TempDir dir;
    const std::string image = dir.File("medium.img");
    const std::string link = dir.File("port");
    WriteFormattedImage(image, {{"BACK.TNC", "x"}});
    auto sim = std::make_unique<SimProcess>(std::vector<std::string>{"--image", image, "--link", link});
    TScriptedBoxes boxes;
    TForm1 f(FastOptions(link, &boxes));
    TDoneLog log(f);
    ASSERT_TRUE(WaitForStartUp(log, 2));
    TickToIdle(f);
    sim->Kill();
    ASSERT_TRUE(ProcessUntil([&] { return !f.Driver()->ComPort.EventThreadRunning(); }));
    f.Timer1Timer();  // the hang-up is noticed
    EXPECT_FALSE(f.LinkUp());
    EXPECT_EQ(f.LinkLamp(), lampBlack);
    EXPECT_EQ(f.ListBox1->count(), 0);
    EXPECT_EQ(f.Action8->text(), QStringLiteral("Освободить &порт"));

    sim = std::make_unique<SimProcess>(std::vector<std::string>{"--image", image, "--link", link});
    const int lists = log.Count(opReadDir);
    f.Timer1Timer();  // opens the port again and asks the device
    ASSERT_TRUE(ProcessUntil([&] { return log.Count(opReadDir) > lists; }));
    EXPECT_TRUE(f.LinkUp());
    EXPECT_EQ(f.LinkLamp(), lampGreen);
    ASSERT_EQ(f.ListBox1->count(), 1);
    EXPECT_EQ(f.MyListBox()->DisplayName(0), QStringLiteral("BACK.TNC"));
    EXPECT_TRUE(boxes.Boxes.empty());
}
