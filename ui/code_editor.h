// A read-only text pane for programs: a fixed-width font, no line wrapping,
// and a margin with the line numbers. The viewer and the compare window use
// it; the compare's panes hold filler lines, so the number of each block may
// be given (LineNumbers), a blank margin for a filler.
//
// Threads: GUI thread only.
#pragma once

#include <QPlainTextEdit>
#include <vector>

namespace skarvel {

class TCodeEditor : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TCodeEditor(QWidget* parent = nullptr);

    // The number shown beside block i (0 for none); empty: i + 1.
    void SetLineNumbers(std::vector<int> numbers);
    // The largest number the margin must hold, so that it does not widen
    // while a long text is still being added.
    void SetWidestNumber(int n);
    int MarginWidth() const;

    // The margin's painting (called by the margin widget).
    void PaintMargin(QPaintEvent* event);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void UpdateMargin(const QRect& rect, int dy);
    int NumberOf(int block) const;

    QWidget* margin_;
    std::vector<int> numbers_;
    int widest_ = 0;
};

}  // namespace skarvel
