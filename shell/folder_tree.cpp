#include "shell/folder_tree.h"

#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include "shell/folder_logic.h"

namespace skarvel {

namespace {

// Renames through the model and reports a refused name instead of letting
// the label fall back without a word.
class TRenameDelegate : public QStyledItemDelegate {
public:
    explicit TRenameDelegate(TFolderTree* tree) : QStyledItemDelegate(tree), tree_(tree) {}

    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override {
        auto* edit = qobject_cast<QLineEdit*>(editor);
        if (!edit) return QStyledItemDelegate::setModelData(editor, model, index);
        const QString name = edit->text();
        // An emptied label keeps the old name, as in the platform's file managers.
        if (name.isEmpty() || name == index.data(Qt::EditRole).toString()) return;
        const QString path = tree_->Model()->filePath(index);
        if (model->setData(index, name, Qt::EditRole)) return;
        // Queued: a message box now would take the focus from the editor
        // while it is being committed, and the focus loss would commit again.
        QMetaObject::invokeMethod(
            tree_, [tree = tree_, path, name] { emit tree->RenameFailed(path, name); }, Qt::QueuedConnection);
    }

private:
    TFolderTree* tree_;
};

}  // namespace

// Icons and type names by the kind of entry alone. The platform's provider
// asks the MIME database, which reads from the file: in /proc (kmsg) or /dev
// such a read never returns and the window would hang.
class TFolderIcons : public QFileIconProvider {
public:
    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo& info) const override { return icon(Kind(info)); }
    QString type(const QFileInfo& info) const override {
        return QString::fromLatin1(Kind(info) == Drive ? "Drive" : Kind(info) == Folder ? "Folder" : "File");
    }

private:
    static IconType Kind(const QFileInfo& info) { return info.isRoot() ? Drive : info.isDir() ? Folder : File; }
};

TFolderTree::TFolderTree(QWidget* parent)
    : QTreeView(parent), icons_(std::make_unique<TFolderIcons>()), model_(new QFileSystemModel(this)) {
    model_->setIconProvider(icons_.get());
    model_->setFilter(kFolderFilter);
    // The tree is read when folders are opened and not watched afterwards: a
    // change notice would re-read a folder while the user names a new
    // sub-folder in it, and a listing taken before the rename would drop
    // the renamed row and its selection with it.
    model_->setOption(QFileSystemModel::DontWatchForChanges);
    model_->setReadOnly(false);  // labels can be edited; only CreateFolder opens an editor
    model_->setRootPath(QDir::rootPath());
    setModel(model_);
    for (int column = 1; column < model_->columnCount(); ++column) hideColumn(column);
    setHeaderHidden(true);
    // Long names scroll sideways instead of being cut to "...": two folders
    // that differ only at their end stay apart.
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    setRootIsDecorated(false);
    setIndentation(19);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setItemDelegate(new TRenameDelegate(this));

    connect(model_, &QFileSystemModel::directoryLoaded, this, [this](const QString& path) { Listed(path); });
    connect(model_, &QAbstractItemModel::rowsInserted, this, [this] { KeepAtTop(); });
    connect(model_, &QAbstractItemModel::layoutChanged, this, [this] { KeepAtTop(); });
    connect(verticalScrollBar(), &QScrollBar::sliderPressed, this, [this] { keepAtTop_ = QPersistentModelIndex(); });
}

TFolderTree::~TFolderTree() {
    // The model's reading thread uses the icons until the model has gone.
    setModel(nullptr);
    delete model_;
}

QModelIndex TFolderTree::SelectedIndex() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? QModelIndex() : rows.first();
}

QString TFolderTree::SelectedFolder() const {
    const QModelIndex index = SelectedIndex();
    return index.isValid() ? model_->filePath(index) : QString();
}

bool TFolderTree::SelectFolder(const QString& path) {
    const QString found = FindFolder(path, FileSystemLister());
    const QModelIndex index = found.isEmpty() ? QModelIndex() : model_->index(found);
    if (!index.isValid()) return false;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) expand(up);
    setCurrentIndex(index);
    keepAtTop_ = index;
    KeepAtTop();
    return true;
}

void TFolderTree::WhenListed(const QModelIndex& parent, std::function<void()> then) {
    const QString path = model_->filePath(parent);
    if (listed_.contains(path)) return then();
    waiting_.emplace_back(path, std::move(then));
    if (model_->canFetchMore(parent)) model_->fetchMore(parent);
}

void TFolderTree::Listed(const QString& path) {
    listed_.insert(path);
    KeepAtTop();
    std::vector<std::function<void()>> ready;
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        if (it->first == path) {
            ready.push_back(std::move(it->second));
            it = waiting_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& then : ready) then();
}

QModelIndex TFolderTree::CreateFolder(const QModelIndex& parentIndex, const QString& name) {
    keepAtTop_ = QPersistentModelIndex();
    const QPersistentModelIndex parent = parentIndex;  // the new row may re-sort the tree
    const QModelIndex index = model_->mkdir(parent, name);
    if (!index.isValid()) return {};
    expand(parent);
    setCurrentIndex(index);
    scrollTo(index);
    edit(index);
    return index;
}

void TFolderTree::KeepAtTop() {
    if (keepAtTop_.isValid()) scrollTo(keepAtTop_, QAbstractItemView::PositionAtTop);
}

void TFolderTree::mousePressEvent(QMouseEvent* event) {
    keepAtTop_ = QPersistentModelIndex();
    QTreeView::mousePressEvent(event);
    emit Pressed();
}

void TFolderTree::keyPressEvent(QKeyEvent* event) {
    keepAtTop_ = QPersistentModelIndex();
    QTreeView::keyPressEvent(event);
}

void TFolderTree::keyReleaseEvent(QKeyEvent* event) {
    QTreeView::keyReleaseEvent(event);
    emit KeyReleased();
}

void TFolderTree::wheelEvent(QWheelEvent* event) {
    keepAtTop_ = QPersistentModelIndex();
    QTreeView::wheelEvent(event);
}

}  // namespace skarvel
