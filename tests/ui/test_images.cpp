// The window on a medium image file (skarvel --image), its whole-medium
// backup and restore, and the transfer journal it keeps.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTableWidget>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "core/cp1251.h"
#include "core/journal.h"
#include "core/sha256.h"
#include "flashfs/fs_flash.h"
#include "flashfs/image_transport.h"
#include "tests/sim_process.h"
#include "tests/ui/ui_test_support.h"
#include "tests/volume_check.h"
#include "ui/journal_form.h"
#include "ui/my_list_box.h"
#include "ui/progress_form.h"
#include "ui/transfer_runner.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

using TRows = std::vector<std::pair<QString, bool>>;

// A window on an image file holding files, its journal in the scratch
// folder, started up and idle.
struct ImageWindow : Window {
    std::string journal = dir.File("state/journal.log");

    explicit ImageWindow(const TFiles& files) : Window(nullptr) {
        WriteFormattedImage(image, files);
        Start();
    }
    void Start() {
        TFormOptions options;
        options.Image = image;
        options.JournalPath = journal;
        options.Messages = &boxes;
        options.StartTimer = false;
        form = std::make_unique<TForm1>(options);
        log = std::make_unique<TDoneLog>(*form);
        progress = std::make_unique<TProgressLog>(*form);
        EXPECT_TRUE(Completed(opInit, 1));
        TickToIdle(*form);
    }
    std::vector<TJournalEntry> Journal() {
        std::vector<TJournalEntry> entries;
        size_t damaged = 0;
        std::string error;
        EXPECT_TRUE(ReadJournal(journal, entries, damaged, error)) << error;
        EXPECT_EQ(damaged, 0u);
        return entries;
    }
    // What the image holds now (the window keeps it open).
    VolumeReport Image() { return CheckVolume(ReadFileBytes(image)); }
    void ImageDialog(const std::string& path) {
        form->ExecImageDialog = [path](bool) { return QString::fromStdString(path); };
    }
};

std::string Sha(const std::string& s) { return TSha256::Of(s.data(), s.size()); }

std::vector<std::string> Names(const VolumeReport& r) {
    std::vector<std::string> out;
    for (const auto& [name, data] : r.Files) out.push_back(Cp1251ToUtf8(name));
    return out;
}

}  // namespace

// Every command of the window works on the image as on the device, and
// each moved file, delete, replace and format is in the journal with the
// hash of the bytes moved.
TEST(ImageWindow, CommandsWorkOnTheImageAndAreJournalled) {
    ImageWindow w({{"PROG.TNC", Bytes(3000, 1)}, {"OLD.TNC", Bytes(100, 2)}});
    EXPECT_EQ(w.F().Driver(), nullptr);
    EXPECT_EQ(w.F().windowTitle(), QStringLiteral("Skarvel — образ medium.img"));
    EXPECT_EQ(w.Rows(), (TRows{{"PROG.TNC", true}, {"OLD.TNC", true}}));

    const std::string data = Bytes(20000, 3);
    const QString pc = w.PcFile("new.tnc", data);
    w.F().AddFiles({pc});
    w.F().MenuSave->trigger();
    ASSERT_TRUE(w.Completed(opSaveFile, 1));
    TickToIdle(w.F());
    const QString folder = w.LoadFolder("out");
    w.Select({"PROG.TNC"});
    w.F().Action5->trigger();
    ASSERT_TRUE(w.Completed(opLoadFile, 1));
    TickToIdle(w.F());
    EXPECT_EQ(ReadAll(folder + "PROG.TNC"), Bytes(3000, 1));
    w.boxes.Answers = {mrYes};
    w.Select({"OLD.TNC"});
    w.F().DelFileFlash->trigger();
    ASSERT_TRUE(w.Completed(opDeleteFile, 1));
    TickToIdle(w.F());
    w.boxes.Answers = {mrYes};
    w.F().AddFiles({w.PcFile("prog.tnc", Bytes(10, 4))});  // to replace PROG.TNC
    w.F().MenuSave->trigger();
    ASSERT_TRUE(w.Completed(opSaveFile, 2));
    TickToIdle(w.F());

    const VolumeReport medium = w.Image();
    EXPECT_TRUE(medium.Problems.empty());
    EXPECT_EQ(Names(medium), (std::vector<std::string>{"NEW.TNC", "PROG.TNC"}));

    const std::vector<TJournalEntry> j = w.Journal();
    ASSERT_EQ(j.size(), 4u);
    const std::string line = "образ " + w.image;
    EXPECT_EQ(j[0].Operation, "запись");
    EXPECT_EQ(j[0].Name, "NEW.TNC");
    EXPECT_EQ(j[0].PcPath, pc.toStdString());
    EXPECT_EQ(j[0].Size, data.size());
    EXPECT_EQ(j[0].Sha256, Sha(data));
    EXPECT_EQ(j[0].Result, "успешно");
    EXPECT_EQ(j[0].Port, line);
    EXPECT_EQ(j[1].Operation, "загрузка");
    EXPECT_EQ(j[1].PcPath, (folder + "PROG.TNC").toStdString());
    EXPECT_EQ(j[1].Sha256, Sha(Bytes(3000, 1)));
    EXPECT_EQ(j[2].Operation, "удаление");
    EXPECT_EQ(j[2].Name, "OLD.TNC");
    EXPECT_EQ(j[2].Sha256, "");
    EXPECT_EQ(j[3].Operation, "замена");
    EXPECT_EQ(j[3].Name, "PROG.TNC");
    EXPECT_EQ(j[3].Size, 10u);
    EXPECT_EQ(j[3].Sha256, Sha(Bytes(10, 4)));

    w.boxes.Answers = {mrYes};
    w.F().Action2->trigger();
    ASSERT_TRUE(w.Completed(opFormat, 1));
    EXPECT_EQ(w.Journal().back().Operation, "форматирование");
    EXPECT_EQ(w.Journal().back().Result, "успешно");
}

TEST(ImageWindow, BackupThenRestoreRoundTripAndBothJournalled) {
    ImageWindow w({{"A.TNC", Bytes(5000, 1)}, {"B.TNC", Bytes(70000, 2)}});
    const std::vector<uint8_t> original = ReadFileBytes(w.image);
    const std::string backup = w.dir.File("backup.img");
    w.ImageDialog(backup);
    w.F().SaveImageAc->trigger();
    ASSERT_TRUE(w.Completed(opBackupMedium, 1));
    TickToIdle(w.F());
    EXPECT_EQ(ReadFileBytes(backup), original);
    // The mount's boot sector and FAT, then every sector.
    EXPECT_EQ(w.progress->Total, 1 + 5 + 4096);
    EXPECT_EQ(w.progress->Steps, 1 + 5 + 4096);
    EXPECT_EQ(w.Texts().back(), QStringLiteral("Образ носителя сохранён в файл ") + QString::fromStdString(backup));

    // The medium changes, then comes back from the image.
    w.boxes.Answers = {mrYes};
    w.Select({"A.TNC"});
    w.F().DelFileFlash->trigger();
    ASSERT_TRUE(w.Completed(opDeleteFile, 1));
    TickToIdle(w.F());
    EXPECT_NE(ReadFileBytes(w.image), original);
    const int lists = w.log->Count(opReadDir);
    w.boxes.Answers = {mrYes};
    w.F().RestoreImageAc->trigger();
    ASSERT_TRUE(w.Completed(opRestoreMedium, 1));
    ASSERT_TRUE(w.Completed(opReadDir, lists + 1));
    EXPECT_EQ(ReadFileBytes(w.image), original);
    EXPECT_EQ(w.Rows(), (TRows{{"A.TNC", true}, {"B.TNC", true}}));
    const auto& asked = w.boxes.Boxes[w.boxes.Boxes.size() - 2];
    EXPECT_EQ(asked.Buttons, mbYes | mbNo | mbSafeDefault);
    EXPECT_TRUE(asked.Text.startsWith(QStringLiteral("Восстановить носитель из образа "))) << asked.Text.toStdString();
    EXPECT_EQ(w.Texts().back(), QStringLiteral("Носитель восстановлен из образа ") + QString::fromStdString(backup));

    const std::vector<TJournalEntry> j = w.Journal();
    ASSERT_EQ(j.size(), 3u);
    const std::string sha = TSha256::Of(original.data(), original.size());
    EXPECT_EQ(j[0].Operation, "сохранение образа");
    EXPECT_EQ(j[0].PcPath, backup);
    EXPECT_EQ(j[0].Size, original.size());
    EXPECT_EQ(j[0].Sha256, sha);
    EXPECT_EQ(j[2].Operation, "восстановление из образа");
    EXPECT_EQ(j[2].Sha256, sha);
    EXPECT_EQ(j[2].Result, "успешно");

    // A backup onto an image that exists asks first; Return keeps the file.
    WriteFileBytes(backup, {1, 2, 3});
    w.boxes.Answers.clear();
    TickToIdle(w.F());
    w.F().SaveImageAc->trigger();
    ProcessPending();
    EXPECT_TRUE(w.boxes.Boxes.back().Text.contains(QStringLiteral("уже существует")));
    EXPECT_EQ(BoxKeys(w.boxes.Boxes.back().Buttons).Default, mbNo);
    EXPECT_EQ(w.log->Count(opBackupMedium), 1);
    EXPECT_EQ(ReadFileBytes(backup), (std::vector<uint8_t>{1, 2, 3}));
}

TEST(ImageWindow, RestoreRefusedOrDeclinedWritesNothing) {
    ImageWindow w({{"A.TNC", Bytes(500, 1)}});
    const std::vector<uint8_t> before = ReadFileBytes(w.image);
    const std::string blank = w.dir.File("blank.img");
    WriteFileBytes(blank, std::vector<uint8_t>(0x200000, 0));
    const std::string small = w.dir.File("small.img");
    WriteFileBytes(small, std::vector<uint8_t>(before.begin(), before.begin() + 0x100000));
    for (const std::string& image : {blank, small}) {
        w.boxes.Boxes.clear();
        w.ImageDialog(image);
        w.F().RestoreImageAc->trigger();
        ASSERT_EQ(w.boxes.Boxes.size(), 1u);
        EXPECT_EQ(w.boxes.Boxes[0].Buttons, 0u) << "refused without a question";
        EXPECT_TRUE(w.Texts()[0].contains(QStringLiteral("не подходит к этому носителю"))) << w.Texts()[0].toStdString();
    }
    // The question's default, No, keeps the medium.
    const std::string good = w.dir.File("good.img");
    WriteFileBytes(good, before);
    w.ImageDialog(good);
    w.boxes.Answers.clear();
    w.boxes.Boxes.clear();
    w.F().RestoreImageAc->trigger();
    ProcessPending();
    ASSERT_EQ(w.boxes.Boxes.size(), 1u);
    EXPECT_EQ(BoxKeys(w.boxes.Boxes[0].Buttons).Default, mbNo) << "Return keeps the medium";
    EXPECT_EQ(w.log->Count(opRestoreMedium), 0);
    EXPECT_EQ(ReadFileBytes(w.image), before);
    EXPECT_TRUE(w.Journal().empty());
}

TEST(ImageWindow, CancelledRestoreSaysTheMediumIsIncomplete) {
    ImageWindow w({{"A.TNC", Bytes(500, 1)}});
    const std::string backup = w.dir.File("backup.img");
    WriteFileBytes(backup, ReadFileBytes(w.image));
    w.ImageDialog(backup);
    // The user's cancel as the worker sees it, a few hundred writes in (an
    // image file is written faster than any window could be pressed).
    TImageTransport& transport = dynamic_cast<TImageWorker&>(w.F().Worker()).Image;
    const std::function<void()> notify = transport.OnWriteSector;
    int writes = 0;
    transport.OnWriteSector = [&, notify] {
        notify();
        if (++writes == 300) w.F().Worker().FAbort = true;
    };
    w.boxes.Answers = {mrYes};
    w.F().RestoreImageAc->trigger();
    const int inits = w.log->Count(opInit);
    ASSERT_TRUE(w.Completed(opRestoreMedium, 1));
    ASSERT_TRUE(w.Completed(opInit, inits + 1));
    TickToIdle(w.F());
    EXPECT_TRUE(w.Texts().back().contains(QStringLiteral("неполон"))) << w.Texts().back().toStdString();
    EXPECT_TRUE(w.Texts().back().contains(QStringLiteral("отформатируйте")));
    EXPECT_FALSE(w.Image().Formatted);
    EXPECT_TRUE(w.Rows().empty());
    EXPECT_EQ(w.Journal().back().Result, "операция прервана пользователем");
    // Restored again, the medium is whole.
    transport.OnWriteSector = notify;
    w.boxes.Answers = {mrYes};
    w.F().RestoreImageAc->trigger();
    ASSERT_TRUE(w.Completed(opRestoreMedium, 2));
    EXPECT_EQ(ReadFileBytes(w.image), ReadFileBytes(backup));
}

TEST(ImageWindow, JournalWindowNewestFirstWithAFilterAndAWarningOnce) {
    ImageWindow w({{"PROG.TNC", Bytes(300, 1)}, {ToCp1251("ДЕТАЛЬ.ISO"), Bytes(30, 2)}});
    const QString folder = w.LoadFolder("out");
    for (const char* name : {"PROG.TNC", "ДЕТАЛЬ.ISO"}) {
        w.Select({QString::fromUtf8(name)});
        w.F().Action5->trigger();
        TickToIdle(w.F());
    }
    ASSERT_TRUE(w.Completed(opLoadFile, 2));
    w.F().JournalAc->trigger();
    TJournalForm* form = w.F().JournalWindow();
    ASSERT_NE(form, nullptr);
    EXPECT_TRUE(form->isVisible());
    ASSERT_EQ(form->VisibleRows(), 2);
    EXPECT_EQ(form->Table->item(0, 4)->text(), QStringLiteral("ДЕТАЛЬ.ISO"));
    form->Filter->setText(QStringLiteral("деталь"));
    EXPECT_EQ(form->VisibleRows(), 1);
    form->Filter->setText(QStringLiteral("NONE"));
    EXPECT_EQ(form->VisibleRows(), 0);
    form->close();

    // A journal that cannot be written: one warning, and the loads go on.
    QFile::remove(QString::fromStdString(w.journal));
    QDir().mkpath(QString::fromStdString(w.journal));  // a folder where the file should be
    w.boxes.Boxes.clear();
    for (int i = 0; i < 2; ++i) {
        w.boxes.Answers = {mrYes};  // over the copy loaded before
        w.Select({"PROG.TNC"});
        w.F().Action5->trigger();
        TickToIdle(w.F());
    }
    ASSERT_TRUE(w.Completed(opLoadFile, 4));
    ProcessPending();
    int warnings = 0;
    for (const QString& t : w.Texts()) warnings += t.contains(QStringLiteral("журнал передач не записывается"));
    EXPECT_EQ(warnings, 1);
    EXPECT_EQ(ReadAll(folder + "PROG.TNC"), Bytes(300, 1));
}
