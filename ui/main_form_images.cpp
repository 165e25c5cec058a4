// The main window's whole-medium images (the medium saved into an image
// file, an image written back onto the medium), its transfer journal, and
// its work on an image file in place of the serial port. GUI thread.
#include <QFileDialog>
#include <QFileInfo>
#include <stdexcept>

#include "core/journal.h"
#include "flashfs/image_transport.h"
#include "flashfs/medium_image.h"
#include "link/zvt_drv.h"
#include "ui/journal_form.h"
#include "ui/main_form.h"
#include "ui/message_boxes.h"
#include "ui/my_list_box.h"
#include "ui/transfer_runner.h"

namespace skarvel {

// ---------------------------------------------------------------- the line

bool TForm1::LineOpen() const {
    if (FDriver) return FDriver->ComPort.Connected();
    return FImageWorker && FImageWorker->Image.IsOpen();
}

std::string TForm1::LineName() const {
    if (FDriver) return FDriver->ComPort.Port();
    return "образ " + FImagePath;
}

bool TForm1::WorkerReady() {
    if (FDriver) return FDriver->IsReady();
    return FWorker->Mounted() && LineOpen();
}

void TForm1::CreateImageWorker(const TFormOptions& options) {
    // The file is opened with the line.
    FImagePath = options.Image;
    FImageWorker->Image.OnReadSector = [this] { DoReadSector(); };
    FImageWorker->Image.OnWriteSector = [this] { DoWriteSector(); };
    FWorker = FImageWorker.get();
    setWindowTitle(QStringLiteral("Skarvel — образ ") + QFileInfo(QString::fromStdString(FImagePath)).fileName());
    // An image file has no line settings.
    Action7->setVisible(false);
}

void TForm1::OpenImageFile() {
    std::string error;
    // A medium is prepared without the device on a new image: a blank
    // medium of the device's size, which the format command formats.
    const bool made = !PathExists(FImagePath);
    const bool open = made ? FImageWorker->Image.Create(FImagePath, ZvtMediumSize, error)
                           : FImageWorker->Image.Open(FImagePath, error);
    if (!open) throw std::runtime_error("Не удалось открыть образ носителя " + error);
}

void TForm1::CloseImageFile() {
    std::string error;
    if (!FImageWorker->Image.Close(error))
        FMessageBoxes->Show(this,
                            QStringLiteral("Образ ") + QString::fromStdString(FImagePath) +
                                QStringLiteral(" мог не сохраниться на диске: ") + QString::fromStdString(error),
                            TMsgDlgType::Error);
}

// ---------------------------------------------------------------- the journal

void TForm1::CreateJournal(const TFormOptions& options) {
    FJournal = std::make_unique<TJournal>(options.JournalPath.empty() ? DefaultJournalPath() : options.JournalPath);
    FJournal->OnWarning = [this](const std::string& text) {
        // Worker thread. The box waits until no progress window is up; the
        // transfer goes on meanwhile.
        PostToWindow([this, text = QString::fromStdString(text)] {
            FJournalWarning = text;
            if (!FProgress) ShowJournalWarning();
        });
    };
}

void TForm1::ShowJournalWarning() {
    if (FJournalWarning.isEmpty()) return;
    const QString text = FJournalWarning;
    FJournalWarning.clear();
    FMessageBoxes->Show(this, QStringLiteral("Внимание: ") + text, TMsgDlgType::Warning);
}

void TForm1::JournalAcExecute() {
    if (!FJournalForm) FJournalForm = new TJournalForm(FJournal->Path(), this);
    FJournalForm->Reload();
    FJournalForm->show();
    FJournalForm->raise();
    FJournalForm->activateWindow();
}

// ---------------------------------------------------------------- images

QString TForm1::AskImageFile(bool save) {
    if (ExecImageDialog) return ExecImageDialog(save);
    const QString filter = QStringLiteral("Образы носителя (*.img);;Все файлы (*)");
    if (!save) return QFileDialog::getOpenFileName(this, QStringLiteral("Восстановить носитель из образа"), QString(), filter);
    // The replace question is the window's own, with the safe default.
    return QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить образ носителя"), QString(), filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

void TForm1::SaveImageExecute() {
    if (!FLinkUp) {
        if (LineOpen()) Timer1Timer();
        return;
    }
    const QString path = AskImageFile(true);
    if (path.isEmpty()) return;
    if (QFileInfo::exists(path) &&
        FMessageBoxes->Ask(this,
                           QStringLiteral("Файл ") + path +
                               QStringLiteral(" уже существует. Заменить его образом носителя?"),
                           TMsgDlgType::Confirmation, mbYes | mbNo | mbSafeDefault) != mrYes)
        return;
    TOperationJob* job = NewJob(opBackupMedium);
    job->ImagePath = path.toStdString();
    ShowProgress(*job);
}

void TForm1::RestoreImageExecute() {
    if (!FLinkUp) {
        if (LineOpen()) Timer1Timer();
        return;
    }
    const QString path = AskImageFile(false);
    if (path.isEmpty()) return;
    std::vector<uint8_t> image;
    std::string error;
    if (!LoadMediumImage(path.toStdString(), image, error)) {
        FMessageBoxes->Show(this, QStringLiteral("Не удалось прочитать образ ") + QString::fromStdString(error),
                            TMsgDlgType::Error);
        return;
    }
    const std::string why = CheckMediumImage(image, FWorker->MediumSize());
    if (!why.empty()) {
        FMessageBoxes->Show(this,
                            QStringLiteral("Образ ") + path + QStringLiteral(" не подходит к этому носителю: ") +
                                QString::fromStdString(why),
                            TMsgDlgType::Error);
        return;
    }
    if (FMessageBoxes->Ask(this,
                           QStringLiteral("Восстановить носитель из образа ") + path +
                               QStringLiteral("? Всё, что сейчас на носителе, будет заменено содержимым образа и "
                                              "потеряно."),
                           TMsgDlgType::Warning, mbYes | mbNo | mbSafeDefault) != mrYes)
        return;
    TOperationJob* job = NewJob(opRestoreMedium);
    job->ImagePath = path.toStdString();
    job->Image = std::move(image);
    ShowProgress(*job);
}

namespace {

QString BackupText(const TTransferJob& job) {
    const QString path = QString::fromStdString(job.ImagePath);
    switch (job.Copy.End) {
        case TCopyEnd::Done:
            if (!job.SaveError.empty())
                return QStringLiteral("Образ не сохранён: ") + QString::fromStdString(job.SaveError);
            return QStringLiteral("Образ носителя сохранён в файл ") + path;
        case TCopyEnd::Aborted: return QStringLiteral("Сохранение образа прервано; файл ") + path + QStringLiteral(" не изменён");
        default: return QStringLiteral("Образ не сохранён: ") + QString::fromStdString(MediumCopyText(job.Copy));
    }
}

QString RestoreText(const TTransferJob& job) {
    const QString path = QString::fromStdString(job.ImagePath);
    const QString incomplete = QStringLiteral(
        "Носитель теперь неполон и не читается: восстановите его из образа ещё раз или отформатируйте.");
    switch (job.Copy.End) {
        case TCopyEnd::Done: return QStringLiteral("Носитель восстановлен из образа ") + path;
        case TCopyEnd::Refused:
            return QStringLiteral("Образ ") + path + QStringLiteral(" не подходит к этому носителю: ") +
                   QString::fromStdString(job.Copy.Why);
        case TCopyEnd::Aborted: return QStringLiteral("Восстановление из образа прервано. ") + incomplete;
        default:
            if (!job.Copy.Wrote)
                return QStringLiteral("Восстановление не начато: ") + QString::fromStdString(MediumCopyText(job.Copy));
            return QStringLiteral("Восстановление из образа не закончено (") +
                   QString::fromStdString(MediumCopyText(job.Copy)) + QStringLiteral("). ") + incomplete;
    }
}

}  // namespace

void TForm1::ImageDone(const TOperationJob& job, uint8_t result) {
    const TCopyEnd end = job.Copy.End;
    const bool linkLost = end == TCopyEnd::Failed && (job.Copy.Error == feWrongDevice || job.Copy.Error == feNotReady);
    if (linkLost) LinkLost();
    if (FClosePending) {
        if (!TransferRunning()) close();
        return;
    }
    const bool restore = job.Op == opRestoreMedium;
    const bool good = result == 0;
    FMessageBoxes->Show(this, restore ? RestoreText(job) : BackupText(job),
                        good ? TMsgDlgType::Information : TMsgDlgType::Error);
    // What a restore wrote is read afresh: the volume it left, or none.
    if (restore && job.Copy.Wrote && !linkLost) {
        FMyListBox->Clear();
        FLinkUp = false;
        RunOperation(opInit);
    }
    ShowJournalWarning();
}

}  // namespace skarvel
