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

    // Adds or updates the row of name (see the replace prompt); returns the
    // row's index (the new one where a row was added).
    int AddEntry(const QString& name, int32_t size, const std::string& path, bool ofMedium);

    // Index of the first row whose display name equals name, letter case
    // ignored; -1 when there is none.
    int IndexOfName(const QString& name) const;
    QString DisplayName(int index) const;
    // The row shows name from now on (the medium's spelling of the name).
    void SetDisplayName(int index, const QString& name);
    // The PC path of a pending row (UTF-8); empty for a row of the medium.
    const std::string& Path(int index) const { return Strings(index); }

    QListWidget* ListBox;
    // The replace prompt's last answer (a modal result): 1 at the start of a
    // batch (ask again), 6 Yes, 7 No, 9 No to All, 10 Yes to All.
    int ReplaceAnswer = 0;

    // Where the replace prompt is asked.
    TMessageBoxes* Messages = nullptr;
    QWidget* DialogParent = nullptr;
    // Replaces a file of the medium: deletes it there; true when it is gone
    // (its row is then gone too).
    std::function<bool(const QString& name)> RemoveFromMedium;

private:
    void CheckAligned() const;
};

}  // namespace skarvel
