#include "ui/code_editor.h"

#include <QFontDatabase>
#include <QPaintEvent>
#include <QPainter>
#include <QTextBlock>
#include <algorithm>

namespace skarvel {

namespace {

class TLineMargin : public QWidget {
public:
    explicit TLineMargin(TCodeEditor* editor) : QWidget(editor), editor_(editor) {}
    QSize sizeHint() const override { return QSize(editor_->MarginWidth(), 0); }

protected:
    void paintEvent(QPaintEvent* event) override { editor_->PaintMargin(event); }

private:
    TCodeEditor* editor_;
};

}  // namespace

TCodeEditor::TCodeEditor(QWidget* parent) : QPlainTextEdit(parent) {
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    // The cursor stays visible in a read-only pane: search and "go to line"
    // put it where they found something.
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    margin_ = new TLineMargin(this);
    connect(this, &QPlainTextEdit::blockCountChanged, this, [this] { setViewportMargins(MarginWidth(), 0, 0, 0); });
    connect(this, &QPlainTextEdit::updateRequest, this, &TCodeEditor::UpdateMargin);
    setViewportMargins(MarginWidth(), 0, 0, 0);
}

void TCodeEditor::SetLineNumbers(std::vector<int> numbers) {
    numbers_ = std::move(numbers);
    widest_ = numbers_.empty() ? 0 : *std::max_element(numbers_.begin(), numbers_.end());
    setViewportMargins(MarginWidth(), 0, 0, 0);
    margin_->update();
}

void TCodeEditor::SetWidestNumber(int n) {
    widest_ = n;
    setViewportMargins(MarginWidth(), 0, 0, 0);
}

int TCodeEditor::NumberOf(int block) const {
    if (numbers_.empty()) return block + 1;
    return block >= 0 && block < static_cast<int>(numbers_.size()) ? numbers_[static_cast<size_t>(block)] : 0;
}

int TCodeEditor::MarginWidth() const {
    const int widest = std::max({widest_, blockCount(), 9});
    const int digits = static_cast<int>(QString::number(widest).size());
    return 8 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits;
}

void TCodeEditor::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    const QRect cr = contentsRect();
    margin_->setGeometry(QRect(cr.left(), cr.top(), MarginWidth(), cr.height()));
}

void TCodeEditor::UpdateMargin(const QRect& rect, int dy) {
    if (dy) margin_->scroll(0, dy);
    else margin_->update(0, rect.y(), margin_->width(), rect.height());
}

void TCodeEditor::PaintMargin(QPaintEvent* event) {
    QPainter painter(margin_);
    painter.fillRect(event->rect(), palette().color(QPalette::Window));
    painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
    painter.setFont(font());
    QTextBlock block = firstVisibleBlock();
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    const int lineHeight = fontMetrics().height();
    // Only the blocks in view are painted: a long program costs nothing here.
    while (block.isValid() && top <= event->rect().bottom()) {
        const int bottom = top + qRound(blockBoundingRect(block).height());
        const int number = NumberOf(block.blockNumber());
        if (block.isVisible() && bottom >= event->rect().top() && number > 0)
            painter.drawText(0, top, margin_->width() - 4, lineHeight, Qt::AlignRight, QString::number(number));
        block = block.next();
        top = bottom;
    }
}

}  // namespace skarvel
