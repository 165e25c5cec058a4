#include "ui/transfer_runner.h"

#include <QFileInfo>
#include <QStringList>
#include <new>

#include "flashfs/fs_flash.h"
#include "core/cp1251.h"
#include "core/local_name.h"
#include "ui/pc_files.h"

namespace skarvel {

namespace {

bool MovesFiles(uint8_t op) { return op == opDeleteFile || op == opSaveFile || op == opLoadFile; }

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

// A save writes the new entry's directory block twice (the slot reserved,
// then the entry made live with its size), size div cluster bytes + 1
// clusters (the last one may hold nothing of the file) and the whole FAT.
uint32_t TTransferGeometry::WriteTransfers(uint32_t size) const {
    if (SectorsPerCluster == 0) return 0;
    return SectorsPerCluster * (size / (SectorsPerCluster * SectorSize) + 1) + 2 * SectorsPerCluster + SectorsPerFat;
}

// A load reads the directory (one block while it holds no more than a
// block's entries), then the clusters that hold the file's bytes.
uint32_t TTransferGeometry::LoadTransfers(uint32_t size) const {
    if (SectorsPerCluster == 0) return 0;
    const uint64_t clusterBytes = SectorsPerCluster * SectorSize;
    const auto clusters = static_cast<uint32_t>((size + clusterBytes - 1) / clusterBytes);
    return SectorsPerCluster * (clusters + 1);
}

// A delete writes the directory block without the entry, then the FAT.
uint32_t TTransferGeometry::DeleteTransfers() const { return SectorsPerCluster + SectorsPerFat; }

// The read-back reads each FAT sector and the directory block the save
// wrote, then loads the file as a load does.
uint32_t TTransferGeometry::VerifyTransfers(uint32_t size) const {
    if (SectorsPerCluster == 0) return 0;
    return SectorsPerFat + SectorsPerCluster + LoadTransfers(size);
}

// A chain of a few clusters has its FAT entries in one sector: one for the
// new chain, one for the old, and the entry's own sector.
uint32_t TTransferGeometry::ReplaceTransfers(uint32_t size) const {
    if (SectorsPerCluster == 0) return 0;
    return SectorsPerCluster * (size / (SectorsPerCluster * SectorSize) + 1) + 3;
}

// The FAT sector of the new chain, the entry's sector, then the file.
uint32_t TTransferGeometry::VerifyReplaceTransfers(uint32_t size) const {
    if (SectorsPerCluster == 0) return 0;
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
        case TFileAction::Load: return LoadTransfers(file.ListedSize);
    }
    return 0;
}

uint32_t TTransferGeometry::JobTransfers(const TTransferJob& job) const {
    uint32_t total = 0;
    for (const TTransferFile& file : job.Files) total += FileTransfers(job, file);
    return total;
}

uint8_t CopyPcFile(const QString& path, const QString& folder, const QString& name, QString& failed) {
    std::vector<uint8_t> data;
    failed = path;
    uint8_t result = ReadPcFile(path, data);
    if (result != 0) return result;
    failed = folder + name;
    result = WritePcFile(folder, name, data);
    if (result == 0) failed.clear();
    return result;
}

// ---------------------------------------------------------------- the hook

TTransferRunner::TTransferRunner(TFlash& flash, TTransferRows& rows, TWorkerReports& reports)
    : FFlash(flash), FRows(rows), FReports(reports) {}

uint8_t TTransferRunner::Execute(uint8_t op, TTransferJob* job) {
    FJob = job;
    SetInternalError(std::string());
    uint8_t result = 0;
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

uint8_t TTransferRunner::Dispatch(uint8_t op, TTransferJob* job) {
    switch (op) {
        case opInit: return FFlash.InitFlash();
        case opFormat: return FFlash.FormatFlash(FFlash.FMediumKind);
        case opReadDir: return FFlash.ReadDir(FFlash.FMediumKind, nullptr);
        case opDeleteFile:
        case opSaveFile:
        case opLoadFile: return job && !job->Files.empty() ? RunFiles(*job) : 0;
        default: return feUnknownCommand;
    }
}

// The list and the geometry outlive the request that read them: the
// completion handler and the next progress totals use them.
void TTransferRunner::KeepVolumeFacts(uint8_t op, uint8_t result) {
    if (op != opInit && op != opFormat && op != opReadDir) return;
    std::lock_guard<std::mutex> lock(FMutex);
    if (op == opReadDir) FListedFiles = FFlash.FFiles;
    else if (result == 0) FGeometry = {FFlash.FSectorsPerCluster, FFlash.FSectorsPerFAT};
}

// One file after the other, until one fails or the user cancels; the first
// file is tried even when the cancel came before it.
uint8_t TTransferRunner::RunFiles(TTransferJob& job) {
    uint8_t result = 0;
    for (TTransferFile& file : job.Files) {
        switch (file.Action) {
            case TFileAction::Delete: result = DeleteOne(job, file); break;
            case TFileAction::Write: result = WriteOne(job, file); break;
            case TFileAction::Load: result = LoadOne(job, file); break;
        }
        if (file.State != TFileState::Skipped) {
            file.State = result == 0 ? TFileState::Done : TFileState::Failed;
            file.Result = result;
        }
        if (result != 0 || job.Cancel) break;
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

// ---------------------------------------------------------------- the loops' steps

uint8_t TTransferRunner::DeleteOne(TTransferJob& job, const TTransferFile& file) {
    SetCurrentFile(file.Name);
    ReportFileStart(job, Geometry().DeleteTransfers(), QStringLiteral("Удаление ") + file.Name);
    const uint8_t result =
        file.MediumName ? FFlash.DeleteFile(file.MediumName->c_str(), FFlash.FMediumKind) : uint8_t{feBadName};
    ChangeRows(job, [&] { FRows.RemoveRow(file.Name); });
    return result;
}

uint8_t TTransferRunner::WriteOne(TTransferJob& job, TTransferFile& file) {
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
    const uint64_t room = FFlash.FreeBytes() + (file.Replace ? uint64_t{file.ReplacedSize} + uint64_t{FFlash.FSectorsPerCluster} * SectorSize : 0);
    uint8_t result = ReadPcFile(file.PcPath, data, room);
    // No room is the medium's answer about the file it would hold.
    if (result == feNoRoom) SetCurrentFile(file.Name);
    if (result != 0) return result;
    SetCurrentFile(file.Name);
    // The bytes as read now count, whatever size the list showed.
    const auto size = static_cast<uint32_t>(data.size());
    ReportFileStart(job, WriteFileTransfers(Geometry(), job.Verify, file, size),
                    (file.Replace ? QStringLiteral("Замена ") : QStringLiteral("Запись ")) + file.Name);
    if (!file.MediumName) return feBadName;
    if ((result = Store(job, file, data)) != 0) return result;
    if (job.Verify && (result = VerifyOne(job, file, data)) != 0) return result;
    // The row takes the name as the entry holds it (in capitals).
    const QString shown = QString::fromStdString(MediumNameToUtf8(FFlash.FLastSave.Shown));
    ChangeRows(job, [&] { FRows.MediumRow(file.Name, shown.isEmpty() ? file.Name : shown, size); });
    return 0;
}

uint8_t TTransferRunner::Store(TTransferJob& job, const TTransferFile& file, const std::vector<uint8_t>& data) {
    const char* name = file.MediumName->c_str();
    const auto size = static_cast<uint32_t>(data.size());
    if (file.Replace && !file.DeleteFirst) {
        const uint8_t result = FFlash.ReplaceFile(name, data.data(), FFlash.FMediumKind, size);
        // The old file has gone meanwhile: there is nothing left to keep.
        if (result != feNotFound) return result;
    } else if (file.Replace) {
        // The user was told that until the save ends the medium holds
        // neither copy.
        const uint8_t result = FFlash.DeleteFile(name, FFlash.FMediumKind);
        if (result != 0 && result != feNotFound) return result;
        ChangeRows(job, [&] { FRows.OldCopyGone(file.Name); });
    }
    return FFlash.SaveFile(name, data.data(), FFlash.FMediumKind, size);
}

uint8_t TTransferRunner::VerifyOne(TTransferJob& job, TTransferFile& file, const std::vector<uint8_t>& data) {
    const TSaveRecord save = FFlash.FLastSave;
    TSaveCheck check;
    FReadingBack = true;
    const uint8_t result = FFlash.VerifySave(save, data.data(), static_cast<uint32_t>(data.size()), check);
    FReadingBack = false;
    // A cancel during the read-back leaves a file that was written whole
    // and whose check did not end: it stays, as any file written before a
    // cancel does.
    if (result == feAborted || job.Cancel) return 0;
    if (result != 0) return result;
    if (check.Clean()) return 0;
    file.Report = SaveCheckText(check);
    // Another file's sector that reads back otherwise is named; that file
    // is not this write's to delete (zvt check tells more).
    if (!check.Touches(save.Shown)) {
        const QString shown = QString::fromStdString(MediumNameToUtf8(save.Shown));
        const auto size = static_cast<uint32_t>(data.size());
        ChangeRows(job, [&] { FRows.MediumRow(file.Name, shown.isEmpty() ? file.Name : shown, size); });
        return pcVerifyFailed;
    }
    const uint8_t del = FFlash.DeleteFile(file.MediumName->c_str(), FFlash.FMediumKind);
    file.Report += del == 0 ? QStringLiteral(", файл удалён с флэш")
                            : QStringLiteral(", удалить его не удалось: ") +
                                  FromCp1251(WorkerErrorText(del) ? WorkerErrorText(del) : "");
    return pcVerifyFailed;
}

uint8_t TTransferRunner::LoadOne(TTransferJob& job, TTransferFile& file) {
    SetCurrentFile(file.Name);
    // The names were checked when the load was asked for; a name that could
    // reach outside the target folder is never written.
    if (!file.MediumName) return feBadName;
    const QString local = QString::fromStdString(SafeLocalName(*file.MediumName));
    if (local.isEmpty()) return feBadName;
    // A file that came into the folder after the question is kept.
    if (!file.MayOverwrite && QFileInfo::exists(job.TargetFolder + local)) {
        file.State = TFileState::Skipped;
        return 0;
    }
    // The bar counts with the listed size, as the operation's total does.
    ReportFileStart(job, Geometry().LoadTransfers(file.ListedSize), QStringLiteral("Чтение ") + file.Name);
    // The bytes written are those of the entry the load reads, whatever the
    // listing said: two entries may list alike, and the medium may have
    // changed since it was listed.
    std::vector<uint8_t> data;
    const uint8_t result = FFlash.LoadFile(file.MediumName->c_str(), data, FFlash.FMediumKind);
    if (result != 0) return result;
    SetCurrentFile(job.TargetFolder + local);
    return WritePcFile(job.TargetFolder, local, data);
}

// ---------------------------------------------------------------- sectors

void TTransferRunner::Sector(TLamp lamp) {
    const TTransferJob* job = FJob;
    // A cancel that came after the worker last cleared its abort flag.
    if (job && job->Cancel) FFlash.FAbort = true;
    // This runs on the exchange's path: the status text is made by the GUI
    // thread when it takes the report.
    bool handOver = FReports.Sector(lamp, FFlash.FCommand.load());
    // A load counts the sectors it reads, a write or delete those it writes.
    const bool counts = job && (lamp == lampYellow ? job->Op == opLoadFile || FReadingBack
                                                   : job->Op == opSaveFile || job->Op == opDeleteFile);
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

TFileList TTransferRunner::ListedFiles() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FListedFiles;
}

}  // namespace skarvel
