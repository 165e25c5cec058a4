#include "ui/transfer_runner.h"

#include <QFileInfo>
#include <QStringList>
#include <new>

#include "flashfs/frame_cost.h"
#include "flashfs/fs_flash.h"
#include "core/cp1251.h"
#include "core/local_name.h"
#include "ui/pc_files.h"

namespace skarvel {

namespace {

// The requests with a job of their own that the progress window follows.
// The name a file has on the medium as the list shows it: a written file's
// name as its entry stores it.
std::string JournalName(const TTransferFile& file) {
    char entry[12];
    if (file.MediumName && MakeEntryName(file.MediumName->c_str(), entry)) return MediumNameToUtf8(DisplayName(entry));
    return file.Name.toStdString();
}

bool MovesFiles(uint8_t op) {
    return op == opDeleteFile || op == opSaveFile || op == opLoadFile || op == opBackupMedium || op == opRestoreMedium;
}

QString FromCp1251(const std::string& text) { return QString::fromStdString(Cp1251ToUtf8(text)); }

QString FaultText(const TSaveFault& f) {
    QString text;
    switch (f.Area) {
        case TSaveArea::Fat: text = QStringLiteral("сектор FAT %1 читается не так, как записан").arg(f.Sector); break;
        case TSaveArea::Directory:
            text = QStringLiteral("сектор каталога %1 читается не так, как записан").arg(f.Sector);
            break;
        case TSaveArea::Data: return QStringLiteral("файл на флэш не совпадает с файлом ПК");
    }
    if (f.Files.empty()) return text + QStringLiteral(" (файлов не затрагивает)");
    QStringList names;
    for (const std::string& n : f.Files) names << QString::fromStdString(MediumNameToUtf8(n));
    return text + QStringLiteral("; затронуты файлы: ") + names.join(QStringLiteral(", "));
}

}  // namespace

QString SaveCheckText(const TSaveCheck& check) {
    QStringList parts;
    for (const TSaveFault& f : check.Faults) parts << FaultText(f);
    return parts.join(QStringLiteral("; "));
}

// ---------------------------------------------------------------- jobs

std::vector<QString> TTransferJob::Undone() const {
    std::vector<QString> names;
    for (const TTransferFile& file : Files)
        if (file.State != TFileState::Done) names.push_back(file.Name);
    return names;
}

int TTransferJob::Count(TFileState state) const {
    int n = 0;
    for (const TTransferFile& file : Files)
        if (file.State == state) ++n;
    return n;
}

// ---------------------------------------------------------------- transfer counts

uint32_t TTransferGeometry::WriteTransfers(uint32_t size) const { return SaveFrames(Volume, size).Writes; }

uint32_t TTransferGeometry::LoadTransfers(uint32_t size) const { return LoadFrames(Volume, size).Reads; }

uint32_t TTransferGeometry::DeleteTransfers() const { return DeleteFrames(Volume).Writes; }

uint32_t TTransferGeometry::VerifyTransfers(uint32_t size) const { return VerifyFrames(Volume, size).Reads; }

// A chain of a few clusters has its FAT entries in one sector: one for the
// new chain, one for the old, and the entry's own sector.
uint32_t TTransferGeometry::ReplaceTransfers(uint32_t size) const {
    if (Volume.SectorsPerCluster == 0) return 0;
    return Volume.SectorsPerCluster * (size / Volume.ClusterBytes() + 1) + 3;
}

// The FAT sector of the new chain, the entry's sector, then the file.
uint32_t TTransferGeometry::VerifyReplaceTransfers(uint32_t size) const {
    if (Volume.SectorsPerCluster == 0) return 0;
    return 2 + LoadTransfers(size);
}

namespace {

uint32_t WriteFileTransfers(const TTransferGeometry& g, bool verify, const TTransferFile& file, uint32_t size) {
    if (file.Replace && !file.DeleteFirst)
        return g.ReplaceTransfers(size) + (verify ? g.VerifyReplaceTransfers(size) : 0);
    return (file.Replace ? g.DeleteTransfers() : 0) + g.WriteTransfers(size) + (verify ? g.VerifyTransfers(size) : 0);
}

}  // namespace

uint32_t TTransferGeometry::FileTransfers(const TTransferJob& job, const TTransferFile& file) const {
    if (!file.Listed) return 0;
    switch (file.Action) {
        case TFileAction::Delete: return DeleteTransfers();
        case TFileAction::Write: return WriteFileTransfers(*this, job.Verify, file, file.ListedSize);
        case TFileAction::Load:
        case TFileAction::Read: return LoadTransfers(file.ListedSize);
    }
    return 0;
}

uint32_t TTransferGeometry::JobTransfers(const TTransferJob& job) const {
    uint32_t total = 0;
    for (const TTransferFile& file : job.Files) total += FileTransfers(job, file);
    return total;
}

TWindowResult CopyPcFile(const QString& path, const QString& folder, const QString& name, QString& failed) {
    std::vector<uint8_t> data;
    failed = path;
    TWindowResult result = ReadPcFile(path, data);
    if (!result.Ok()) return result;
    failed = folder + name;
    result = WritePcFile(folder, name, data);
    if (result.Ok()) failed.clear();
    return result;
}

// ---------------------------------------------------------------- the hook

TTransferRunner::TTransferRunner(TFlash& flash, TTransferRows& rows, TWorkerReports& reports)
    : FFlash(flash), FRows(rows), FReports(reports) {}

TWindowResult TTransferRunner::Execute(uint8_t op, TTransferJob* job) {
    FJob = job;
    SetInternalError(std::string());
    TWindowResult result;
    try {
        result = Dispatch(op, job);
    } catch (const std::bad_alloc&) {
        result = pcNoMemory;
    } catch (const std::exception& e) {
        // Whatever went wrong, the progress window must hear of the end; a
        // fault of this program is called one, never a fault of the device.
        SetInternalError(e.what());
        result = feInternalError;
    } catch (...) {
        SetInternalError(std::string());
        result = feInternalError;
    }
    KeepVolumeFacts(op, result);
    const bool movesFiles = MovesFiles(op) && job;
    if (movesFiles && job->Cancel) result = feAborted;
    if (movesFiles && FReports.Finish(job->Id)) HandOver();
    FJob = nullptr;
    return result;
}

TWindowResult TTransferRunner::Dispatch(uint8_t op, TTransferJob* job) {
    switch (op) {
        case opInit: return FFlash.InitFlash();
        case opFormat: {
            const TFlashError result = FFlash.FormatFlash(FFlash.MediumKind());
            if (job) Record(PlainEntry(TJournalOp::Format, job->Line, "", "", TextOf(result)));
            return result;
        }
        case opReadDir: return FFlash.ReadDir(FFlash.MediumKind(), nullptr);
        case opDeleteFile:
        case opSaveFile:
        case opLoadFile: return job && !job->Files.empty() ? RunFiles(*job) : feOk;
        case opBackupMedium: return job ? Backup(*job) : feUnknownCommand;
        case opRestoreMedium: return job ? Restore(*job) : feUnknownCommand;
        default: return feUnknownCommand;
    }
}

// The list and the geometry outlive the request that read them: the
// completion handler and the next progress totals use them. The free space
// is taken after every request, while the worker still owns the FAT image.
void TTransferRunner::KeepVolumeFacts(uint8_t op, TWindowResult result) {
    std::lock_guard<std::mutex> lock(FMutex);
    FFreeBytes = FFlash.Mounted() ? std::optional<uint64_t>(FFlash.FreeBytes()) : std::nullopt;
    if (op != opInit && op != opFormat && op != opReadDir) return;
    if (op == opReadDir) FListedFiles = FFlash.Files();
    else if (result.Ok()) FGeometry = {FFlash.Geometry()};
}

// One file after the other, until one fails or the user cancels; the first
// file is tried even when the cancel came before it.
TWindowResult TTransferRunner::RunFiles(TTransferJob& job) {
    TWindowResult result;
    for (TTransferFile& file : job.Files) {
        switch (file.Action) {
            case TFileAction::Delete: result = DeleteOne(job, file); break;
            case TFileAction::Write: result = WriteOne(job, file); break;
            case TFileAction::Load: result = LoadOne(job, file); break;
            case TFileAction::Read: result = ReadOne(job, file); break;
        }
        if (file.State != TFileState::Skipped) {
            file.State = result.Ok() ? TFileState::Done : TFileState::Failed;
            file.Result = result;
        }
        if (!result.Ok() || job.Cancel) break;
    }
    return result;
}

void TTransferRunner::ChangeRows(TTransferJob& job, const std::function<void()>& change) {
    // The window is going away: nothing more is done for it.
    if (!OnGui || !OnGui(change)) job.Cancel = true;
}

void TTransferRunner::ReportFileStart(const TTransferJob& job, uint32_t total, const QString& text) {
    if (FReports.StartFile(job.Id, static_cast<int>(total), text)) HandOver();
}

void TTransferRunner::HandOver() {
    if (OnReports) OnReports();
}

void TTransferRunner::Record(const TJournalEntry& entry) {
    if (Journal) Journal->Append(entry);
}

std::string TTransferRunner::TextOf(TWindowResult result) const {
    if (result.Ok()) return JournalSuccess;
    return ResultText ? ResultText(result.Code()) : "код " + std::to_string(result.Code());
}

// ---------------------------------------------------------------- the loops' steps

TWindowResult TTransferRunner::DeleteOne(TTransferJob& job, const TTransferFile& file) {
    SetCurrentFile(file.Name);
    ReportFileStart(job, Geometry().DeleteTransfers(), QStringLiteral("Удаление ") + file.Name);
    const TFlashError result =
        file.MediumName ? FFlash.DeleteFile(file.MediumName->c_str(), FFlash.MediumKind()) : feBadName;
    Record(PlainEntry(TJournalOp::Delete, job.Line, file.Name.toStdString(), "",
                      TextOf(result)));
    ChangeRows(job, [&] { FRows.RemoveRow(file.Name); });
    return result;
}

TWindowResult TTransferRunner::WriteOne(TTransferJob& job, TTransferFile& file) {
    // The PC file may have gone since it was chosen: the window asks whether
    // to go on without it, and the file stays undone.
    if (file.PcPath.isEmpty() || !QFileInfo::exists(file.PcPath)) {
        SetCurrentFile(file.PcPath.isEmpty() ? file.Name : file.PcPath);
        return pcMissing;
    }
    SetCurrentFile(file.PcPath);
    std::vector<uint8_t> data;
    // More than the medium can take is never read: the file is refused
    // before its bytes fill the PC's memory.
    // A replacement may take the old file's clusters too, when the user
    // lets the old one go first.
    const uint64_t room =
        FFlash.FreeBytes() + (file.Replace ? uint64_t{file.ReplacedSize} + FFlash.Geometry().ClusterBytes() : 0);
    TWindowResult result = ReadPcFile(file.PcPath, data, room);
    // No room is the medium's answer about the file it would hold.
    if (result == feNoRoom) SetCurrentFile(file.Name);
    if (!result.Ok()) return result;
    SetCurrentFile(file.Name);
    // The bytes as read now count, whatever size the list showed.
    const auto size = static_cast<uint32_t>(data.size());
    ReportFileStart(job, WriteFileTransfers(Geometry(), job.Verify, file, size),
                    (file.Replace ? QStringLiteral("Замена ") : QStringLiteral("Запись ")) + file.Name);
    if (!file.MediumName) return feBadName;
    result = Store(job, file, data);
    // The hash is that of the bytes handed to the medium, read once.
    Record(MovedEntry(file.Replace ? TJournalOp::Replace : TJournalOp::Write, job.Line, JournalName(file),
                      file.PcPath.toStdString(), data.data(), data.size(), TextOf(result)));
    if (!result.Ok()) return result;
    if (job.Verify && !(result = VerifyOne(job, file, data)).Ok()) return result;
    // The row takes the name as the entry holds it (in capitals).
    const QString shown = QString::fromStdString(MediumNameToUtf8(FFlash.LastSave().Shown));
    ChangeRows(job, [&] { FRows.MediumRow(file.Name, shown.isEmpty() ? file.Name : shown, size); });
    return feOk;
}

TFlashError TTransferRunner::Store(TTransferJob& job, const TTransferFile& file, const std::vector<uint8_t>& data) {
    const char* name = file.MediumName->c_str();
    const auto size = static_cast<uint32_t>(data.size());
    if (file.Replace && !file.DeleteFirst) {
        const TFlashError result = FFlash.ReplaceFile(name, data.data(), FFlash.MediumKind(), size);
        // The old file has gone meanwhile: there is nothing left to keep.
        if (result != feNotFound) return result;
    } else if (file.Replace) {
        // The user was told that until the save ends the medium holds
        // neither copy.
        const TFlashError result = FFlash.DeleteFile(name, FFlash.MediumKind());
        if (result != feOk && result != feNotFound) return result;
        ChangeRows(job, [&] { FRows.OldCopyGone(file.Name); });
    }
    return FFlash.SaveFile(name, data.data(), FFlash.MediumKind(), size);
}

TWindowResult TTransferRunner::VerifyOne(TTransferJob& job, TTransferFile& file, const std::vector<uint8_t>& data) {
    const TSaveRecord save = FFlash.LastSave();
    TSaveCheck check;
    FReadingBack = true;
    const TFlashError result = FFlash.VerifySave(save, data.data(), static_cast<uint32_t>(data.size()), check);
    FReadingBack = false;
    // A cancel during the read-back leaves a file that was written whole
    // and whose check did not end: it stays, as any file written before a
    // cancel does.
    if (result == feAborted || job.Cancel) return feOk;
    if (result != feOk) return result;
    if (check.Clean()) return feOk;
    file.Report = SaveCheckText(check);
    // Another file's sector that reads back otherwise is named; that file
    // is not this write's to delete (zvt check tells more).
    if (!check.Touches(save.Shown)) {
        const QString shown = QString::fromStdString(MediumNameToUtf8(save.Shown));
        const auto size = static_cast<uint32_t>(data.size());
        ChangeRows(job, [&] { FRows.MediumRow(file.Name, shown.isEmpty() ? file.Name : shown, size); });
        return pcVerifyFailed;
    }
    const TFlashError del = FFlash.DeleteFile(file.MediumName->c_str(), FFlash.MediumKind());
    Record(PlainEntry(TJournalOp::Delete, job.Line, file.Name.toStdString(), "",
                      del == feOk ? std::string("удалён: копия на носителе не совпала с файлом ПК") : TextOf(del)));
    file.Report += del == feOk ? QStringLiteral(", файл удалён с флэш")
                            : QStringLiteral(", удалить его не удалось: ") +
                                  FromCp1251(WorkerErrorText(del) ? WorkerErrorText(del) : "");
    return pcVerifyFailed;
}

TWindowResult TTransferRunner::LoadOne(TTransferJob& job, TTransferFile& file) {
    SetCurrentFile(file.Name);
    // The names were checked when the load was asked for; a name that could
    // reach outside the target folder is never written.
    if (!file.MediumName) return feBadName;
    const QString local = QString::fromStdString(SafeLocalName(*file.MediumName));
    if (local.isEmpty()) return feBadName;
    // A file that came into the folder after the question is kept.
    if (!file.MayOverwrite && QFileInfo::exists(job.TargetFolder + local)) {
        file.State = TFileState::Skipped;
        return feOk;
    }
    // The bar counts with the listed size, as the operation's total does.
    ReportFileStart(job, Geometry().LoadTransfers(file.ListedSize), QStringLiteral("Чтение ") + file.Name);
    // The bytes written are those of the entry the load reads, whatever the
    // listing said: two entries may list alike, and the medium may have
    // changed since it was listed.
    std::vector<uint8_t> data;
    const TFlashError loaded = FFlash.LoadFile(file.MediumName->c_str(), data, FFlash.MediumKind());
    const QString target = job.TargetFolder + local;
    if (loaded != feOk) {
        Record(PlainEntry(TJournalOp::Load, job.Line, file.Name.toStdString(), target.toStdString(), TextOf(loaded)));
        return loaded;
    }
    SetCurrentFile(target);
    const TWindowResult result = WritePcFile(job.TargetFolder, local, data);
    // The hash is that of the bytes as they came from the medium.
    Record(MovedEntry(TJournalOp::Load, job.Line, file.Name.toStdString(), target.toStdString(), data.data(),
                      data.size(), result.Ok() ? TextOf(feOk) : TextOf(result) + target.toStdString()));
    return result;
}

// ---------------------------------------------------------------- whole-medium copies

TWindowResult TTransferRunner::Backup(TTransferJob& job) {
    SetCurrentFile(QString::fromStdString(job.ImagePath));
    const uint32_t sectors = FFlash.MediumSize() / SectorSize;
    ReportFileStart(job, BackupTransfers(sectors, Geometry().Volume.SectorsPerFAT), QStringLiteral("Сохранение образа"));
    std::vector<uint8_t> image;
    job.Copy = ReadWholeMedium(FFlash, image);
    TWindowResult result = job.Copy.Ok() ? TWindowResult(feOk) : TWindowResult(job.Copy.Error);
    std::string text = job.Copy.Ok() ? std::string(JournalSuccess) : MediumCopyText(job.Copy);
    if (job.Copy.Ok() && !SaveMediumImage(job.ImagePath, image, FFlash.MediumSize(), job.SaveError)) {
        result = pcWriteFailed;
        text = job.SaveError;
    }
    if (job.Copy.Ok()) Record(MovedEntry(TJournalOp::Backup, job.Line, "", job.ImagePath, image.data(), image.size(), text));
    else Record(PlainEntry(TJournalOp::Backup, job.Line, "", job.ImagePath, text));
    return result;
}

TWindowResult TTransferRunner::Restore(TTransferJob& job) {
    SetCurrentFile(QString::fromStdString(job.ImagePath));
    ReportFileStart(job, RestoreTransfers(static_cast<uint32_t>(job.Image.size() / SectorSize), Geometry().Volume.SectorsPerFAT),
                    QStringLiteral("Восстановление из образа"));
    job.Copy = WriteWholeMedium(FFlash, job.Image);
    const std::string text = job.Copy.Ok() ? std::string(JournalSuccess) : MediumCopyText(job.Copy);
    // The bytes sent are the image's, whole, only when the copy ended well.
    if (job.Copy.Ok())
        Record(MovedEntry(TJournalOp::Restore, job.Line, "", job.ImagePath, job.Image.data(), job.Image.size(), text));
    else Record(PlainEntry(TJournalOp::Restore, job.Line, "", job.ImagePath, text));
    switch (job.Copy.End) {
        case TCopyEnd::Done: return feOk;
        case TCopyEnd::Failed:
        case TCopyEnd::Aborted: return job.Copy.Error;
        case TCopyEnd::Mismatch: return feWrongDevice;
        case TCopyEnd::Refused: return feForeignVolume;
    }
    return feWrongDevice;
}

TWindowResult TTransferRunner::ReadOne(TTransferJob& job, TTransferFile& file) {
    SetCurrentFile(file.Name);
    if (!file.MediumName) return feBadName;
    ReportFileStart(job, Geometry().LoadTransfers(file.ListedSize), QStringLiteral("Чтение ") + file.Name);
    return FFlash.LoadFile(file.MediumName->c_str(), file.Data, FFlash.MediumKind());
}

// ---------------------------------------------------------------- sectors

void TTransferRunner::Sector(TLamp lamp) {
    const TTransferJob* job = FJob;
    // A cancel that came after the worker last cleared its abort flag.
    if (job && job->Cancel) FFlash.RequestAbort();
    // This runs on the exchange's path: the status text is made by the GUI
    // thread when it takes the report.
    bool handOver = FReports.Sector(lamp, FFlash.CurrentOp());
    // A load or backup counts the sectors it reads (and a write those it
    // reads back), a write or delete those it writes, a restore both.
    const bool counts = job && (job->Op == opRestoreMedium ||
                                (lamp == lampYellow ? job->Op == opLoadFile || job->Op == opBackupMedium || FReadingBack
                                                    : job->Op == opSaveFile || job->Op == opDeleteFile));
    if (counts) handOver = FReports.Step(job->Id) || handOver;
    if (handOver) HandOver();
}

// ---------------------------------------------------------------- shared state

QString TTransferRunner::InternalError() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FInternalError;
}

void TTransferRunner::SetInternalError(const std::string& what) {
    std::lock_guard<std::mutex> lock(FMutex);
    FInternalError = QString::fromUtf8(what.c_str());
}

QString TTransferRunner::CurrentFile() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FCurrentFile;
}

void TTransferRunner::SetCurrentFile(const QString& name) {
    std::lock_guard<std::mutex> lock(FMutex);
    FCurrentFile = name;
}

TTransferGeometry TTransferRunner::Geometry() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FGeometry;
}

std::optional<uint64_t> TTransferRunner::FreeBytes() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FFreeBytes;
}

TFileList TTransferRunner::ListedFiles() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FListedFiles;
}

}  // namespace skarvel
