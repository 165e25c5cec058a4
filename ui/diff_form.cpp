#include "ui/diff_form.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QScrollBar>
#include <QShortcut>
#include <QTextBlock>
#include <QThreadPool>
#include <climits>

#include "ui/code_editor.h"
#include "ui/program_highlighter.h"
#include "ui/program_text.h"

namespace skarvel {

namespace {

const QColor ChangedColour(0xFF, 0xF1, 0xA8);
const QColor LeftOnlyColour(0xFF, 0xD4, 0xD4);
const QColor RightOnlyColour(0xD2, 0xF4, 0xD2);
const QColor FillerColour(0xE6, 0xE6, 0xE6);

QStringList Lines(const std::vector<uint8_t>& bytes) {
    size_t at = 0;
    if (bytes.empty()) return {};
    return DecodeProgramLines(bytes, at, INT_MAX).split(QLatin1Char('\n'));
}

std::vector<std::string> Utf8(const QStringList& lines) {
    std::vector<std::string> out;
    out.reserve(static_cast<size_t>(lines.size()));
    for (const QString& l : lines) out.push_back(l.toStdString());
    return out;
}

void Follow(QScrollBar* a, QScrollBar* b) {
    QObject::connect(a, &QScrollBar::valueChanged, b, &QScrollBar::setValue);
    QObject::connect(b, &QScrollBar::valueChanged, a, &QScrollBar::setValue);
}

}  // namespace

TDiffForm::TDiffForm(QWidget* owner) : QWidget(owner, Qt::Window) {
    resize(980, 600);
    Left = new TCodeEditor(this);
    Right = new TCodeEditor(this);
    new TProgramHighlighter(Left->document());
    new TProgramHighlighter(Right->document());
    LeftTitle = new QLabel(this);
    RightTitle = new QLabel(this);
    StatusLabel = new QLabel(this);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(2, 2, 2, 2);
    grid->addWidget(LeftTitle, 0, 0);
    grid->addWidget(RightTitle, 0, 1);
    grid->addWidget(Left, 1, 0);
    grid->addWidget(Right, 1, 1);
    grid->addWidget(StatusLabel, 2, 0, 1, 2);
    grid->setRowStretch(1, 1);
    Follow(Left->verticalScrollBar(), Right->verticalScrollBar());
    Follow(Left->horizontalScrollBar(), Right->horizontalScrollBar());

    const auto key = [this](const QKeySequence& seq, bool backwards) {
        auto* s = new QShortcut(seq, this);
        s->setContext(Qt::WindowShortcut);
        connect(s, &QShortcut::activated, this, [this, backwards] { NextDifference(backwards); });
    };
    key(QKeySequence(Qt::Key_F8), false);
    key(QKeySequence(Qt::SHIFT | Qt::Key_F8), true);
}

void TDiffForm::Open(const QString& name, const QString& leftTitle, const std::vector<uint8_t>& left,
                     const QString& rightTitle, const std::vector<uint8_t>& right) {
    setWindowTitle(QStringLiteral("Сравнение: ") + name);
    LeftTitle->setText(leftTitle);
    RightTitle->setText(rightTitle);
    leftLines_ = Lines(left);
    rightLines_ = Lines(right);
    aligned_ = false;
    rows_.clear();
    // Unaligned until the rows come: each side as it is.
    Left->setPlainText(leftLines_.join(QLatin1Char('\n')));
    Right->setPlainText(rightLines_.join(QLatin1Char('\n')));
    StatusLabel->setText(left == right ? QStringLiteral("Файлы совпадают байт в байт")
                                       : QStringLiteral("Сравнение строк…"));

    const int generation = ++generation_;
    QPointer<TDiffForm> self(this);
    std::vector<std::string> a = Utf8(leftLines_), b = Utf8(rightLines_);
    const bool same = left == right;
    QThreadPool::globalInstance()->start([self, generation, a = std::move(a), b = std::move(b), same]() mutable {
        std::vector<TDiffRow> rows = AlignLines(a, b);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, generation, rows = std::move(rows), same]() mutable {
                if (!self || self->generation_ != generation) return;
                self->ShowRows(std::move(rows));
                if (same) self->StatusLabel->setText(QStringLiteral("Файлы совпадают байт в байт"));
            },
            Qt::QueuedConnection);
    });
}

void TDiffForm::ShowRows(std::vector<TDiffRow> rows) {
    rows_ = std::move(rows);
    QStringList left, right;
    std::vector<int> leftNumbers, rightNumbers;
    for (const TDiffRow& r : rows_) {
        left << (r.Left >= 0 ? leftLines_[r.Left] : QString());
        right << (r.Right >= 0 ? rightLines_[r.Right] : QString());
        leftNumbers.push_back(r.Left + 1);
        rightNumbers.push_back(r.Right + 1);
    }
    Left->setPlainText(left.join(QLatin1Char('\n')));
    Right->setPlainText(right.join(QLatin1Char('\n')));
    Left->SetLineNumbers(std::move(leftNumbers));
    Right->SetLineNumbers(std::move(rightNumbers));
    MarkRows();
    aligned_ = true;
    diffAt_ = -1;
    const int differing = DifferingRows(rows_);
    StatusLabel->setText(differing == 0 ? QStringLiteral("Тексты совпадают")
                                        : QStringLiteral("Отличающихся строк: %1 (F8 — следующее отличие, Shift+F8 — "
                                                         "предыдущее)")
                                              .arg(differing));
    if (differing > 0) NextDifference();
    emit AlignmentDone();
}

void TDiffForm::MarkRows() {
    const auto mark = [](TCodeEditor* pane, int row, const QColor& colour) {
        QTextCursor c(pane->document()->findBlockByNumber(row));
        QTextBlockFormat f;
        f.setBackground(colour);
        c.setBlockFormat(f);
    };
    for (int i = 0; i < static_cast<int>(rows_.size()); ++i) {
        switch (rows_[static_cast<size_t>(i)].Kind) {
            case TLineDiff::Same: break;
            case TLineDiff::Changed:
                mark(Left, i, ChangedColour);
                mark(Right, i, ChangedColour);
                break;
            case TLineDiff::LeftOnly:
                mark(Left, i, LeftOnlyColour);
                mark(Right, i, FillerColour);
                break;
            case TLineDiff::RightOnly:
                mark(Left, i, FillerColour);
                mark(Right, i, RightOnlyColour);
                break;
        }
    }
}

int TDiffForm::CurrentRow() const { return Left->textCursor().blockNumber(); }

bool TDiffForm::NextDifference(bool backwards) {
    if (!aligned_) return false;
    const int n = static_cast<int>(rows_.size());
    const auto differs = [&](int r) { return r >= 0 && r < n && rows_[static_cast<size_t>(r)].Kind != TLineDiff::Same; };
    // A run of differing rows counts as one difference: it is entered at
    // its first row.
    int i = 0;
    if (!backwards) {
        if (diffAt_ >= 0) {
            i = diffAt_;
            while (differs(i)) ++i;
        }
        while (i < n && !differs(i)) ++i;
    } else {
        if (diffAt_ <= 0) return false;
        i = diffAt_ - 1;
        while (i >= 0 && !differs(i)) --i;
        while (differs(i - 1)) --i;
    }
    if (!differs(i)) return false;
    diffAt_ = i;
    GoToRow(i);
    return true;
}

void TDiffForm::GoToRow(int row) {
    for (TCodeEditor* pane : {Left, Right}) {
        pane->setTextCursor(QTextCursor(pane->document()->findBlockByNumber(row)));
        pane->centerCursor();
    }
}

void TDiffForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace skarvel
