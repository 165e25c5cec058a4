// The model behind the main window's file list: one row per file, either a
// file of the medium or a pending PC file chosen for writing. The model
// (a TFileList: PC path, size, of-the-medium flag) and the list control (the
// display names) are kept index-aligned. Both live on the GUI thread.
//
// Beside them each row carries the outcome of the last compare with a PC
// folder, and the compare may add rows of a third kind: a program of that
// folder that the medium lacks ("нет на ZVT"). Such a folder row stands for
// its PC file like a pending row, but is not waiting to be written: the
// write passes it by. Folder rows and outcomes last until the medium's rows
// are read again (Clear).
//
// Rows are appended in the order they come, but the medium's rows stay
// ahead of the others; once SortBy has been asked for, the rows are kept in
// that order, model and control moved together.
#pragma once

#include <QString>
#include <functional>
#include <string>

#include "flashfs/file_list.h"
#include "flashfs/folder_compare.h"

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

    // Removes the rows of the medium and the compare's folder rows, keeping
    // the pending PC files; every compare outcome is forgotten.
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

    // A program of the compared folder that the medium lacks: added as a
    // folder row (or, when a row of that name is listed, that row) with the
    // outcome NotOnMedium. Returns the row's index.
    int AddFolderFile(const QString& name, int32_t size, const std::string& path);
    // Whether row index is such a folder row.
    bool FolderRow(int index) const { return extra_.at(static_cast<size_t>(index)).FolderRow; }
    // A pending row: a PC file waiting to be written.
    bool Pending(int index) const { return !Flags(index) && !FolderRow(index); }
    // The last compare's outcome for the row (Pending: none).
    TCompareOutcome Compare(int index) const { return extra_.at(static_cast<size_t>(index)).Compare; }
    void SetCompare(int index, TCompareOutcome outcome);

    // Keeps the rows ordered by column (TListColumn: name, size, place,
    // compare; names break ties), from now on; -1 back to the order they
    // came in for rows added later.
    void SortBy(int column, bool descending);
    int SortColumn() const { return sortColumn_; }
    bool SortDescending() const { return descending_; }
    // Puts every row in that order again (after outcomes changed).
    void Resort();
    // Moves row index to its place in that order (after its size or its
    // outcome changed); returns its index there.
    int Place(int index);
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
    struct TRowExtra {
        TCompareOutcome Compare = TCompareOutcome::Pending;
        bool FolderRow = false;
    };
    void CheckAligned() const;
    // Moves row index to place to, model and control together; returns to.
    int MoveRow(int index, int to);
    // Moves a new row of the medium (unsorted list) behind the medium's
    // rows, ahead of every other row; returns its index there.
    int AfterMediumRows(int index);
    // Appends a row to the model and the control; its index (before any sort).
    int AppendRow(const QString& name, int32_t size, const std::string& path, bool ofMedium, bool folderRow);
    // The model's rows in the order given (old indexes in their new order);
    // the control's items are the caller's to move.
    void RebuildModel(const std::vector<int>& order);
    bool Before(int a, int b) const;

    std::vector<TRowExtra> extra_;
    int sortColumn_ = -1;
    bool descending_ = false;
    void ShowReplacement(int index);
};

}  // namespace skarvel
