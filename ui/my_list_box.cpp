#include "ui/my_list_box.h"

#include <QListWidget>
#include <stdexcept>

#include "ui/message_boxes.h"

namespace skarvel {

TMyListBox::TMyListBox(QListWidget* listBox) : ListBox(listBox) {
    if (!listBox)
        throw std::invalid_argument(
            "Ошибка создания объекта MyListBox: ListBox должен быть создан заранее");
}

TMyListBox::~TMyListBox() { delete ListBox; }

void TMyListBox::CheckAligned() const {
    if (ListBox->count() != Count()) throw std::logic_error("file list and list control out of step");
}

void TMyListBox::Clear() {
    const int n = ListBox->count();
    int i = 0;
    for (int k = 0; k < n; ++k) {
        if (Flags(i)) Delete(i);
        else ++i;
    }
}

void TMyListBox::Delete(int index) {
    TFileList::Delete(index);  // throws for an index outside the list
    delete ListBox->takeItem(index);
    CheckAligned();
}

void TMyListBox::ClearAll() {
    TFileList::Clear();
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

void TMyListBox::SetDisplayName(int index, const QString& name) {
    if (QListWidgetItem* item = ListBox->item(index)) item->setText(name);
}

int TMyListBox::AddEntry(const QString& name, int32_t size, const std::string& path, bool ofMedium) {
    const int idx = IndexOfName(name);
    if (idx < 0) {
        const int added = AddFile(path, size, ofMedium);
        ListBox->addItem(name);
        CheckAligned();
        return added;
    }
    if (ofMedium) {
        if (!Flags(idx) && Replaces(idx)) {
            // The medium still holds the file the row is to replace.
            SetReplaces(idx, true, size);
            return idx;
        }
        // The medium holds this file: the row becomes the medium's.
        SetFlag(idx, true);
        SetString(idx, std::string());
        ListBox->viewport()->update();
        return idx;
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
    return idx;
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
