// The main window's list control: a list widget whose rows are drawn in
// columns (name, size in bytes, where the file is, the compare's outcome)
// under a header inside the list's frame. A click on a header asks for the
// rows to be sorted by that column (SortRequested); the list model does the
// sorting (TMyListBox::SortBy), so that the model and the control stay index
// for index. The rows themselves are drawn by the window (its delegate);
// this class only says where each column lies.
//
// Threads: GUI thread only.
#pragma once

#include <QListWidget>

class QHeaderView;
class QStandardItemModel;

namespace skarvel {

enum TListColumn : int { colName = 0, colSize, colPlace, colCompare, ListColumnCount };

class TFileListView : public QListWidget {
    Q_OBJECT
public:
    explicit TFileListView(QWidget* parent = nullptr);

    QHeaderView* Header() const { return header_; }
    // Where a column of the row `row` (viewport coordinates) lies.
    QRect ColumnRect(int column, const QRect& row) const;
    // Width of the columns together, the last one as wide as `lastText`
    // needs: the width a row asks for, so that the list scrolls sideways
    // only when the columns do not fit.
    int RowWidth(int lastTextWidth) const;
    // Shows the sort indicator (column -1: none).
    void ShowSortIndicator(int column, Qt::SortOrder order);

signals:
    void SortRequested(int column, Qt::SortOrder order);

protected:
    void updateGeometries() override;

private:
    void SetInitialWidths();

    QHeaderView* header_;
    QStandardItemModel* headerModel_;
    int sortColumn_ = -1;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

// The header's texts.
QString ListColumnTitle(int column);

}  // namespace skarvel
