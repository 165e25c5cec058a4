#include "ui/my_list_box.h"

#include <QListWidget>
#include <algorithm>
#include <numeric>
#include <stdexcept>

#include "ui/file_list_view.h"
#include "ui/message_boxes.h"

namespace skarvel {

namespace {

// Where a row is, in sorting order: the medium's rows, pending rows, folder rows.
int PlaceRank(bool ofMedium, bool folderRow) { return ofMedium ? 0 : folderRow ? 2 : 1; }

}  // namespace

TMyListBox::TMyListBox(QListWidget* listBox) : ListBox(listBox) {
    if (!listBox)
        throw std::invalid_argument(
            "Ошибка создания объекта MyListBox: ListBox должен быть создан заранее");
}

TMyListBox::~TMyListBox() { delete ListBox; }

void TMyListBox::CheckAligned() const {
    if (ListBox->count() != Count() || extra_.size() != static_cast<size_t>(Count()))
        throw std::logic_error("file list and list control out of step");
}

void TMyListBox::Clear() {
    const int n = ListBox->count();
    int i = 0;
    for (int k = 0; k < n; ++k) {
        if (Flags(i) || FolderRow(i)) Delete(i);
        else ++i;
    }
    for (TRowExtra& e : extra_) e.Compare = TCompareOutcome::Pending;
    ListBox->viewport()->update();
}

void TMyListBox::Delete(int index) {
    TFileList::Delete(index);  // throws for an index outside the list
    extra_.erase(extra_.begin() + index);
    delete ListBox->takeItem(index);
    CheckAligned();
}

void TMyListBox::ClearAll() {
    TFileList::Clear();
    extra_.clear();
    ListBox->clear();
}

int TMyListBox::IndexOfName(const QString& name) const {
    for (int i = 0; i < ListBox->count(); ++i)
        if (ListBox->item(i)->text().compare(name, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

QString TMyListBox::DisplayName(int index) const {
    const QListWidgetItem* item = ListBox->item(index);
    return item ? item->text() : QString();
}

int TMyListBox::AppendRow(const QString& name, int32_t size, const std::string& path, bool ofMedium, bool folderRow) {
    const int added = AddFile(path, size, ofMedium);
    extra_.push_back({TCompareOutcome::Pending, folderRow});
    ListBox->addItem(name);
    CheckAligned();
    return added;
}

void TMyListBox::SetDisplayName(int index, const QString& name) {
    if (QListWidgetItem* item = ListBox->item(index)) item->setText(name);
}

int TMyListBox::AddEntry(const QString& name, int32_t size, const std::string& path, bool ofMedium) {
    const int idx = IndexOfName(name);
    if (idx < 0) {
        const int added = AppendRow(name, size, path, ofMedium, false);
        return sortColumn_ < 0 && ofMedium ? AfterMediumRows(added) : Place(added);
    }
    TRowExtra& extra = extra_[static_cast<size_t>(idx)];
    if (ofMedium) {
        if (!Flags(idx) && Replaces(idx)) {
            // The medium still holds the file the row is to replace.
            SetReplaces(idx, true, size);
            return idx;
        }
        // The medium holds this file: the row becomes the medium's.
        SetFlag(idx, true);
        SetString(idx, std::string());
        extra = {};
        ListBox->viewport()->update();
        return sortColumn_ < 0 ? AfterMediumRows(idx) : Place(idx);
    }
    if (extra.FolderRow) {
        // The compare only showed the name: the file chosen takes the row.
        SetString(idx, path);
        SetSize(idx, size);
        extra = {};
        ListBox->viewport()->update();
        return Place(idx);
    }
    if (ReplaceAnswer != mrNoToAll && ReplaceAnswer != mrYesToAll && Messages) {
        ReplaceAnswer = Messages->Ask(DialogParent,
                                      QStringLiteral("Файл с именем ") + name +
                                          QStringLiteral(" уже существует. Заменить?"),
                                      TMsgDlgType::Confirmation, mbYes | mbNo | mbNoToAll | mbYesToAll);
    }
    if (ReplaceAnswer != mrYes && ReplaceAnswer != mrYesToAll) return idx;
    if (Flags(idx)) {
        // A file of the medium: nothing happens to it now. The row waits as
        // its replacement, and the write puts the new file in its place.
        const int32_t old = Sizes(idx);
        SetFlag(idx, false);
        SetReplaces(idx, true, old);
    }
    // The row now stands for this PC file (with its size, so that the
    // write's progress counts the right file).
    SetString(idx, path);
    SetSize(idx, size);
    ShowReplacement(idx);
    return Place(idx);
}

int TMyListBox::AddFolderFile(const QString& name, int32_t size, const std::string& path) {
    int idx = IndexOfName(name);
    if (idx < 0) idx = AppendRow(name, size, path, false, true);
    extra_[static_cast<size_t>(idx)].Compare = TCompareOutcome::NotOnMedium;
    ListBox->viewport()->update();
    return Place(idx);
}

void TMyListBox::SetCompare(int index, TCompareOutcome outcome) {
    extra_.at(static_cast<size_t>(index)).Compare = outcome;
    ListBox->viewport()->update();
}

// ---------------------------------------------------------------- order

bool TMyListBox::Before(int a, int b) const {
    const auto ua = static_cast<size_t>(a), ub = static_cast<size_t>(b);
    int byColumn = 0;
    switch (sortColumn_) {
        case colSize: byColumn = Sizes(a) < Sizes(b) ? -1 : Sizes(a) > Sizes(b); break;
        case colPlace:
            byColumn = PlaceRank(Flags(a), extra_[ua].FolderRow) - PlaceRank(Flags(b), extra_[ub].FolderRow);
            break;
        case colCompare:
            byColumn = QString::compare(QString::fromUtf8(CompareOutcomeText(extra_[ua].Compare)),
                                        QString::fromUtf8(CompareOutcomeText(extra_[ub].Compare)));
            break;
        default: break;
    }
    if (byColumn == 0) byColumn = DisplayName(a).compare(DisplayName(b), Qt::CaseInsensitive);
    return descending_ ? byColumn > 0 : byColumn < 0;
}

void TMyListBox::SortBy(int column, bool descending) {
    sortColumn_ = column;
    descending_ = descending;
    Resort();
}

void TMyListBox::Resort() {
    if (sortColumn_ < 0) return;
    std::vector<int> order(static_cast<size_t>(Count()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [this](int a, int b) { return Before(a, b); });
    if (std::is_sorted(order.begin(), order.end())) return;
    // The control's items are taken out and put back in the new order, each
    // keeping its selection.
    QListWidgetItem* const current = ListBox->currentItem();
    std::vector<std::pair<QListWidgetItem*, bool>> items;
    for (int i = 0; i < ListBox->count(); ++i) items.emplace_back(ListBox->item(i), ListBox->item(i)->isSelected());
    while (ListBox->count() > 0) ListBox->takeItem(ListBox->count() - 1);
    RebuildModel(order);
    for (int i : order) ListBox->addItem(items[static_cast<size_t>(i)].first);
    for (const auto& [item, selected] : items) item->setSelected(selected);
    if (current) ListBox->setCurrentItem(current, QItemSelectionModel::NoUpdate);
    CheckAligned();
}

int TMyListBox::Place(int index) {
    if (sortColumn_ < 0) return index;
    // The other rows are in order already: the row goes before the first
    // of them it sorts before.
    int to = 0;
    for (int i = 0; i < Count(); ++i)
        if (i != index && !Before(index, i)) to = i < index ? i + 1 : i;
    return MoveRow(index, to);
}

int TMyListBox::AfterMediumRows(int index) {
    // In the order rows came, the medium's rows come first, as when the
    // medium was listed before any file was chosen: a medium read again
    // (a reconnect, a refresh) does not go below the pending rows.
    int to = 0;
    while (to < index && Flags(to)) ++to;
    return MoveRow(index, to);
}

int TMyListBox::MoveRow(int index, int to) {
    if (to == index) return index;
    std::vector<int> order(static_cast<size_t>(Count()));
    std::iota(order.begin(), order.end(), 0);
    order.erase(order.begin() + index);
    order.insert(order.begin() + to, index);
    RebuildModel(order);
    QListWidgetItem* const current = ListBox->currentItem();
    QListWidgetItem* item = ListBox->item(index);
    const bool selected = item->isSelected();
    ListBox->takeItem(index);
    ListBox->insertItem(to, item);
    item->setSelected(selected);
    if (current) ListBox->setCurrentItem(current, QItemSelectionModel::NoUpdate);
    CheckAligned();
    return to;
}

void TMyListBox::RebuildModel(const std::vector<int>& order) {
    const TFileList old = *this;
    const std::vector<TRowExtra> oldExtra = extra_;
    TFileList::Clear();
    extra_.clear();
    for (int i : order) {
        AddFile(old.Strings(i), old.Sizes(i), old.Flags(i));
        extra_.push_back(oldExtra[static_cast<size_t>(i)]);
    }
}

namespace {

constexpr int ReplacesRole = Qt::UserRole + 1;
constexpr int ReplacedSizeRole = Qt::UserRole + 2;

}  // namespace

bool TMyListBox::Replaces(int index) const {
    const QListWidgetItem* item = ListBox->item(index);
    return item && item->data(ReplacesRole).toBool();
}

int32_t TMyListBox::ReplacedSize(int index) const {
    const QListWidgetItem* item = ListBox->item(index);
    return item ? item->data(ReplacedSizeRole).toInt() : 0;
}

void TMyListBox::SetReplaces(int index, bool replaces, int32_t replacedSize) {
    QListWidgetItem* item = ListBox->item(index);
    if (!item) return;
    item->setData(ReplacesRole, replaces);
    item->setData(ReplacedSizeRole, replaces ? replacedSize : 0);
    ShowReplacement(index);
}

void TMyListBox::ShowReplacement(int index) {
    QListWidgetItem* item = ListBox->item(index);
    if (!item) return;
    if (!Replaces(index)) {
        item->setToolTip(QString());
    } else {
        item->setToolTip(QStringLiteral("Заменит файл %1 на флэш (%2 байт) файлом ПК %3 (%4 байт).\n"
                                        "До записи (F7) файл на флэш не меняется.")
                             .arg(item->text())
                             .arg(ReplacedSize(index))
                             .arg(QString::fromStdString(Path(index)))
                             .arg(Sizes(index)));
    }
    ListBox->viewport()->update();
}

void TMyListBox::RemovePending(int index) {
    if (Flags(index)) return;
    if (!Replaces(index)) {
        Delete(index);
        return;
    }
    const int32_t old = ReplacedSize(index);
    SetReplaces(index, false);
    SetFlag(index, true);
    SetString(index, std::string());
    SetSize(index, old);
    ListBox->viewport()->update();
}


}  // namespace skarvel
