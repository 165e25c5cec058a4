// The folder tree of the folder choice dialog: the file system's folders
// (Qt's file-system model, folders only, hidden ones left out) with "/" as
// its one top-level node (the drives on Windows). Any mouse button selects;
// a folder's label is edited in place only when the dialog asks for it, and
// a confirmed edit renames the folder on disk.
//
// Threads: GUI thread only. The model lists directories on a thread of its
// own and delivers what it found to the GUI thread.
#pragma once

#include <QPersistentModelIndex>
#include <QSet>
#include <QTreeView>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QFileSystemModel;

namespace skarvel {

class TFolderIcons;

class TFolderTree : public QTreeView {
    Q_OBJECT
public:
    explicit TFolderTree(QWidget* parent = nullptr);
    ~TFolderTree() override;

    QFileSystemModel* Model() const { return model_; }
    // The selected folder (none: an invalid index) and its path in Qt's form
    // (empty when none is selected).
    QModelIndex SelectedIndex() const;
    QString SelectedFolder() const;

    // Looks path up in the tree name by name (FindFolder on the file system),
    // selects that folder and scrolls it to the top. Returns false, keeping
    // the selection, when some part of the path is not in the tree.
    bool SelectFolder(const QString& path);

    // Runs then() once the tree has read parent's sub-folders from the disk:
    // at once when it has, else when the model has listed them.
    void WhenListed(const QModelIndex& parent, std::function<void()> then);

    // Creates the folder name under parent, selects it and opens its label
    // for editing. Returns the new folder, or an invalid index when the
    // folder could not be created. Call it when parent is listed: a listing
    // still on its way would drop the new row again.
    QModelIndex CreateFolder(const QModelIndex& parent, const QString& name);

signals:
    // After a mouse press (any button) or a key release has been handled.
    void Pressed();
    void KeyReleased();
    // A confirmed label edit that the file system refused; reported after
    // the editor has closed.
    void RenameFailed(const QString& path, const QString& newName);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void KeepAtTop();
    void Listed(const QString& path);

    std::unique_ptr<TFolderIcons> icons_;
    QFileSystemModel* model_;
    // The folder SelectFolder found. Its ancestors' rows arrive from the
    // model's thread after it was selected and would push it down, so it is
    // scrolled to the top again as they come in, until the user moves.
    QPersistentModelIndex keepAtTop_;
    // Folders whose sub-folders the model has read, and the work waiting
    // for a folder to be read.
    QSet<QString> listed_;
    std::vector<std::pair<QString, std::function<void()>>> waiting_;
};

}  // namespace skarvel
