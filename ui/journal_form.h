// The journal window: the transfer journal's entries, newest first, in a
// table, with a filter by the name on the medium. It reads the journal
// file itself (core/journal.h) each time it is shown or refreshed; the main
// window owns it and shows it again when asked.
//
// Threads: GUI thread only.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "core/journal.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace skarvel {

class TJournalForm : public QDialog {
    Q_OBJECT
public:
    TJournalForm(std::string path, QWidget* owner = nullptr);

    QLineEdit* Filter;     // part of the name on the medium, letters of either case
    QTableWidget* Table;   // one row an entry, the newest first
    QLabel* Info;          // the journal's path, how many entries, what could not be read
    QPushButton* RefreshButton;
    QPushButton* CloseButton;

    // Reads the journal file again and shows it with the filter applied.
    void Reload();
    // Hides the rows whose medium name does not hold the filter's text.
    void ApplyFilter();
    // The rows shown now (tests).
    int VisibleRows() const;

private:
    std::string path_;
    std::vector<TJournalEntry> entries_;  // newest first, as the rows
};

}  // namespace skarvel
