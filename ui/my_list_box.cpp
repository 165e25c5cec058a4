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
    if (!Flags(idx)) {
        // Another PC file under the same name: the row now stands for it
        // (with its size, so that the write's progress counts the right file).
        SetString(idx, path);
        SetSize(idx, size);
        return idx;
    }
    // A file of the medium: it has to go from the medium first.
    if (!RemoveFromMedium || !RemoveFromMedium(name)) return idx;
    const int added = AddFile(path, size, false);
    ListBox->addItem(name);
    CheckAligned();
    return added;
}

}  // namespace skarvel
