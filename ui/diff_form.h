// The compare window: a program on the medium and its PC file side by side,
// read-only, decoded as the viewer decodes them, the lines aligned and every
// row that differs marked: changed lines in yellow, lines only one side has
// in red (left) or green (right) against a grey empty row of the other.
// Both panes scroll together. F8 goes to the next difference, Shift+F8 to
// the one before; Esc closes the window.
//
// The alignment (ui/line_diff.h) runs on a pool thread: two long programs
// that share little take a moment, and the window answers meanwhile.
//
// Threads: the window is the GUI thread's; the pool thread gets copies of
// the lines and hands the rows back through a queued call.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "ui/line_diff.h"

class QLabel;

namespace skarvel {

class TCodeEditor;

class TDiffForm : public QWidget {
    Q_OBJECT
public:
    explicit TDiffForm(QWidget* owner = nullptr);

    // Shows the two files; the marks follow once the lines are aligned.
    void Open(const QString& name, const QString& leftTitle, const std::vector<uint8_t>& left,
              const QString& rightTitle, const std::vector<uint8_t>& right);

    bool Aligned() const { return aligned_; }
    const std::vector<TDiffRow>& Rows() const { return rows_; }
    // Moves both panes to the next (or previous) differing row; false when
    // there is none that way.
    bool NextDifference(bool backwards = false);
    // The row the panes show at their cursor.
    int CurrentRow() const;

    TCodeEditor* Left;
    TCodeEditor* Right;
    QLabel* LeftTitle;
    QLabel* RightTitle;
    QLabel* StatusLabel;

signals:
    void AlignmentDone();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ShowRows(std::vector<TDiffRow> rows);
    void MarkRows();
    void GoToRow(int row);

    QStringList leftLines_, rightLines_;
    std::vector<TDiffRow> rows_;
    bool aligned_ = false;
    int diffAt_ = -1;  // the first row of the difference shown, -1: none yet
    int generation_ = 0;  // an alignment still running for an earlier Open is dropped
};

}  // namespace skarvel
