// Drag and drop with the desktop: files dropped anywhere on the main window
// become pending rows, and selected rows dragged out of the list reach the
// desktop as files, the medium's loaded into the staging folder first.
// GUI thread.
#include <QApplication>
#include <QEventLoop>
#include <QListWidget>
#include <algorithm>
#include <memory>
#include <optional>

#include "flashfs/fs_flash.h"
#include "shell/data_object.h"
#include "shell/drag_rules.h"
#include "shell/file_drop.h"
#include "ui/main_form.h"
#include "ui/message_boxes.h"
#include "ui/my_list_box.h"
#include "ui/pc_files.h"

namespace skarvel {

namespace {

// A busy pointer while the medium's files are staged; the drag that
// follows shows the platform's own cursors.
class TBusyCursor {
public:
    TBusyCursor() { QApplication::setOverrideCursor(Qt::BusyCursor); }
    ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};

// The end of a staging load, as its completion reports it.
struct TStagingOutcome {
    bool Done = false;
    std::vector<QString> Undone;
    QEventLoop* Wait = nullptr;
    // Until the completion: the box that reports a failure comes with the
    // ordinary pointer.
    std::optional<TBusyCursor> Busy;
};

}  // namespace

// ---------------------------------------------------------------- drop

void TForm1::CreateDropTarget() {
    FDropAcceptor = std::make_unique<TFileDropAcceptor>(
        [this](TFileDropAcceptor*, const QStringList& files) {
            // The files come a turn after the drop was answered; a transfer
            // that has started since keeps the window to itself.
            DropFiles(files);
        },
        [this](TFileDropAcceptor*, const QStringList&, bool& accept) { accept = AcceptsDrop(); });
    // On the window itself: none of its parts takes drops of its own, so a
    // drop on the list, a tool bar or the status line lands here alike.
    FDropAcceptor->Register(this);
}

bool TForm1::AcceptsDrop() const {
    // The list's own rows must not come back onto it; and while the progress
    // window is up the window takes no other command either.
    return !FDragOutActive && !FProgress;
}

bool TForm1::DropFiles(const QStringList& files) {
    if (!AcceptsDrop()) return false;
    RunAction([&] { AddFiles(files); });
    return true;
}

// ---------------------------------------------------------------- drag-out

void TForm1::DragOut() {
    QStringList paths;
    QStringList unfit;
    CollectDragPaths(paths, unfit);
    if (!paths.isEmpty()) StageDragFiles(paths);
    // A window closed during the staging starts no drag.
    if (!paths.isEmpty() && ExecDragDrop && isVisible()) {
        // The desktop copies the files itself; the staged ones stay.
        ExecDragDrop(new TDataObject(paths, true, QPoint(100, 100), nullptr, nullptr));
    }
    if (!unfit.isEmpty()) {
        // Told once the drag is over: a box in the middle of it would stand
        // between the pointer and the place the user is dropping on.
        QStringList lines;
        for (const QString& name : unfit)
            lines << QStringLiteral("Имя файла ") + name +
                         QStringLiteral(" непригодно для файла на ПК, файл не перетащен");
        PostToWindow([this, text = lines.join(QLatin1Char('\n'))] {
            FMessageBoxes->Show(this, text, TMsgDlgType::Error);
        });
    }
    if (ListBox1 && isVisible()) ListBox1->setFocus(Qt::OtherFocusReason);
}

void TForm1::CollectDragPaths(QStringList& paths, QStringList& unfit) const {
    const QString folder = StagingFolder();
    for (int i = 0; i < FMyListBox->Count(); ++i) {
        if (!ListBox1->item(i)->isSelected()) continue;
        const QString name = FMyListBox->DisplayName(i);
        if (!FMyListBox->Flags(i)) {
            paths << QString::fromStdString(FMyListBox->Path(i));
        } else if (const QString local = LocalNameOf(name); !local.isEmpty()) {
            paths << folder + local;
        } else {
            // It would name a file outside the staging folder, or none.
            unfit << name;
        }
    }
}

void TForm1::StageDragFiles(QStringList& paths) {
    // An entry is staged when it is the staging folder's file of a medium
    // row, named exactly as the row's file is named on the PC: a pending PC
    // file elsewhere that merely shares a medium file's name is offered as
    // it is.
    const QString folder = StagingFolder();
    // The shown name of the medium row each staged path copies; empty for
    // paths that are offered as they are.
    std::vector<QString> staged(static_cast<size_t>(paths.size()));
    FNames.clear();
    for (qsizetype k = 0; k < paths.size(); ++k) {
        if (!paths[k].startsWith(folder)) continue;
        const QString local = paths[k].mid(folder.size());
        for (int row = 0; row < FMyListBox->Count(); ++row) {
            if (!FMyListBox->Flags(row) || LocalNameOf(FMyListBox->DisplayName(row)) != local) continue;
            staged[static_cast<size_t>(k)] = FMyListBox->DisplayName(row);
            FNames.push_back(FMyListBox->DisplayName(row));
            break;
        }
    }
    if (FNames.empty()) return;

    auto outcome = std::make_shared<TStagingOutcome>();
    outcome->Busy.emplace();
    FTargetFolder = folder;
    StartBatch(opLoadFile, static_cast<int>(FNames.size()));
    FStagingLoad = true;
    struct TStagingFlag {
        bool& Flag;
        ~TStagingFlag() { Flag = false; }
    } staging{FStagingLoad};
    RunOperation(opLoadFile, [outcome](uint8_t, const std::vector<QString>& undone) {
        outcome->Done = true;
        outcome->Undone = undone;
        outcome->Busy.reset();
        if (outcome->Wait) outcome->Wait->quit();
    });
    // A cancel closes the progress window at once; the worker stops at its
    // next check, and only its completion says which files it wrote.
    if (!outcome->Done) {
        QEventLoop wait;
        outcome->Wait = &wait;
        wait.exec();
        outcome->Wait = nullptr;
    }
    // Whatever the staging folder holds under an undone name is not this
    // medium's file as it is now: a missing file, or an older copy.
    QStringList offered;
    for (qsizetype k = 0; k < paths.size(); ++k) {
        // A wait ended without the completion (the program is quitting)
        // knows of no file this staging wrote.
        const QString& shown = staged[static_cast<size_t>(k)];
        const bool undone = !shown.isEmpty() &&
                            (!outcome->Done || std::find(outcome->Undone.begin(), outcome->Undone.end(), shown) !=
                                                   outcome->Undone.end());
        if (!undone) offered << paths[k];
    }
    paths = offered;
}

}  // namespace skarvel
