// The pieces the transfers are built from: the progress window, the keys of
// the message boxes, the PC file routines and the worker's report batches.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "flashfs/fs_flash.h"
#include "tests/sim_process.h"
#include "ui/lamps.h"
#include "ui/message_boxes.h"
#include "ui/pc_files.h"
#include "ui/progress_form.h"
#include "ui/worker_reports.h"

using namespace skarvel;
using namespace skarvel::test;

TEST(ProgressWindow, LayoutBarsAndTheWaysToClose) {
    TprogressForm p;
    EXPECT_EQ(p.windowTitle(), QStringLiteral("Прогресс"));
    EXPECT_EQ(p.Button1->text(), QStringLiteral("Отмена"));
    EXPECT_EQ(p.Label1->text(), QStringLiteral("Прогресс"));
    EXPECT_EQ(p.size(), QSize(432, 96));

    // Each bar stops at its maximum; a new file starts its bar from zero.
    p.StartProgress(10);
    p.StartFile(4, QStringLiteral("Запись A.TNC"));
    p.StepProgress(3);
    p.StepProgress(3);
    EXPECT_EQ(p.Label1->text(), QStringLiteral("Запись A.TNC"));
    EXPECT_EQ(p.ProgressBar2->value(), 4);
    EXPECT_EQ(p.ProgressBar1->value(), 6);
    p.StartFile(6, QStringLiteral("Запись B.TNC"));
    p.StepProgress(7);
    EXPECT_EQ(p.ProgressBar2->value(), 6);
    EXPECT_EQ(p.ProgressBar1->value(), 10);

    // Esc, the button and the frame's close button cancel at once
    // (Rejected); the end of the operation closes it with Accepted, also
    // when it comes before the window is shown, and a close after the end
    // changes nothing.
    for (int way = 0; way < 6; ++way) {
        TprogressForm q;
        if (way == 2) q.FinishProgress();
        QTimer::singleShot(0, &q, [&] {
            if (way == 0) QTest::keyClick(&q, Qt::Key_Escape);
            if (way == 1) q.Button1->click();
            if (way == 3) q.FinishProgress();
            if (way == 4) q.close();
            if (way == 5) {
                q.FinishProgress();
                q.close();
            }
        });
        EXPECT_EQ(q.Run(), way < 2 || way == 4 ? QDialog::Rejected : QDialog::Accepted) << way;
        EXPECT_FALSE(q.isVisible()) << way;
    }
}

TEST(DialogFrames, ProgressAndBoxesOfferOnlyCloseWhichAnswersAsEsc) {
    const auto expectCloseOnly = [](const QWidget* w) {
        const Qt::WindowFlags f = w->windowFlags();
        EXPECT_EQ(f & Qt::WindowType_Mask, Qt::Dialog);
        // Without CustomizeWindowHint the window manager picks its own buttons.
        EXPECT_TRUE(f & Qt::CustomizeWindowHint);
        EXPECT_TRUE(f & Qt::WindowCloseButtonHint);
        EXPECT_FALSE(f & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    };
    TprogressForm p;
    expectCloseOnly(&p);

    // A box closed by its frame: a question says No, a message OK.
    const struct {
        unsigned Buttons;
        int Result;
    } boxes[] = {{mbYes | mbNo, mrNo}, {mbYes | mbNo | mbCancel, mrCancel}, {mbOK, mrOk}};
    for (const auto& b : boxes) {
        bool seen = false;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            ASSERT_NE(box, nullptr);
            seen = true;
            expectCloseOnly(box);
            box->close();
        });
        TQtMessageBoxes real;
        EXPECT_EQ(real.Ask(nullptr, QStringLiteral("Удалить?"), TMsgDlgType::Confirmation, b.Buttons), b.Result);
        EXPECT_TRUE(seen);
    }
}

TEST(MessageBoxKeys, ReturnTakesNoOrTheFirstButtonEscTheOneThatBacksOut) {
    struct Row {
        unsigned Buttons;
        TMsgDlgButton Default, Escape;
    };
    const Row rows[] = {
        {mbOK, mbOK, mbOK},
        {mbOK | mbAbort, mbOK, mbAbort},
        {mbYes | mbNo, mbNo, mbNo},
        {mbYes | mbNo | mbAbort, mbNo, mbAbort},
        {mbYes | mbNo | mbNoToAll | mbYesToAll, mbNo, mbNo},
        {mbYes | mbYesToAll, mbYes, mbYes},
        {mbOK | mbCancel, mbOK, mbCancel},
        {mbNoToAll, mbNoToAll, mbNoToAll},
        {0, mbOK, mbOK},
        {mbYes | mbNo | mbSafeDefault, mbNo, mbNo},
        {mbOK | mbCancel | mbSafeDefault, mbCancel, mbCancel},
    };
    for (const Row& r : rows) {
        const TBoxKeys k = BoxKeys(r.Buttons);
        EXPECT_EQ(std::make_pair(k.Default, k.Escape), std::make_pair(r.Default, r.Escape)) << r.Buttons;
    }
}

TEST(PcFiles, WrittenWholeOrNotAtAll) {
    TempDir dir;
    const QString folder = QString::fromStdString(dir.Path()) + QLatin1Char('/');
    const std::vector<uint8_t> data = {'N', '1', '0', '\n'};
    std::vector<uint8_t> back;

    EXPECT_EQ(WritePcFile(folder, QStringLiteral("A.TNC"), data), feOk);
    EXPECT_EQ(ReadPcFile(folder + "A.TNC", back), feOk);
    EXPECT_EQ(back, data);
    EXPECT_EQ(WritePcFile(folder, QStringLiteral("EMPTY.TNC"), {}), feOk);
    EXPECT_EQ(ReadPcFile(folder + "EMPTY.TNC", back), feOk);
    EXPECT_TRUE(back.empty());

    // A target that cannot be replaced stays as it was, with nothing beside it.
    ASSERT_TRUE(QDir().mkdir(folder + "B.TNC"));
    EXPECT_EQ(WritePcFile(folder, QStringLiteral("B.TNC"), data), pcWriteFailed);
    EXPECT_TRUE(QFileInfo(folder + "B.TNC").isDir());
    EXPECT_EQ(WritePcFile(folder + "missing/", QStringLiteral("C.TNC"), data), pcWriteFailed);

    // A symbolic link of the target's name is replaced, never followed out
    // of the folder.
    TempDir outside;
    const QString victim = QString::fromStdString(outside.File("victim"));
    WriteFileBytes(victim.toStdString(), {'o', 'l', 'd'});
    ASSERT_TRUE(QFile::link(victim, folder + "D.TNC"));
    EXPECT_EQ(WritePcFile(folder, QStringLiteral("D.TNC"), data), feOk);
    EXPECT_FALSE(QFileInfo(folder + "D.TNC").isSymLink());
    EXPECT_EQ(ReadFileBytes(victim.toStdString()), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{"A.TNC", "B.TNC", "D.TNC", "EMPTY.TNC"}));

    // Reading: folders and missing files are read failures.
    EXPECT_EQ(ReadPcFile(folder + "B.TNC", back), pcReadFailed);
    EXPECT_EQ(ReadPcFile(folder + "none", back), pcReadFailed);
}

TEST(PcFiles, NamesThatCanStandInTheTargetFolder) {
    // The list's name of a medium file, and its file's name in a PC folder.
    const std::pair<const char*, const char*> cases[] = {
        {"A.TNC", "A.TNC"}, {"ДЕТАЛЬ.LST", "ДЕТАЛЬ.LST"}, {"A B.ISO", "A B.ISO"}, {"..A", "..A"},
        {"N23\\x98.NC", "N23%98.NC"}, {"A\\x5CB", "A%5CB"},
        {"", ""}, {".", ""}, {"..", ""}, {"A/B", ""}, {"A\\B", ""},
    };
    for (const auto& [shown, local] : cases)
        EXPECT_EQ(LocalNameOf(QString::fromUtf8(shown)), QString::fromUtf8(local)) << shown;
}

TEST(WorkerReports, OneHandOverWhileReportsComeAndProgressInOrder) {
    TWorkerReports r;
    EXPECT_TRUE(r.StartFile(1, 9, QStringLiteral("Удаление A")));
    EXPECT_FALSE(r.Sector(lampRed, opSaveFile));
    EXPECT_FALSE(r.Step(1));
    EXPECT_FALSE(r.Step(1));
    EXPECT_FALSE(r.Sector(lampYellow, opLoadFile));
    EXPECT_FALSE(r.StartFile(1, 9, QStringLiteral("Удаление B")));
    EXPECT_FALSE(r.Step(1));
    EXPECT_FALSE(r.Step(2));  // another request's step is not merged
    EXPECT_FALSE(r.Finish(1));
    TReportBatch b = r.Take();
    EXPECT_TRUE(b.Sector);
    EXPECT_EQ(b.Lamp, lampYellow);
    EXPECT_EQ(b.Op, opLoadFile);
    std::vector<std::tuple<int, uint32_t, int>> got;
    for (const auto& p : b.Progress) got.emplace_back(p.What, p.Job, p.Count);
    EXPECT_EQ(got, (std::vector<std::tuple<int, uint32_t, int>>{{TProgressReport::FileStart, 1, 9},
                                                                 {TProgressReport::Step, 1, 2},
                                                                 {TProgressReport::FileStart, 1, 9},
                                                                 {TProgressReport::Step, 1, 1},
                                                                 {TProgressReport::Step, 2, 1},
                                                                 {TProgressReport::Finish, 1, 0}}));
    // The GUI keeps the hand-over while reports come; a take that finds
    // nothing gives it back, and the next report asks again.
    EXPECT_FALSE(r.Step(1));
    EXPECT_FALSE(r.Release());
    EXPECT_FALSE(r.Take().Empty());
    EXPECT_TRUE(r.Take().Empty());
    EXPECT_TRUE(r.Release());
    EXPECT_TRUE(r.Step(1));
}
