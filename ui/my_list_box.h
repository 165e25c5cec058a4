// The model behind the main window's file list: one row per file, either a
// file of the medium or a pending PC file chosen for writing. The model
// (a TFileList: PC path, size, of-the-medium flag) and the list control (the
// display names) are kept index-aligned. Both live on the GUI thread.
#pragma once

#include <QString>
#include <functional>
#include <string>

#include "flashfs/file_list.h"

class QListWidget;
class QWidget;

namespace skarvel {

class TMessageBoxes;

class TMyListBox : public TFileList {
public:
    // Throws std::invalid_argument when listBox is absent.
    explicit TMyListBox(QListWidget* listBox);
    // Frees the bound list control as well.
    ~TMyListBox() override;
    TMyListBox(const TMyListBox&) = delete;
    TMyListBox& operator=(const TMyListBox&) = delete;

    // Removes the rows of the medium, keeping the pending PC files.
    void Clear() override;
    // Removes row index from the model and from the control.
    void Delete(int index) override;
    // Removes every row.
    void ClearAll();

    // Adds or updates the row of name; returns the row's index (the new one
    // where a row was added). A PC file whose name a row already has asks
    // the replace question: Yes makes a pending row stand for the new file,
    // and a row of the medium a replacement (below). A file of the medium
    // whose name a pending row has turns that row into the medium's, but a
    // replacement stays pending and notes the medium file's size.
    int AddEntry(const QString& name, int32_t size, const std::string& path, bool ofMedium);

    // A replacement is a pending row whose file is to take the place of the
    // medium's file of the same name once it has been written; until then
    // the medium's file stays as it is.
    bool Replaces(int index) const;
    // The size of the medium's file a replacement takes the place of.
    int32_t ReplacedSize(int index) const;
    // Makes the row a replacement of a medium file of replacedSize bytes,
    // or (replaces false) a plain row again.
    void SetReplaces(int index, bool replaces, int32_t replacedSize = 0);
    // Takes a pending row out of the list: a replacement becomes the
    // medium's row again (its file there was never touched), any other
    // pending row goes.
    void RemovePending(int index);

    // Index of the first row whose display name equals name, letter case
    // ignored; -1 when there is none.
    int IndexOfName(const QString& name) const;
    QString DisplayName(int index) const;
    // The row shows name from now on (the medium's spelling of the name).
    void SetDisplayName(int index, const QString& name);
    // The PC path of a pending row (UTF-8); empty for a row of the medium.
    const std::string& Path(int index) const { return Strings(index); }

    QListWidget* ListBox;
    // The replace question's last answer (a modal result): 1 at the start of
    // a batch (ask again), 6 Yes, 7 No, 9 No to All, 10 Yes to All.
    int ReplaceAnswer = 0;

    // Where the replace prompt is asked.
    TMessageBoxes* Messages = nullptr;
    QWidget* DialogParent = nullptr;
private:
    void CheckAligned() const;
    void ShowReplacement(int index);
};

}  // namespace skarvel
