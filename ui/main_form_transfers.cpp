// The main window's commands that move files (write, load, delete, re-read,
// format), the jobs they post with their progress window, the handling of
// the worker's completions, and the row changes the transfer runner asks
// for while a job runs. GUI thread.
#include <QDir>
#include <QFileInfo>
#include <QListWidget>
#include <QMenuBar>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "core/cp1251.h"
#include "flashfs/fs_flash.h"
#include "link/zvt_drv.h"
#include "shell/folder_choice.h"
#include "ui/lamps.h"
#include "ui/main_form.h"
#include "ui/message_boxes.h"
#include "ui/my_list_box.h"
#include "ui/pc_files.h"
#include "ui/progress_form.h"
#include "ui/transfer_runner.h"
#include "ui/settings.h"

namespace skarvel {

namespace {

// A medium holding a volume the worker must not write (formatted
// elsewhere) needs a format like an unformatted one: the lamp green, the
// worker's text in the status line.
bool NeedsFormat(uint8_t initResult) { return initResult == feUnformatted || initResult == feForeignVolume; }

// The operations that take their files from FNames and show progress.
bool MovesFiles(uint8_t op) { return op == opDeleteFile || op == opSaveFile || op == opLoadFile; }

// The operations that show the progress window: those that move files, and
// the whole-medium copies.
bool ShowsProgress(uint8_t op) { return MovesFiles(op) || op == opBackupMedium || op == opRestoreMedium; }

}  // namespace

// ---------------------------------------------------------------- requests

TOperationJob* TForm1::NewJob(uint8_t op) {
    auto job = std::make_unique<TOperationJob>();
    job->Op = op;
    job->Id = ++FLastJobId;
    job->Line = LineName();
    if (MovesFiles(op)) {
        for (const QString& name : FNames) job->Files.push_back(FileOfJob(op, name));
        FNames.clear();
        job->TargetFolder = FTargetFolder;
        job->Verify = op == opSaveFile && MenuVerify->isChecked();
    }
    FJobs.push_back(std::move(job));
    return FJobs.back().get();
}

// Everything the worker needs of the file's row is taken now: the list
// takes no input while the job runs, and the worker never asks for it.
TTransferFile TForm1::FileOfJob(uint8_t op, const QString& name) const {
    TTransferFile file;
    file.Action = op == opDeleteFile ? TFileAction::Delete : op == opSaveFile ? TFileAction::Write : TFileAction::Load;
    file.Name = name;
    std::string medium;
    if (Utf8ToMediumName(name.toStdString(), medium)) file.MediumName = std::move(medium);
    // A load replaces a file in its folder only where the user said so.
    file.MayOverwrite = FStagingLoad || FMayOverwrite.contains(name);
    const int row = FMyListBox->IndexOfName(name);
    if (row >= 0) {
        file.Listed = true;
        file.ListedSize = static_cast<uint32_t>(std::max(0, FMyListBox->Sizes(row)));
        file.PcPath = QString::fromStdString(FMyListBox->Path(row));
        file.Replace = !FMyListBox->Flags(row) && FMyListBox->Replaces(row);
        file.DeleteFirst = file.Replace && FDeleteFirst.contains(name, Qt::CaseInsensitive);
        if (file.Replace) file.ReplacedSize = static_cast<uint32_t>(std::max(0, FMyListBox->ReplacedSize(row)));
    }
    return file;
}

std::unique_ptr<TOperationJob> TForm1::AdoptJob(intptr_t lParam) {
    const auto* wanted = reinterpret_cast<const TTransferJob*>(lParam);
    for (auto it = FJobs.begin(); it != FJobs.end(); ++it) {
        if (static_cast<const TTransferJob*>(it->get()) != wanted) continue;
        std::unique_ptr<TOperationJob> job = std::move(*it);
        FJobs.erase(it);
        return job;
    }
    return nullptr;
}

bool TForm1::TransferRunning() const {
    return std::any_of(FJobs.begin(), FJobs.end(),
                       [](const auto& job) { return job->Op != opInit && job->Op != opReadDir; });
}

void TForm1::RunOperation(uint8_t op, std::function<void(uint8_t, const std::vector<QString>&)> onDone) {
    TOperationJob* job = NewJob(op);
    job->OnDone = std::move(onDone);
    if (ShowsProgress(op)) {
        ShowProgress(*job);
    } else {
        FWorker->PostRequest(op, static_cast<TTransferJob*>(job));
    }
}

void TForm1::ShowProgress(TOperationJob& job, int showAfterMs) {
    if (FProgress) FProgress->FinishProgress();
    const uint32_t sectors = FWorker->MediumSize() / SectorSize;
    const uint32_t fatSectors = FRunner->Geometry().Volume.SectorsPerFAT;
    const uint32_t total = job.Op == opBackupMedium    ? BackupTransfers(sectors, fatSectors)
                           : job.Op == opRestoreMedium ? RestoreTransfers(sectors, fatSectors)
                                                       : FRunner->Geometry().JobTransfers(job);
    TprogressForm progress(this);
    progress.Follow(*this);
    progress.move(geometry().center() - progress.rect().center());
    FProgress = &progress;
    FProgressJob = job.Id;
    progress.SetFileCount(static_cast<int>(job.Files.size()));
    emit ProgressStarted(static_cast<int>(total));

    const uint32_t id = job.Id;
    FWorker->PostRequest(job.Op, static_cast<TTransferJob*>(&job));
    // While the progress window is up the window takes no input but a
    // close, which cancels (RunAction, eventFilter and closeEvent); the
    // lamps, the status line and the list stay lit.
    const QList<QWidget*> inputs = {menuBar(), Panel5, Panel6};
    for (QWidget* w : inputs) w->setEnabled(false);
    const int shown = showAfterMs > 0 ? progress.Run(showAfterMs) : progress.Run();
    for (QWidget* w : inputs) w->setEnabled(true);
    // The completion may have been handled while the window was up: the job
    // is looked up again rather than touched.
    if (shown != QDialog::Accepted) {
        for (auto& j : FJobs)
            if (j->Id == id) j->Cancel = true;
        FWorker->RequestAbort();
    }
    FProgress = nullptr;
    FProgressJob = 0;
}

void TForm1::CancelOperations() {
    for (auto& job : FJobs) job->Cancel = true;
    FWorker->RequestAbort();
    if (FProgress) FProgress->reject();
}

void TForm1::TakeReports() {
    const TReportBatch batch = FReports.Take();
    // While reports come the GUI takes them at its own pace; a take that
    // finds nothing gives the hand-over back to the worker.
    if (!batch.Empty() || !FReports.Release()) FReportTimer->start();
    if (batch.Sector && FWorker && LineOpen()) {
        SetBusy();
        SetLamp(Image2, batch.Lamp);
        QString text = batch.Op < OperationCount ? QString::fromStdString(Cp1251ToUtf8(OperationTexts[batch.Op]))
                       : batch.Op == opBackupMedium  ? QStringLiteral("сохранение образа ")
                       : batch.Op == opRestoreMedium ? QStringLiteral("восстановление из образа ")
                                                     : QString();
        if (batch.Op == opBackupMedium || batch.Op == opRestoreMedium) text += CurrentFile();
        if (batch.Op >= opDeleteFile && batch.Op <= opGetFileAttr) text += CurrentFile();
        ShowStatus(text);
    }
    for (const TProgressReport& r : batch.Progress) {
        if (!FProgress || r.Job != FProgressJob) continue;
        switch (r.What) {
            case TProgressReport::Step: emit ProgressStepped(r.Count); break;
            case TProgressReport::FileStart: emit FileStarted(r.Count, r.Text); break;
            case TProgressReport::Finish: emit ProgressFinished(); break;
        }
    }
}

// ---------------------------------------------------------------- completions

void TForm1::WMOperationDone(uint8_t op, uint8_t result) {
    if (op == opInit) {
        InitDone(result);
        emit OperationDone(op, result);
        return;
    }
    // The device stopped answering, or answered "busy" for ever.
    if (result == feLinkLost || result == feNotReady) LinkLost();
    if (FClosePending) {
        // The window is closing: no prompts, no further requests.
        emit OperationDone(op, result);
        if (!TransferRunning()) close();
        return;
    }
    if (op == opFormat) {
        // The list empties before the report, so that the box is not seen
        // over the files that are gone.
        FMyListBox->ClearAll();
        if (result == 0) {
            FMediumNote.clear();
            if (FState == formIdle) ShowIdleStatus();
            FMessageBoxes->Show(this, QStringLiteral("ZVT успешно отформатировано"), TMsgDlgType::Custom);
        }
    } else if (op == opReadDir) {
        ListDone(result);
    } else if (op == opSaveFile) {
        WriteDone(result);
    }
    if (result == feAborted) Action4Execute();
    if ((op == opLoadFile || op == opDeleteFile) && FBatch.Op == op) {
        ReportBatch(op, result);
    } else if (result != 0) {
        QString text = ErrorText(result);
        // The window's own texts end where the file's name belongs.
        if (result >= pcNoMemory && result <= pcReadFailed) text += CurrentFile();
        FMessageBoxes->Show(this, text, TMsgDlgType::Error);
    }
    ShowJournalWarning();
    emit OperationDone(op, result);
}

void TForm1::InitDone(uint8_t result) {
    if (result == feWrongDevice) {
        // Another device answered the identification.
        // Its code tells a device of another kind from a port of another
        // device.
        const QString note = FDriver ? QString::fromStdString(FDriver->WrongDeviceNote()) : QString();
        ClosePort();
        const QString text = QStringLiteral("Неизвестный код устройства ") + note;
        FMessageBoxes->Show(this, text, TMsgDlgType::Error);
        return;
    }
    if (result == feNoAnswer) {
        DeviceSilent(false);  // the link check asks again
        return;
    }
    if (result == feInternalError) {
        // A fault of this program, not of the device: said as such, once;
        // the port is released rather than asked again at every tick.
        ClosePort();
        FMessageBoxes->Show(this, ErrorText(result), TMsgDlgType::Error);
        return;
    }
    FLinkUp = true;
    FSilentNote.clear();
    EnableDeviceActions();
    SetLamp(Image1, lampGreen);
    FMediumNote = NeedsFormat(result) ? MessageText(result) : QString();
    if (FState == formIdle) ShowIdleStatus();
    if (!NeedsFormat(result)) RunOperation(opReadDir);
}

void TForm1::ListDone(uint8_t& result) {
    FMyListBox->Clear();
    FCompareRows.clear();
    if (result == 0 || result == feDiskEmpty) {
        const TFileList files = FRunner->ListedFiles();
        QStringList listed;
        for (int i = 0; i < files.Count(); ++i) {
            listed << QString::fromStdString(MediumNameToUtf8(files.Strings(i)));
            FMyListBox->AddEntry(listed.back(), files.Sizes(i), std::string(), true);
        }
        // A replacement whose file the medium no longer holds has nothing
        // left to replace: its write is a plain one.
        for (int i = 0; i < FMyListBox->Count(); ++i)
            if (!FMyListBox->Flags(i) && FMyListBox->Replaces(i) &&
                !listed.contains(FMyListBox->DisplayName(i), Qt::CaseInsensitive))
                FMyListBox->SetReplaces(i, false);
    }
    if (result == feDiskEmpty) result = 0;
}

void TForm1::WriteDone(uint8_t& result) {
    if (result == pcMissing) {
        const int answer = FMessageBoxes->Ask(
            this, QStringLiteral("Файл ") + CurrentFile() + QStringLiteral(" не найден. Продолжить выполнение операции?"),
            TMsgDlgType::Error, mbOK | mbAbort);
        if (answer != mrOk || FNames.empty()) {
            result = feAborted;
            return;
        }
        FNames.erase(FNames.begin());  // the missing file
        ++FBatch.Skipped;
        result = 0;
        if (!FNames.empty()) RunOperation(opSaveFile);
    } else if (result == feNoRoomForCopy) {
        NoRoomForCopy(result);
    } else if (result == pcVerifyFailed) {
        FMessageBoxes->Show(this,
                            QStringLiteral("Ошибка проверки файла ") + FBatch.Stopped + QStringLiteral(": ") +
                                FBatch.Report + BatchCounts(),
                            TMsgDlgType::Error);
        result = 0;
    } else if (result != 0) {
        FMessageBoxes->Show(this,
                            QStringLiteral("Ошибка записи файла ") + CurrentFile() + QStringLiteral(": ") +
                                ErrorText(result) + BatchCounts(),
                            TMsgDlgType::Error);
        result = 0;
    }
}

void TForm1::NoRoomForCopy(uint8_t& result) {
    const QString name = FBatch.Stopped.isEmpty() ? CurrentFile() : FBatch.Stopped;
    const int answer = FMessageBoxes->Ask(
        this,
        QStringLiteral("На флэш нет места для новой копии файла ") + name +
            QStringLiteral(" рядом со старой. Удалить старый файл с флэш и записать новый на его место?\n"
                           "Если запись прервётся, на флэш не останется ни старого, ни нового файла."),
        TMsgDlgType::Warning, mbYes | mbNo);
    result = 0;
    if (FNames.empty()) return;
    if (answer == mrYes) {
        FDeleteFirst << FNames.front();
    } else {
        // The old file stays; the other files are still written.
        FNames.erase(FNames.begin());
        ++FBatch.Skipped;
    }
    if (!FNames.empty()) RunOperation(opSaveFile);
}

// ---------------------------------------------------------------- what a command did

QString TForm1::ErrorText(uint8_t result) const {
    QString text = MessageText(result);
    if (result != feInternalError) return text;
    QString what = FRunner ? FRunner->InternalError() : QString();
    if (what.isEmpty() && FWorker) what = QString::fromUtf8(FWorker->FInternalError.c_str());
    return what.isEmpty() ? text : text + QStringLiteral(": ") + what;
}

void TForm1::StartBatch(uint8_t op, int total) { FBatch = TBatch{op, total, 0, 0, QString(), QString()}; }

void TForm1::CountJob(const TTransferJob& job) {
    if (FBatch.Op != job.Op) return;
    FBatch.Done += job.Count(TFileState::Done);
    FBatch.Skipped += job.Count(TFileState::Skipped);
    FBatch.Stopped.clear();
    FBatch.Report.clear();
    for (const TTransferFile& file : job.Files) {
        if (file.State != TFileState::Failed && file.State != TFileState::Waiting) continue;
        FBatch.Stopped = file.Name;
        FBatch.Report = file.Report;
        break;
    }
}

QString TForm1::BatchCounts() const {
    const QString verb = FBatch.Op == opLoadFile   ? QStringLiteral("загружено")
                         : FBatch.Op == opDeleteFile ? QStringLiteral("удалено")
                                                     : QStringLiteral("записано");
    QString text = QStringLiteral("; %1 файлов: %2 из %3").arg(verb).arg(FBatch.Done).arg(FBatch.Total);
    if (FBatch.Skipped > 0) text += QStringLiteral(", пропущено: %1").arg(FBatch.Skipped);
    return text;
}

void TForm1::ReportBatch(uint8_t op, uint8_t result) {
    if (result == 0) {
        // A load that left files out because the folder had them says so.
        if (op == opLoadFile && FBatch.Skipped > 0)
            FMessageBoxes->Show(this,
                                QStringLiteral("Загружено файлов: %1 из %2, пропущено (такой файл уже есть в папке): %3")
                                    .arg(FBatch.Done)
                                    .arg(FBatch.Total)
                                    .arg(FBatch.Skipped),
                                TMsgDlgType::Information);
        return;
    }
    QString text = ErrorText(result);
    // The window's own texts end where the file's name belongs.
    if (result >= pcNoMemory && result <= pcReadFailed) text += CurrentFile();
    const QString what = op == opLoadFile ? QStringLiteral("Ошибка загрузки файла ") : QStringLiteral("Ошибка удаления файла ");
    const QString file = FBatch.Stopped.isEmpty() ? CurrentFile() : FBatch.Stopped;
    FMessageBoxes->Show(this, what + file + QStringLiteral(": ") + text + BatchCounts(), TMsgDlgType::Error);
}

bool TForm1::MayOverwrite(const QString& folder, const QString& name, int& answer) {
    const QFileInfo target(folder + name);
    if (!target.exists() && !target.isSymLink()) return true;
    if (answer != mrYesToAll && answer != mrNoToAll) {
        QString shownFolder = QDir::toNativeSeparators(folder);
        if (shownFolder.size() > 1 && (shownFolder.endsWith(QLatin1Char('/')) || shownFolder.endsWith(QLatin1Char('\\'))))
            shownFolder.chop(1);
        answer = FMessageBoxes->Ask(this,
                                    QStringLiteral("Файл ") + name + QStringLiteral(" уже есть в папке ") + shownFolder +
                                        QStringLiteral(". Заменить?"),
                                    TMsgDlgType::Confirmation, mbYes | mbNo | mbNoToAll | mbYesToAll);
    }
    return answer == mrYes || answer == mrYesToAll;
}

// ---------------------------------------------------------------- commands

void TForm1::MenuSaveExecute() {
    if (!FLinkUp || !WorkerReady()) return;
    FNames.clear();
    // Pending rows only: a program the compare showed from its folder is
    // not waiting to be written.
    for (int i = 0; i < FMyListBox->Count(); ++i)
        if (FMyListBox->Pending(i)) FNames.push_back(FMyListBox->DisplayName(i));
    StartBatch(opSaveFile, static_cast<int>(FNames.size()));
    FDeleteFirst.clear();
    if (!FNames.empty()) RunOperation(opSaveFile);
}

void TForm1::Action4Execute() {
    if (FLinkUp && WorkerReady()) RunOperation(opReadDir);
}

void TForm1::Action5Execute() {
    FNames.clear();
    if (ListBox1->selectedItems().isEmpty()) return;
    QString folder;
    if (!ExecFolderDialog || !ExecFolderDialog(folder)) return;
    FTargetFolder = folder;
    FMayOverwrite.clear();
    StartBatch(opLoadFile, static_cast<int>(ListBox1->selectedItems().size()));
    int answer = mrNone;  // the overwrite question's, for the whole load
    TWindowResult code;
    for (int i = 0; i < FMyListBox->Count() && code.Ok();) {
        const QString name = FMyListBox->DisplayName(i);
        const QString local = FMyListBox->Flags(i) ? LocalNameOf(name) : name;
        if (!ListBox1->item(i)->isSelected()) {
            ++i;
        } else if (local.isEmpty()) {
            FMessageBoxes->Show(this,
                                QStringLiteral("Имя файла ") + name +
                                    QStringLiteral(" непригодно для файла на ПК, файл не загружен"),
                                TMsgDlgType::Error);
            code = feBadName;
        } else if (FMyListBox->Flags(i)) {
            if (!MayOverwrite(folder, local, answer)) {
                ++FBatch.Skipped;
            } else {
                if (QFileInfo::exists(folder + local)) FMayOverwrite << name;
                FNames.push_back(name);
            }
            ++i;
        } else if (CopyPendingForLoad(i, answer, code)) {
            ++i;
        }
    }
    if (!code.Ok()) {
        FNames.clear();
        return;
    }
    if (!FNames.empty()) RunOperation(opLoadFile);
    else ReportBatch(opLoadFile, 0);
}

// A pending row of a load: its PC file is copied into the target folder at
// once. Returns false when the row has been removed from the list.
bool TForm1::CopyPendingForLoad(int row, int& answer, TWindowResult& code) {
    const QString name = FMyListBox->DisplayName(row);
    const QString path = QString::fromStdString(FMyListBox->Path(row));
    if (!QFileInfo::exists(path)) {
        const int missing = FMessageBoxes->Ask(
            this, QStringLiteral("Файл ") + name + QStringLiteral(" не найден. Удалить его из списка?"),
            TMsgDlgType::Error, mbYes | mbNo | mbAbort);
        if (missing == mrYes && FMyListBox->Replaces(row)) {
            // Only the replacement goes: the row is the medium's again.
            FMyListBox->RemovePending(row);
            return true;
        }
        if (missing == mrYes) {
            FMyListBox->Delete(row);
            return false;
        }
        if (missing != mrNo) code = feAborted;
        return true;
    }
    if (!MayOverwrite(FTargetFolder, name, answer)) {
        ++FBatch.Skipped;
        return true;
    }
    QString failed;
    code = CopyPcFile(path, FTargetFolder, name, failed);
    if (!code.Ok()) FMessageBoxes->Show(this, MessageText(code.Code()) + failed, TMsgDlgType::Error);
    else ++FBatch.Done;
    return true;
}

bool TForm1::ExecFolderChoice(QString& folder) {
    // The dialog opens where the last one was confirmed: in this run the
    // current directory, at the first of the run the folder remembered.
    if (FSettings && !FLoadFolderRestored) {
        FLoadFolderRestored = true;
        const QString remembered = FSettings->LoadFolder();
        if (!remembered.isEmpty() && QFileInfo(remembered).isDir()) QDir::setCurrent(remembered);
    }
    TfolderChoice dialog(this);
    dialog.hide();
    dialog.setWindowTitle(QStringLiteral("Выберите каталог для сохранения"));
    dialog.move(geometry().center() - QPoint(dialog.width() / 2, dialog.height() / 2));
    dialog.ShowError = [this, &dialog](const QString& text) {
        FMessageBoxes->Show(&dialog, text, TMsgDlgType::Error);
    };
    if (dialog.exec() != QDialog::Accepted) return false;
    folder = dialog.SelectedPath;
    if (FSettings) FSettings->SetLoadFolder(folder);
    return true;
}

void TForm1::DelFileFlashExecute() {
    const QList<QListWidgetItem*> selected = ListBox1->selectedItems();
    if (selected.isEmpty()) return;
    const QString question = selected.size() == 1
                                 ? QStringLiteral("Удалить файл ") + selected.front()->text() + QStringLiteral("?")
                                 : QStringLiteral("Удалить выделенные файлы?");
    if (FMessageBoxes->Ask(this, question, TMsgDlgType::Confirmation, mbYes | mbNo) != mrYes) return;
    FNames.clear();
    for (int i = 0; i < FMyListBox->Count();) {
        if (!ListBox1->item(i)->isSelected()) {
            ++i;
        } else if (FMyListBox->Flags(i)) {
            FNames.push_back(FMyListBox->DisplayName(i));
            ++i;
        } else if (FMyListBox->Replaces(i)) {
            // The replacement is dropped; the medium's file was never touched.
            FMyListBox->RemovePending(i);
            ++i;
        } else {
            FMyListBox->Delete(i);  // a pending row: the PC file stays
        }
    }
    StartBatch(opDeleteFile, static_cast<int>(FNames.size()));
    if (!FNames.empty()) RunOperation(opDeleteFile);
}

void TForm1::Action2Execute() {
    if (!FLinkUp) {
        // The link may only be slow to come: ask the device now; the user
        // repeats the command once the lamp is green.
        if (LineOpen()) Timer1Timer();
        return;
    }
    if (FMessageBoxes->Ask(this,
                           QStringLiteral("Форматирование уничтожит все данные на носителе. Вы уверены что хотите "
                                          "продолжить?"),
                           TMsgDlgType::Warning, mbYes | mbNo) == mrYes)
        RunOperation(opFormat);
}

// ---------------------------------------------------------------- rows the runner changes

void TForm1::OldCopyGone(const QString& name) {
    if (const int row = FMyListBox->IndexOfName(name); row >= 0 && !FMyListBox->Flags(row))
        FMyListBox->SetReplaces(row, false);
}

void TForm1::RemoveRow(const QString& name) {
    const int i = FMyListBox->IndexOfName(name);
    if (i >= 0) FMyListBox->Delete(i);
}

void TForm1::MediumRow(const QString& name, const QString& shown, uint32_t size) {
    // A replacement that has been written is the medium's file now.
    if (const int row = FMyListBox->IndexOfName(name); row >= 0) FMyListBox->SetReplaces(row, false);
    const int i = FMyListBox->AddEntry(name, static_cast<int32_t>(size), std::string(), true);
    FMyListBox->SetSize(i, static_cast<int32_t>(size));
    // As a re-read of the list would show it.
    FMyListBox->SetDisplayName(i, shown);
    FMyListBox->Place(i);
}

}  // namespace skarvel
