// The transfer runner without a window: its loops of delete, write and load
// against the in-memory medium, with a recording stand-in for the list's
// rows. Checked: each loop's result, where every file of the job stands
// afterwards, the row changes, the per-file and per-sector reports, what the
// medium and the PC folder hold, and cancels between files and at a sector.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/cp1251.h"
#include "flashfs/fs_flash.h"
#include "tests/mem_medium.h"
#include "tests/sim_process.h"
#include "tests/ui/ui_test_support.h"
#include "tests/volume_check.h"
#include "ui/pc_files.h"
#include "ui/transfer_runner.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

using Strings = std::vector<std::string>;
using TFileMap = std::map<std::string, std::string>;

// The list's rows, as calls: "remove NAME" and "medium NAME SIZE".
class TRecordingRows : public TTransferRows {
public:
    Strings Calls;
    std::function<void()> AfterChange;  // called after each change

    void RemoveRow(const QString& name) override { Add("remove " + name.toStdString()); }
    void MediumRow(const QString& name, const QString& shown, uint32_t size) override {
        Add("medium " + name.toStdString() + " " + std::to_string(size) +
            (shown != name ? " as " + shown.toStdString() : std::string()));
    }
    void OldCopyGone(const QString& name) override { Add("old gone " + name.toStdString()); }

private:
    void Add(const std::string& call) {
        Calls.push_back(call);
        if (AfterChange) AfterChange();
    }
};

// A file of a job as the window describes it: its row's size and PC path.
TTransferFile File(TFileAction action, const char* name, uint32_t listed = 0, const QString& pcPath = {}) {
    TTransferFile file;
    file.Action = action;
    file.Name = QString::fromUtf8(name);
    std::string medium;
    if (Utf8ToCp1251(name, medium)) file.MediumName = medium;
    file.Listed = true;
    file.ListedSize = listed;
    file.PcPath = pcPath;
    return file;
}

// Where each file of the job stands: "done", "waiting" or "failed CODE".
Strings States(const TTransferJob& job) {
    Strings out;
    for (const TTransferFile& f : job.Files) {
        switch (f.State) {
            case TFileState::Waiting: out.push_back("waiting"); break;
            case TFileState::Done: out.push_back("done"); break;
            case TFileState::Failed: out.push_back("failed " + std::to_string(f.Result.Code())); break;
            case TFileState::Skipped: out.push_back("skipped"); break;
        }
    }
    return out;
}

struct RunnerFixture : ::testing::Test {
    TMemMedium medium;
    TFlash flash;
    TWorkerReports reports;
    TRecordingRows rows;
    TTransferRunner runner{flash, rows, reports};
    TempDir dir;
    bool guiGone = false;  // the GUI thread takes no more calls
    int handOvers = 0;
    // Called at every sector frame, after the runner has seen it.
    std::function<void(uint8_t cmd)> OnSector;

    RunnerFixture() {
        medium.Attach(flash);
        runner.OnGui = [this](const std::function<void()>& fn) {
            if (guiGone) return false;
            fn();
            return true;
        };
        runner.OnReports = [this] { ++handOvers; };
        EXPECT_EQ(runner.Execute(opFormat, nullptr), feOk);
        // The driver's notifications: one per sector frame.
        medium.OnExchange = [this](uint8_t cmd, uint16_t) {
            if (cmd == cmdReadSector) runner.Sector(lampYellow);
            if (cmd == cmdWriteSector) runner.Sector(lampRed);
            if (OnSector && cmd != cmdIdentify) OnSector(cmd);
        };
    }

    void Put(const TFiles& files) {
        for (const auto& [name, data] : files)
            ASSERT_EQ(flash.SaveFile(name.c_str(), data.data(), 0, static_cast<uint32_t>(data.size())), feOk) << name;
        reports.Take();
        reports.Release();
        handOvers = 0;
    }
    QString PcFile(const std::string& name, const std::string& data) {
        WriteFileBytes(dir.File(name), std::vector<uint8_t>(data.begin(), data.end()));
        return QString::fromStdString(dir.File(name));
    }
    QString Folder(const std::string& name) {
        QDir().mkpath(QString::fromStdString(dir.File(name)));
        return QString::fromStdString(dir.File(name)) + QLatin1Char('/');
    }
    std::unique_ptr<TTransferJob> Job(uint8_t op, std::vector<TTransferFile> files, const QString& folder = {}) {
        auto job = std::make_unique<TTransferJob>();
        job->Op = op;
        job->Id = 7;
        job->Files = std::move(files);
        job->TargetFolder = folder;
        return job;
    }
    uint8_t Run(TTransferJob& job) { return runner.Execute(job.Op, &job).Code(); }
    // The medium's files by the independent checker, which must find the
    // volume consistent.
    TFileMap OnMedium() {
        const VolumeReport r = CheckVolume(medium.Bytes());
        EXPECT_TRUE(r.Problems.empty()) << r.Problems.front();
        TFileMap out;
        for (const auto& [name, data] : r.Files) out[Cp1251ToUtf8(name)] = std::string(data.begin(), data.end());
        return out;
    }
    // The file starts reported since the last call: (expected sectors, caption).
    std::vector<std::pair<int, QString>> FileStarts() {
        std::vector<std::pair<int, QString>> out;
        for (const TProgressReport& r : reports.Take().Progress)
            if (r.What == TProgressReport::FileStart) out.emplace_back(r.Count, r.Text);
        return out;
    }
};

}  // namespace

TEST_F(RunnerFixture, DeleteRemovesEachRowWhateverTheResult) {
    struct Case {
        const char* What;
        TFiles Before;
        std::vector<const char*> Names;
        uint8_t Result;
        Strings States, Rows;
        TFileMap Left;
    } cases[] = {
        {"every file there", {{"A.TNC", "a"}, {"B.TNC", "b"}}, {"A.TNC", "B.TNC"}, feOk, {"done", "done"},
         {"remove A.TNC", "remove B.TNC"}, {}},
        {"a file gone from the medium stops the job",
         {{"A.TNC", "a"}, {"C.TNC", "c"}}, {"A.TNC", "B.TNC", "C.TNC"}, feNotFound,
         {"done", "failed 5", "waiting"}, {"remove A.TNC", "remove B.TNC"}, {{"C.TNC", "c"}}},
        {"a name with no spelling on the medium", {{"A.TNC", "a"}}, {"\xE6\x97\xA5.TNC", "A.TNC"}, feBadName,
         {"failed 2", "waiting"}, {"remove \xE6\x97\xA5.TNC"}, {{"A.TNC", "a"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        ASSERT_EQ(runner.Execute(opFormat, nullptr), feOk);
        Put(c.Before);
        rows.Calls.clear();
        std::vector<TTransferFile> files;
        for (const char* name : c.Names) files.push_back(File(TFileAction::Delete, name));
        auto job = Job(opDeleteFile, files);
        EXPECT_EQ(Run(*job), c.Result);
        EXPECT_EQ(States(*job), c.States);
        EXPECT_EQ(rows.Calls, c.Rows);
        EXPECT_EQ(OnMedium(), c.Left);
        EXPECT_EQ(FileStarts().front(),
                  std::make_pair(int(runner.Geometry().DeleteTransfers()), QStringLiteral("Удаление ") + job->Files[0].Name));
    }
}

TEST_F(RunnerFixture, WriteTurnsRowsIntoTheMediumsAndStopsAtTheFirstFailure) {
    const std::string a = Bytes(3000, 1), c = Bytes(100, 3);
    const QString pa = PcFile("a.lst", a), pc = PcFile("c.lst", c);
    const QString gone = QString::fromStdString(dir.File("gone.lst"));
    const QString huge = PcFile("huge.lst", Bytes(2200000, 4));
    using A = TFileAction;
    struct Case {
        const char* What;
        std::vector<TTransferFile> Files;
        uint8_t Result;
        QString Current;  // the file the completion names
        Strings States, Rows;
        TFileMap Medium;
    } cases[] = {
        // The row takes the size read now, not the one the list showed.
        {"every file written", {File(A::Write, "a.lst", 10, pa), File(A::Write, "c.lst", 100, pc)}, feOk, "c.lst",
         {"done", "done"}, {"medium a.lst 3000 as A.LST", "medium c.lst 100 as C.LST"}, {{"A.LST", a}, {"C.LST", c}}},
        {"a PC file gone: named by its path, the rest waits",
         {File(A::Write, "a.lst", 3000, pa), File(A::Write, "gone.lst", 5, gone), File(A::Write, "c.lst", 100, pc)},
         pcMissing, gone, {"done", "failed 15", "waiting"}, {"medium a.lst 3000 as A.LST"}, {{"A.LST", a}}},
        {"a row without a PC file: named by its name", {File(A::Write, "x.lst", 5)}, pcMissing, "x.lst",
         {"failed 15"}, {}, {}},
        {"a file the medium has no room for", {File(A::Write, "huge.lst", 0, huge), File(A::Write, "c.lst", 100, pc)},
         feNoRoom, "huge.lst", {"failed 6", "waiting"}, {}, {}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.What);
        ASSERT_EQ(runner.Execute(opFormat, nullptr), feOk);
        rows.Calls.clear();
        auto job = Job(opSaveFile, k.Files);
        EXPECT_EQ(Run(*job), k.Result);
        EXPECT_EQ(runner.CurrentFile(), k.Current);
        EXPECT_EQ(States(*job), k.States);
        EXPECT_EQ(rows.Calls, k.Rows);
        EXPECT_EQ(OnMedium(), k.Medium);
    }
}

TEST_F(RunnerFixture, LoadWritesWholeFilesOrLeavesTheFolderAsItWas) {
    const TFiles files = {{"P1.TNC", Bytes(5000, 1)}, {"P2.ISO", ""}, {"P3.LST", Bytes(4096, 3)}};
    Put(files);
    using A = TFileAction;
    const std::vector<TTransferFile> all = {File(A::Load, "P1.TNC", 5000), File(A::Load, "P2.ISO", 0),
                                            File(A::Load, "P3.LST", 4096)};
    struct Case {
        const char* What;
        std::vector<TTransferFile> Files;
        size_t FailExchange;  // 0: none; else the n-th exchange of the job goes unanswered
        bool FolderExists;
        uint8_t Result;
        Strings States;
        TFileMap Folder;  // what the folder holds afterwards (an older P1.TNC was there)
    } cases[] = {
        {"every file, an older copy replaced", all, 0, true, feOk, {"done", "done", "done"},
         {{"P1.TNC", files[0].second}, {"P2.ISO", ""}, {"P3.LST", files[2].second}}},
        {"the device stops answering inside the first file", all, 6, true, feLinkLost,
         {"failed 9", "waiting", "waiting"}, {{"P1.TNC", "an older copy"}}},
        {"a name that would leave the folder", {File(A::Load, "A/B.TNC", 1)}, 0, true, feBadName, {"failed 2"},
         {{"P1.TNC", "an older copy"}}},
        {"a folder that is not there", {File(A::Load, "P2.ISO", 0)}, 0, false, pcWriteFailed, {"failed 13"}, {}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        const QString folder = Folder("out" + std::to_string(++n));
        if (c.FolderExists) {
            QFile older(folder + "P1.TNC");
            ASSERT_TRUE(older.open(QIODevice::WriteOnly));
            older.write("an older copy");
        } else {
            QDir(folder).removeRecursively();
        }
        medium.ClearLog();
        if (c.FailExchange) medium.FailNth(c.FailExchange, 1);
        auto job = Job(opLoadFile, c.Files, folder);
        EXPECT_EQ(Run(*job), c.Result);
        EXPECT_EQ(States(*job), c.States);
        TFileMap held;
        for (const QString& name : FolderEntries(folder)) held[name.toStdString()] = ReadAll(folder + name);
        EXPECT_EQ(held, c.Folder);
        if (c.Result == feBadName) {
            EXPECT_TRUE(medium.Log().empty());
        }
        if (c.Result == pcWriteFailed) {
            EXPECT_EQ(runner.CurrentFile(), folder + "P2.ISO");
        }
        medium.ClearFaults();
    }
    EXPECT_TRUE(rows.Calls.empty());  // a load changes no row
}

TEST_F(RunnerFixture, CancelStopsBetweenFilesAndAtASector) {
    const std::string a = Bytes(3000, 1);
    const QString pa = PcFile("a.lst", a), pc = PcFile("c.lst", Bytes(100, 3));
    const QString big = PcFile("big.lst", Bytes(300000, 2));
    using A = TFileAction;
    enum When { BeforeTheJob, AfterTheFirstRow, AtTheFifthSector, GuiGone };
    struct Case {
        const char* What;
        When Cancel;
        std::vector<TTransferFile> Files;
        Strings States, Rows;
        TFileMap Medium;
    } cases[] = {
        // The first file is started all the same and stops at its first cluster.
        {"before the job", BeforeTheJob, {File(A::Write, "a.lst", 3000, pa), File(A::Write, "c.lst", 100, pc)},
         {"failed 11", "waiting"}, {}, {}},
        {"between files", AfterTheFirstRow, {File(A::Write, "a.lst", 3000, pa), File(A::Write, "c.lst", 100, pc)},
         {"done", "waiting"}, {"medium a.lst 3000 as A.LST"}, {{"A.LST", a}}},
        {"inside a write", AtTheFifthSector, {File(A::Write, "big.lst", 300000, big), File(A::Write, "c.lst", 100, pc)},
         {"failed 11", "waiting"}, {}, {}},
        // The window went away: the file is on the medium, its row is not.
        {"no GUI to change the row", GuiGone, {File(A::Write, "a.lst", 3000, pa), File(A::Write, "c.lst", 100, pc)},
         {"done", "waiting"}, {}, {{"A.LST", a}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        ASSERT_EQ(runner.Execute(opFormat, nullptr), feOk);
        rows.Calls.clear();
        auto job = Job(opSaveFile, c.Files);
        job->Cancel = c.Cancel == BeforeTheJob;
        guiGone = c.Cancel == GuiGone;
        rows.AfterChange = [&] { job->Cancel = job->Cancel || c.Cancel == AfterTheFirstRow; };
        int sectors = 0;
        OnSector = [&](uint8_t) { job->Cancel = job->Cancel || (c.Cancel == AtTheFifthSector && ++sectors == 5); };
        EXPECT_EQ(Run(*job), feAborted);
        EXPECT_EQ(States(*job), c.States);
        EXPECT_EQ(rows.Calls, c.Rows);
        EXPECT_EQ(OnMedium(), c.Medium);
        EXPECT_EQ(FileStarts().size(), 1u);  // the second file was never started
        OnSector = nullptr;
        rows.AfterChange = nullptr;
    }
}

TEST_F(RunnerFixture, ProgressCountsTheSectorsEachJobMoves) {
    // Sizes around the cluster (2048 bytes): empty, exactly one, part of two.
    const TFiles files = {{"E0.TNC", ""}, {"E1.TNC", Bytes(2048, 1)}, {"E2.TNC", Bytes(3000, 2)}};
    std::vector<TTransferFile> writes, loads, deletes;
    for (const auto& [name, data] : files) {
        const auto size = static_cast<uint32_t>(data.size());
        writes.push_back(File(TFileAction::Write, name.c_str(), size, PcFile(name, data)));
        loads.push_back(File(TFileAction::Load, name.c_str(), size));
        deletes.push_back(File(TFileAction::Delete, name.c_str(), size));
    }
    const QString folder = Folder("out");
    struct Case {
        const char* What;
        uint8_t Op;
        std::vector<TTransferFile> Files;
        uint8_t Counted;  // the frames the bars count
    } cases[] = {
        {"write", opSaveFile, writes, cmdWriteSector},
        {"load", opLoadFile, loads, cmdReadSector},
        {"delete", opDeleteFile, deletes, cmdWriteSector},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        medium.ClearLog();
        handOvers = 0;
        auto job = Job(c.Op, c.Files, folder);
        ASSERT_EQ(Run(*job), feOk);
        int moved = 0;
        for (const TExchangeRecord& r : medium.Log()) moved += r.Cmd == c.Counted;
        const TReportBatch batch = reports.Take();
        int steps = 0, fileTotals = 0;
        QStringList captions;
        for (const TProgressReport& r : batch.Progress) {
            EXPECT_EQ(r.Job, job->Id);
            if (r.What == TProgressReport::Step) steps += r.Count;
            if (r.What == TProgressReport::FileStart) {
                fileTotals += r.Count;
                captions << r.Text;
            }
        }
        EXPECT_EQ(steps, moved);
        EXPECT_EQ(fileTotals, moved);
        EXPECT_EQ(int(runner.Geometry().JobTransfers(*job)), moved);
        EXPECT_EQ(captions.size(), 3);
        EXPECT_EQ(batch.Progress.back().What, TProgressReport::Finish);
        EXPECT_TRUE(batch.Sector);
        // One hand-over while nobody takes; taking gives it back.
        EXPECT_EQ(handOvers, 1);
        EXPECT_TRUE(reports.Release());
    }
}

TEST_F(RunnerFixture, TheListAndTheGeometryOutliveTheirRequests) {
    const TTransferGeometry formatted = runner.Geometry();
    EXPECT_GT(formatted.Volume.SectorsPerCluster, 0u);
    EXPECT_GT(formatted.Volume.SectorsPerFAT, 0u);
    Put({{"A.TNC", "abc"}, {"B.LST", ""}});
    ASSERT_EQ(runner.Execute(opReadDir, nullptr), feOk);
    flash.FFiles.Clear();  // the next request's work
    const TFileList listed = runner.ListedFiles();
    ASSERT_EQ(listed.Count(), 2);
    EXPECT_EQ(listed.Strings(0), "A.TNC");
    EXPECT_EQ(listed.Sizes(0), 3);
    EXPECT_EQ(listed.Strings(1), "B.LST");

    // A failed initialisation keeps the geometry the bars count with.
    medium.IdentifyResult = 1;
    EXPECT_EQ(runner.Execute(opInit, nullptr), feNoAnswer);
    EXPECT_EQ(runner.Geometry().Volume.SectorsPerCluster, formatted.Volume.SectorsPerCluster);
    EXPECT_EQ(runner.Geometry().Volume.SectorsPerFAT, formatted.Volume.SectorsPerFAT);
    EXPECT_EQ(runner.Execute(opRenameFile, nullptr), feUnknownCommand);
}

TEST(TransferRunner, CopyOfAPendingPcFileNamesTheFileThatFailed) {
    TempDir dir;
    const QString source = QString::fromStdString(dir.File("q.lst"));
    WriteFileBytes(dir.File("q.lst"), {'a', 'b'});
    QDir().mkpath(QString::fromStdString(dir.File("out")));
    const QString out = QString::fromStdString(dir.File("out")) + QLatin1Char('/');
    const QString nowhere = QString::fromStdString(dir.File("nowhere")) + QLatin1Char('/');
    const QString gone = QString::fromStdString(dir.File("gone.lst"));
    struct Case {
        QString From, Folder;
        uint8_t Result;
        QString Failed;
    } cases[] = {
        {source, out, 0, ""},
        {gone, out, pcReadFailed, gone},
        {source, nowhere, pcWriteFailed, nowhere + "Q.LST"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.From.toStdString() + " -> " + c.Folder.toStdString());
        QString failed = QStringLiteral("stale");
        EXPECT_EQ(CopyPcFile(c.From, c.Folder, QStringLiteral("Q.LST"), failed).Code(), c.Result);
        EXPECT_EQ(failed, c.Failed);
    }
    EXPECT_EQ(FolderEntries(out), QStringList{"Q.LST"});
    EXPECT_EQ(ReadAll(out + "Q.LST"), "ab");
}

TEST_F(RunnerFixture, ReadBackCatchesAMediumThatStoresAFlippedBit) {
    const std::string a = Bytes(3000, 1);
    const QString pa = PcFile("a.lst", a);
    const TVolumeGeometry g = flash.Geometry();
    const uint16_t firstData = static_cast<uint16_t>(g.ReservedSectors + g.SectorsPerFAT + g.RootDirSectors);
    const uint16_t lastFat = static_cast<uint16_t>(g.ReservedSectors + g.SectorsPerFAT - 1);
    const struct {
        const char* What;
        bool Verify;
        uint16_t Sector;  // where the medium stores one bit wrong
        int Byte;
        TWindowResult Result;
        Strings Rows;
        bool Kept;        // the file stays on the medium
        const char* Said;  // in the report
    } cases[] = {
        {"a bit of the file's data, read back: the copy is deleted", true, firstData, 7, pcVerifyFailed, {}, false,
         "файл удалён с флэш"},
        {"the same without the read-back goes unnoticed", false, firstData, 7, feOk, {"medium a.lst 3000 as A.LST"},
         true, ""},
        {"a FAT entry of no file: named, the file kept", true, lastFat, 511, pcVerifyFailed,
         {"medium a.lst 3000 as A.LST"}, true, "файлов не затрагивает"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        ASSERT_EQ(runner.Execute(opFormat, nullptr), feOk);
        rows.Calls.clear();
        medium.OnStored = [&](uint16_t sector, uint8_t* stored) {
            if (sector == c.Sector) stored[c.Byte] ^= 0x10;
        };
        auto job = Job(opSaveFile, {File(TFileAction::Write, "a.lst", 3000, pa)});
        job->Verify = c.Verify;
        EXPECT_EQ(Run(*job), c.Result.Code());
        medium.OnStored = nullptr;
        EXPECT_EQ(rows.Calls, c.Rows);
        EXPECT_TRUE(job->Files[0].Report.contains(QString::fromUtf8(c.Said))) << job->Files[0].Report.toStdString();
        const VolumeReport r = CheckVolume(medium.Bytes());
        EXPECT_EQ(r.Files.count("A.LST"), c.Kept ? 1u : 0u);
    }
}
