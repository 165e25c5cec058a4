#include "ui/transfer_runner.h"

#include <QFileInfo>
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

}  // namespace

// ---------------------------------------------------------------- jobs

std::vector<QString> TTransferJob::Undone() const {
    std::vector<QString> names;
    for (const TTransferFile& file : Files)
        if (file.State != TFileState::Done) names.push_back(file.Name);
    return names;
}

// ---------------------------------------------------------------- transfer counts

uint32_t TTransferGeometry::WriteTransfers(uint32_t size) const { return SaveFrames(Volume, size).Writes; }

uint32_t TTransferGeometry::LoadTransfers(uint32_t size) const { return LoadFrames(Volume, size).Reads; }

uint32_t TTransferGeometry::DeleteTransfers() const { return DeleteFrames(Volume).Writes; }

uint32_t TTransferGeometry::JobTransfers(const TTransferJob& job) const {
    uint32_t total = 0;
    for (const TTransferFile& file : job.Files) {
        if (!file.Listed) continue;
        switch (file.Action) {
            case TFileAction::Delete: total += DeleteTransfers(); break;
            case TFileAction::Write: total += WriteTransfers(file.ListedSize); break;
            case TFileAction::Load:
            case TFileAction::Read: total += LoadTransfers(file.ListedSize); break;
        }
    }
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
    TWindowResult result;
    try {
        result = Dispatch(op, job);
    } catch (const std::bad_alloc&) {
        result = pcNoMemory;
    } catch (...) {
        // Whatever went wrong, the progress window must hear of the end.
        result = feLinkLost;
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
        file.State = result.Ok() ? TFileState::Done : TFileState::Failed;
        file.Result = result;
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
    Record(PlainEntry(job.Replace ? TJournalOp::Replace : TJournalOp::Delete, job.Line, file.Name.toStdString(), "",
                      TextOf(result)));
    ChangeRows(job, [&] { FRows.RemoveRow(file.Name); });
    return result;
}

TWindowResult TTransferRunner::WriteOne(TTransferJob& job, const TTransferFile& file) {
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
    const TWindowResult read = ReadPcFile(file.PcPath, data, FFlash.FreeBytes());
    // No room is the medium's answer about the file it would hold.
    if (read == feNoRoom) SetCurrentFile(file.Name);
    if (!read.Ok()) return read;
    SetCurrentFile(file.Name);
    // The bytes as read now count, whatever size the list showed.
    const auto size = static_cast<uint32_t>(data.size());
    ReportFileStart(job, Geometry().WriteTransfers(size), QStringLiteral("Запись ") + file.Name);
    if (!file.MediumName) return feBadName;
    const TFlashError result = FFlash.SaveFile(file.MediumName->c_str(), data.data(), FFlash.MediumKind(), size);
    // The hash is that of the bytes handed to the medium, read once.
    Record(MovedEntry(TJournalOp::Write, job.Line, JournalName(file), file.PcPath.toStdString(), data.data(),
                      data.size(), TextOf(result)));
    if (result != feOk) return result;
    ChangeRows(job, [&] { FRows.MediumRow(file.Name, size); });
    return feOk;
}

TWindowResult TTransferRunner::LoadOne(TTransferJob& job, const TTransferFile& file) {
    SetCurrentFile(file.Name);
    // The names were checked when the load was asked for; a name that could
    // reach outside the target folder is never written.
    if (!file.MediumName) return feBadName;
    const QString local = QString::fromStdString(SafeLocalName(*file.MediumName));
    if (local.isEmpty()) return feBadName;
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
    // A load or backup counts the sectors it reads, a write or delete those
    // it writes, a restore both.
    const bool counts = job && (job->Op == opRestoreMedium ||
                                (lamp == lampYellow ? job->Op == opLoadFile || job->Op == opBackupMedium
                                                    : job->Op == opSaveFile || job->Op == opDeleteFile));
    if (counts) handOver = FReports.Step(job->Id) || handOver;
    if (handOver) HandOver();
}

// ---------------------------------------------------------------- shared state

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
