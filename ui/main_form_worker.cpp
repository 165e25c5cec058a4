// The main window's side of the worker thread: the command hook that runs
// every request, the per-file loops of delete, write and load, and the
// driver's sector notifications. Nothing here touches a widget or the list
// model directly: the loops wait for the GUI thread where the list must
// change in step with the medium (OnGui), everything else is reported in
// batches (TWorkerReports).
#include <QFileInfo>
#include <algorithm>
#include <new>

#include "core/cp1251.h"
#include "flashfs/fs_flash.h"
#include "link/zvt_drv.h"
#include "ui/lamps.h"
#include "ui/main_form.h"
#include "ui/my_list_box.h"
#include "ui/pc_files.h"
#include "ui/qt_main_thread.h"

#include <QTimer>

namespace skarvel {

namespace {

constexpr int AfterOperationInterval = 200;

// A name of the list as the worker's routines take it (code page 1251).
bool ToMediumName(const QString& name, std::string& cp1251) { return Utf8ToCp1251(name.toStdString(), cp1251); }

}  // namespace

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

TTransferGeometry TForm1::Geometry() const {
    std::lock_guard<std::mutex> lock(FListMutex);
    return FGeometry;
}

// ---------------------------------------------------------------- the hook

uint8_t TForm1::ExecuteCommand(uint8_t op, uint8_t& result, void* param) {
    auto* job = static_cast<TOperationJob*>(param);
    FWorkerJob = job;
    const bool hasFiles = job && !job->Names.empty();
    result = 0;
    try {
        switch (op) {
            case opInit: result = FDriver->InitFlash(); break;
            case opFormat: result = FDriver->FormatFlash(FDriver->FMediumKind); break;
            case opReadDir: result = FDriver->ReadDir(FDriver->FMediumKind, nullptr); break;
            case opDeleteFile: result = hasFiles ? DeleteFiles(*job) : 0; break;
            case opSaveFile: result = hasFiles ? WriteFiles(*job) : 0; break;
            case opLoadFile: result = hasFiles ? LoadFiles(*job) : 0; break;
            default: result = feUnknownCommand; break;
        }
    } catch (const std::bad_alloc&) {
        result = pcNoMemory;
    } catch (...) {
        // Whatever went wrong, the progress window must hear of the end.
        result = feLinkError;
    }
    if (op == opInit || op == opFormat || op == opReadDir) {
        std::lock_guard<std::mutex> lock(FListMutex);
        if (op == opReadDir) FListFiles = FDriver->FFiles;
        else if (result == 0) FGeometry = {FDriver->FSectorsPerCluster, FDriver->FSectorsPerFAT};
    }
    const bool movesFiles = op == opDeleteFile || op == opSaveFile || op == opLoadFile;
    if (movesFiles && job && job->Cancel) result = feAborted;
    // Back to idle soon after the last sector transfer.
    if (FLinkUp) PostToWindow([this] { Timer1->setInterval(AfterOperationInterval); });
    if (movesFiles && job && FReports.Finish(job->Id)) PostToWindow([this] { TakeReports(); });
    FWorkerJob = nullptr;
    return result;
}

bool TForm1::OnGui(const std::function<void()>& fn) { return FMain->Call(fn); }

void TForm1::ReportFileStart(const TOperationJob& job, uint32_t total, const QString& text) {
    if (FReports.StartFile(job.Id, static_cast<int>(total), text)) PostToWindow([this] { TakeReports(); });
}

// ---------------------------------------------------------------- delete

uint8_t TForm1::DeleteFiles(TOperationJob& job) {
    const TTransferGeometry g = Geometry();
    uint8_t result = 0;
    do {
        const QString name = job.Names.front();
        SetCurrentFile(name);
        ReportFileStart(job, g.DeleteTransfers(), QStringLiteral("Удаление ") + name);
        std::string medium;
        result = feBadName;
        if (ToMediumName(name, medium)) result = FDriver->DeleteFile(medium.c_str(), FDriver->FMediumKind);
        job.Names.erase(job.Names.begin());
        // The row goes whatever the result; a re-read shows a file that stayed.
        const bool shown = OnGui([&] {
            const int i = FMyListBox->IndexOfName(name);
            if (i >= 0) FMyListBox->Delete(i);
        });
        if (!shown) return feAborted;
    } while (result == 0 && !job.Names.empty() && !job.Cancel);
    return result;
}

// ---------------------------------------------------------------- write

uint8_t TForm1::WriteFiles(TOperationJob& job) {
    uint8_t result = 0;
    do {
        const QString name = job.Names.front();
        QString path;
        if (!OnGui([&] {
                const int i = FMyListBox->IndexOfName(name);
                if (i >= 0) path = QString::fromStdString(FMyListBox->Path(i));
            }))
            return feAborted;
        if (!path.isEmpty() && QFileInfo::exists(path)) {
            result = WriteOne(job, name, path);
        } else {
            SetCurrentFile(path.isEmpty() ? name : path);
            result = pcMissing;  // the name stays first: the prompt may skip it
        }
        if (result != 0 && result != pcMissing) job.Names.clear();
    } while (result == 0 && !job.Names.empty() && !job.Cancel);
    return result;
}

uint8_t TForm1::WriteOne(TOperationJob& job, const QString& name, const QString& path) {
    SetCurrentFile(path);
    std::vector<uint8_t> data;
    uint8_t result = ReadPcFile(path, data);
    if (result != 0) return result;
    SetCurrentFile(name);
    const auto size = static_cast<uint32_t>(data.size());
    ReportFileStart(job, Geometry().WriteTransfers(size), QStringLiteral("Запись ") + name);
    std::string medium;
    if (!ToMediumName(name, medium)) return feBadName;
    result = FDriver->SaveFile(medium.c_str(), data.data(), FDriver->FMediumKind, size);
    if (result != 0) return result;
    // The row is the medium's now, with the size that was written.
    const bool shown = OnGui([&] {
        const int i = FMyListBox->AddEntry(name, static_cast<int32_t>(size), std::string(), true);
        FMyListBox->SetSize(i, static_cast<int32_t>(size));
    });
    job.Names.erase(job.Names.begin());
    return shown ? 0 : feAborted;
}

// ---------------------------------------------------------------- load

uint8_t TForm1::LoadFiles(TOperationJob& job) {
    uint8_t result = 0;
    do {
        result = LoadOne(job, job.Names.front());
        if (result == 0) job.Names.erase(job.Names.begin());
    } while (result == 0 && !job.Names.empty() && !job.Cancel);
    return result;
}

uint8_t TForm1::LoadOne(TOperationJob& job, const QString& name) {
    SetCurrentFile(name);
    std::string medium;
    // The names were checked when the load was asked for; a name that could
    // reach outside the target folder is never written.
    if (!IsLocalFileName(name) || !ToMediumName(name, medium)) return feBadName;
    // The bar counts with the listed size, as the operation's total does.
    int32_t listed = 0;
    if (!OnGui([&] {
            const int i = FMyListBox->IndexOfName(name);
            if (i >= 0) listed = FMyListBox->Sizes(i);
        }))
        return feAborted;
    ReportFileStart(job, Geometry().LoadTransfers(static_cast<uint32_t>(std::max(0, listed))),
                    QStringLiteral("Чтение ") + name);
    // The bytes written are those of the entry the load reads, whatever the
    // listing said: two entries may list alike, and the medium may have
    // changed since it was listed.
    std::vector<uint8_t> data;
    const uint8_t result = FDriver->LoadFile(medium.c_str(), data, FDriver->FMediumKind);
    if (result != 0) return result;
    SetCurrentFile(job.TargetFolder + name);
    return WritePcFile(job.TargetFolder, name, data);
}

// ---------------------------------------------------------------- sector notifications

void TForm1::DoReadSector() { SectorNotification(lampYellow); }
void TForm1::DoWriteSector() { SectorNotification(lampRed); }

void TForm1::SectorNotification(int lamp) {
    FActivity = true;
    if (!FDriver->ComPort.Connected()) return;
    const TOperationJob* job = FWorkerJob;
    // A cancel that came after the worker last cleared its abort flag.
    if (job && job->Cancel) FDriver->FAbort = true;
    // This runs on the exchange's path: the status text is made by the GUI
    // thread when it takes the report.
    bool handOver = FReports.Sector(lamp, FDriver->FCommand.load());
    // A load counts the sectors it reads, a write or delete those it writes.
    const bool counts = job && (lamp == lampYellow ? job->Op == opLoadFile
                                                   : job->Op == opSaveFile || job->Op == opDeleteFile);
    if (counts) handOver = FReports.Step(job->Id) || handOver;
    if (handOver) PostToWindow([this] { TakeReports(); });
}

}  // namespace skarvel
