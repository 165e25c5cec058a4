// The main window's commands that only look: the viewer of one row's text
// (F3), the compare of the medium with a PC folder and the side-by-side view
// of one compared pair. They read the medium's files into memory through the
// worker (a job of reads) and the PC files from disk; nothing is written on
// the PC or the medium. GUI thread.
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QListWidget>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <memory>

#include "core/cp1251.h"
#include "core/short_name.h"
#include "flashfs/fs_flash.h"
#include "link/zvt_drv.h"
#include "ui/diff_form.h"
#include "ui/main_form.h"
#include "ui/settings.h"
#include "ui/message_boxes.h"
#include "ui/my_list_box.h"
#include "ui/pc_files.h"
#include "ui/program_viewer.h"

namespace skarvel {

namespace {

// A read of a moment (a short program) shows no progress window at all.
constexpr int ReadShowAfterMs = 400;

// A name of the medium (code page 1251) as the list shows it.
QString Shown(const std::string& mediumName) { return QString::fromStdString(MediumNameToUtf8(mediumName)); }

QString MediumTitle(const QString& name) { return QStringLiteral("ZVT: ") + name; }

// The folder's regular files (UTF-8 names), sorted.
std::vector<std::string> FolderFiles(const QString& folder) {
    std::vector<std::string> names;
    const QStringList entries = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString& e : entries) names.push_back(e.toStdString());
    return names;
}

QString PcPathOf(const QString& folder, const std::string& pcName) {
    return QDir(folder).filePath(QString::fromStdString(pcName));
}

}  // namespace

// A window of the viewer or the compare over the main window, whole on the
// screen where it fits.
void TForm1::PlaceOver(QWidget* window) const {
    QRect r(QPoint(0, 0), window->size());
    r.moveCenter(geometry().center());
    if (const QScreen* screen = this->screen()) {
        const QRect avail = screen->availableGeometry();
        r.moveLeft(std::clamp(r.left(), avail.left(), std::max(avail.left(), avail.right() - r.width())));
        r.moveTop(std::clamp(r.top(), avail.top(), std::max(avail.top(), avail.bottom() - r.height())));
    }
    window->move(r.topLeft());
}

TProgramViewer* TForm1::Viewer() const { return FViewer; }
TDiffForm* TForm1::DiffWindow() const { return FDiff; }

int TForm1::ChosenRow() const {
    const int current = ListBox1->currentRow();
    if (current >= 0 && ListBox1->item(current)->isSelected()) return current;
    for (int i = 0; i < ListBox1->count(); ++i)
        if (ListBox1->item(i)->isSelected()) return i;
    return -1;
}

void TForm1::ReadMediumFiles(const std::vector<QString>& names,
                             std::function<void(std::vector<TTransferFile>&)> done) {
    auto owned = std::make_unique<TOperationJob>();
    TOperationJob& job = *owned;
    job.Op = opLoadFile;
    job.Id = ++FLastJobId;
    for (const QString& name : names) {
        TTransferFile file = FileOfJob(opLoadFile, name);
        file.Action = TFileAction::Read;
        job.Files.push_back(std::move(file));
    }
    job.OnFiles = std::move(done);
    FJobs.push_back(std::move(owned));
    ShowProgress(job, ReadShowAfterMs);
}

bool TForm1::ReadPcForView(const QString& path, std::vector<uint8_t>& bytes) {
    const TWindowResult result = ReadPcFile(path, bytes);
    if (result.Ok()) return true;
    FMessageBoxes->Show(this, MessageText(result.Code()) + QDir::toNativeSeparators(path), TMsgDlgType::Error);
    return false;
}

void TForm1::OpenViewer(const QString& name, const QString& where, std::vector<uint8_t> bytes) {
    auto* viewer = new TProgramViewer(this);
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->Open(name, where, std::move(bytes));
    PlaceOver(viewer);
    viewer->show();
    viewer->activateWindow();
    FViewer = viewer;
}

void TForm1::ViewExecute() {
    const int row = ChosenRow();
    if (row < 0) return;
    const QString name = FMyListBox->DisplayName(row);
    if (!FMyListBox->Flags(row)) {
        const QString path = QString::fromStdString(FMyListBox->Path(row));
        std::vector<uint8_t> bytes;
        if (ReadPcForView(path, bytes)) OpenViewer(name, QDir::toNativeSeparators(path), std::move(bytes));
        return;
    }
    if (!FLinkUp || !WorkerReady()) return;
    ReadMediumFiles({name}, [this, name](std::vector<TTransferFile>& files) {
        if (files.empty() || files.front().State != TFileState::Done) return;  // the completion names the failure
        // The window opens once the completion has been handled, so that
        // the list taking the keyboard back does not take it from the viewer.
        auto bytes = std::make_shared<std::vector<uint8_t>>(std::move(files.front().Data));
        QTimer::singleShot(0, this, [this, name, bytes] { OpenViewer(name, QStringLiteral("ZVT"), std::move(*bytes)); });
    });
}

void TForm1::CompareFolderExecute() {
    if (!FLinkUp || !WorkerReady()) return;
    // The folder last compared, in this run or an earlier one.
    QString folder = FCompareFolder.isEmpty() && FSettings ? FSettings->CompareFolder() : FCompareFolder;
    if (!ExecCompareFolderDialog || !ExecCompareFolderDialog(folder) || folder.isEmpty()) return;
    FCompareFolder = folder;
    if (FSettings) FSettings->SetCompareFolder(folder);

    std::vector<TMediumFile> medium;
    for (int i = 0; i < FMyListBox->Count(); ++i) {
        std::string name;
        if (FMyListBox->Flags(i) && Utf8ToMediumName(FMyListBox->DisplayName(i).toStdString(), name))
            medium.push_back({name, static_cast<uint32_t>(std::max(0, FMyListBox->Sizes(i)))});
    }
    const std::string folderUtf8 = folder.toStdString();
    auto rows = std::make_shared<std::vector<TCompareRow>>(PairWithFolder(
        medium, FolderFiles(folder),
        [&](const std::vector<std::string>& names) { return FolderShortNames(folderUtf8, names); }));

    std::vector<QString> toRead;
    for (const TCompareRow& row : *rows)
        if (row.Outcome == TCompareOutcome::Pending) toRead.push_back(Shown(row.MediumName));
    if (toRead.empty()) {
        ShowCompare(*rows, folder);
        return;
    }
    ReadMediumFiles(toRead, [this, rows, folder](std::vector<TTransferFile>& files) {
        size_t next = 0;
        for (TCompareRow& row : *rows) {
            if (row.Outcome != TCompareOutcome::Pending) continue;
            TTransferFile& file = files.at(next++);
            // A cancel or a failure leaves the later pairs undecided: they
            // keep no outcome rather than a wrong one.
            if (file.State != TFileState::Done) continue;
            std::vector<uint8_t> pc;
            const TWindowResult read = ReadPcFile(PcPathOf(folder, row.PcName), pc);
            if (!read.Ok()) FailRow(row, MessageText(read.Code()).toStdString() + row.PcName);
            else JudgeRow(row, file.Data, pc);
        }
        ShowCompare(*rows, folder);
    });
}

void TForm1::ShowCompare(const std::vector<TCompareRow>& rows, const QString& folder) {
    QStringList failures;
    for (const TCompareRow& row : rows) {
        if (row.Outcome == TCompareOutcome::NotOnMedium) {
            const QString path = PcPathOf(folder, row.PcName);
            const auto size = static_cast<int32_t>(std::min<qint64>(QFileInfo(path).size(), INT32_MAX));
            FMyListBox->AddFolderFile(Shown(row.ShortName), size, path.toStdString());
            continue;
        }
        const int index = FMyListBox->IndexOfName(Shown(row.MediumName));
        if (index < 0) continue;
        FMyListBox->SetCompare(index, row.Outcome);
        if (row.Outcome == TCompareOutcome::Failed)
            failures << Shown(row.MediumName) + QStringLiteral(": ") + QString::fromStdString(row.Error);
    }
    FMyListBox->Resort();
    FCompareRows = rows;
    ListBox1->viewport()->update();
    if (!failures.isEmpty())
        FMessageBoxes->Show(this, QStringLiteral("Не сравнены:\n") + failures.join(QLatin1Char('\n')),
                            TMsgDlgType::Error);
}

void TForm1::CompareExecute() {
    const int row = ChosenRow();
    if (row < 0) return;
    const QString name = FMyListBox->DisplayName(row);
    const auto pair = std::find_if(FCompareRows.begin(), FCompareRows.end(), [&](const TCompareRow& r) {
        return r.Paired() && Shown(r.MediumName).compare(name, Qt::CaseInsensitive) == 0;
    });
    if (pair == FCompareRows.end() || !FMyListBox->Flags(row)) {
        FMessageBoxes->Show(this,
                            QStringLiteral("Для файла ") + name +
                                QStringLiteral(" нет пары на ПК. Сначала сравните флэш с папкой (меню ZVT, "
                                               "«Сравнить с папкой…»)"),
                            TMsgDlgType::Information);
        return;
    }
    if (!FLinkUp || !WorkerReady()) return;
    const QString path = PcPathOf(FCompareFolder, pair->PcName);
    ReadMediumFiles({name}, [this, name, path](std::vector<TTransferFile>& files) {
        if (files.empty() || files.front().State != TFileState::Done) return;
        auto medium = std::make_shared<std::vector<uint8_t>>(std::move(files.front().Data));
        QTimer::singleShot(0, this, [this, name, path, medium] {
            std::vector<uint8_t> pc;
            if (!ReadPcForView(path, pc)) return;
            auto* diff = new TDiffForm(this);
            diff->setAttribute(Qt::WA_DeleteOnClose);
            diff->Open(name, MediumTitle(name), *medium, QStringLiteral("ПК: ") + QDir::toNativeSeparators(path), pc);
            PlaceOver(diff);
            diff->show();
            diff->activateWindow();
            FDiff = diff;
        });
    });
}

}  // namespace skarvel
