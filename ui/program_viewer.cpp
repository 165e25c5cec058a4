#include "ui/program_viewer.h"

#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "ui/code_editor.h"
#include "ui/program_highlighter.h"
#include "ui/progress_info.h"

namespace skarvel {

TProgramViewer::TProgramViewer(QWidget* owner) : QWidget(owner, Qt::Window) {
    resize(760, 540);
    Editor = new TCodeEditor(this);
    highlighter_ = new TProgramHighlighter(Editor->document());

    FindBar = new QWidget(this);
    auto* find = new QHBoxLayout(FindBar);
    find->setContentsMargins(4, 2, 4, 2);
    find->addWidget(new QLabel(QStringLiteral("Найти:"), FindBar));
    FindEdit = new QLineEdit(FindBar);
    find->addWidget(FindEdit, 1);
    FindNote = new QLabel(FindBar);
    find->addWidget(FindNote);
    FindBar->hide();

    auto* status = new QHBoxLayout;
    status->setContentsMargins(4, 2, 4, 2);
    StatusLabel = new QLabel(this);
    PositionLabel = new QLabel(this);
    status->addWidget(StatusLabel, 1);
    status->addWidget(PositionLabel);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(Editor, 1);
    column->addWidget(FindBar);
    column->addLayout(status);

    feed_ = new QTimer(this);
    feed_->setInterval(0);
    connect(feed_, &QTimer::timeout, this, &TProgramViewer::AppendChunk);
    connect(Editor, &QPlainTextEdit::cursorPositionChanged, this, &TProgramViewer::ShowPosition);
    connect(FindEdit, &QLineEdit::returnPressed, this, [this] { FindNext(); });
    AskLine = [this](int& line) {
        bool ok = false;
        line = QInputDialog::getInt(this, QStringLiteral("Перейти к строке"), QStringLiteral("Номер строки:"),
                                    Editor->textCursor().blockNumber() + 1, 1, std::max(1, facts_.Lines), 1, &ok);
        return ok;
    };
    CreateKeys();
    ShowPosition();
}

TProgramViewer::~TProgramViewer() = default;

void TProgramViewer::CreateKeys() {
    const auto key = [this](const QKeySequence& seq, auto fn) {
        auto* s = new QShortcut(seq, this);
        s->setContext(Qt::WindowShortcut);
        connect(s, &QShortcut::activated, this, fn);
    };
    key(QKeySequence::Find, [this] { OpenFind(); });
    key(QKeySequence(Qt::Key_F3), [this] {
        if (FindEdit->text().isEmpty()) OpenFind();
        else FindNext();
    });
    key(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { FindNext(true); });
    key(QKeySequence(Qt::CTRL | Qt::Key_G), [this] { AskAndGoToLine(); });
}

void TProgramViewer::Open(const QString& name, const QString& where, std::vector<uint8_t> bytes) {
    feed_->stop();
    name_ = name;
    where_ = where;
    bytes_ = std::move(bytes);
    at_ = 0;
    facts_ = ScanProgramBytes(bytes_);
    loadedLines_ = 0;
    chunks_ = 0;
    pendingLine_ = 0;
    setWindowTitle(QStringLiteral("Просмотр: ") + name);
    Editor->SetWidestNumber(facts_.Lines);
    Editor->clear();
    ShowStatus();
    // The first screen at once; the rest a piece per turn of the loop.
    AppendChunk();
    if (Loading()) feed_->start();
}

bool TProgramViewer::Loading() const { return at_ < bytes_.size(); }

void TProgramViewer::AppendChunk() {
    const QString piece = DecodeProgramLines(bytes_, at_, ChunkLines);
    if (chunks_ == 0) {
        Editor->setPlainText(piece);
    } else {
        // A cursor of its own: the view and the reader's cursor stay where
        // they are while the text grows below them.
        QTextCursor end(Editor->document());
        end.movePosition(QTextCursor::End);
        end.insertText(QLatin1Char('\n') + piece);
    }
    ++chunks_;
    loadedLines_ = bytes_.empty() ? 0 : Editor->blockCount();
    if (Loading()) return;
    feed_->stop();
    loadedLines_ = facts_.Lines;
    if (pendingLine_ > 0) GoToLine(std::exchange(pendingLine_, 0));
    emit Loaded();
}

void TProgramViewer::ShowStatus() {
    const uint64_t size = bytes_.size();
    QString text = name_ + QStringLiteral(" (") + where_ + QStringLiteral("): ") + GroupedNumber(size) +
                   QLatin1Char(' ') + BytesWord(size) + QStringLiteral(", строк: ") + QString::number(facts_.Lines);
    if (facts_.Marks > 0)
        text += QStringLiteral(", байтов без знака (показаны значками): ") + QString::number(facts_.Marks);
    if (!facts_.Text) text += QStringLiteral(". Файл не текстовый");
    StatusLabel->setText(text);
}

void TProgramViewer::ShowPosition() {
    const QTextCursor c = Editor->textCursor();
    PositionLabel->setText(QStringLiteral("Строка %1, столбец %2").arg(c.blockNumber() + 1).arg(c.positionInBlock() + 1));
}

void TProgramViewer::OpenFind() {
    FindBar->show();
    FindEdit->setFocus();
    FindEdit->selectAll();
}

bool TProgramViewer::FindNext(bool backwards) {
    const QString what = FindEdit->text();
    FindNote->clear();
    if (what.isEmpty()) return false;
    const QTextDocument::FindFlags flags = backwards ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    if (Editor->find(what, flags)) return true;
    // Round the end to the other side of the text.
    const QTextCursor from = Editor->textCursor();
    QTextCursor edge(Editor->document());
    edge.movePosition(backwards ? QTextCursor::End : QTextCursor::Start);
    Editor->setTextCursor(edge);
    if (Editor->find(what, flags)) {
        FindNote->setText(backwards ? QStringLiteral("поиск продолжен с конца") : QStringLiteral("поиск продолжен с начала"));
        return true;
    }
    Editor->setTextCursor(from);
    FindNote->setText(Loading() ? QStringLiteral("не найдено (файл ещё открывается)") : QStringLiteral("не найдено"));
    return false;
}

void TProgramViewer::GoToLine(int line) {
    line = std::clamp(line, 1, std::max(1, facts_.Lines));
    if (line > Editor->blockCount() && Loading()) {
        pendingLine_ = line;  // taken once that line is in the pane
        return;
    }
    const QTextBlock block = Editor->document()->findBlockByNumber(line - 1);
    if (!block.isValid()) return;
    Editor->setTextCursor(QTextCursor(block));
    Editor->centerCursor();
    Editor->setFocus();
}

void TProgramViewer::AskAndGoToLine() {
    int line = 0;
    if (AskLine && AskLine(line)) GoToLine(line);
}

void TProgramViewer::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        if (FindBar->isVisible() && FindEdit->hasFocus()) {
            FindBar->hide();
            Editor->setFocus();
        } else {
            close();
        }
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace skarvel
