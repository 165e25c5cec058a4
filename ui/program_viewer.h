// The viewer: a window of its own that shows one program's text, read-only,
// with line numbers, in a fixed-width font, decoded as code page 1251 with
// the bytes that have no character shown as marks (ui/program_text.h) and
// the parts of a part program lightly highlighted. Ctrl+F opens the search
// line (Enter and F3 find the next hit, Shift+F3 the one before), Ctrl+G
// asks for a line to go to, Esc closes the search line or else the window.
// The status line names the file, its size and lines, and says when it is no
// text.
//
// A long program (the medium holds up to 2 MiB) goes into the pane in pieces
// of ChunkLines lines, one piece per turn of the event loop: the first screen
// is there at once and the window answers while the rest follows.
//
// Threads: GUI thread only.
#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

#include "ui/program_text.h"

class QLabel;
class QLineEdit;
class QTimer;

namespace skarvel {

class TCodeEditor;
class TProgramHighlighter;

class TProgramViewer : public QWidget {
    Q_OBJECT
public:
    static constexpr int ChunkLines = 1000;

    explicit TProgramViewer(QWidget* owner = nullptr);
    ~TProgramViewer() override;

    // Shows the bytes of the file `name`; where says whence it came ("ZVT",
    // or the PC file's path). The text arrives in pieces from here on.
    void Open(const QString& name, const QString& where, std::vector<uint8_t> bytes);

    bool Loading() const;
    int LoadedLines() const { return loadedLines_; }
    const TTextFacts& Facts() const { return facts_; }
    // The pieces put into the pane so far.
    int Chunks() const { return chunks_; }

    // Finds the next (or previous) hit of the search line's text from the
    // cursor on, wrapping round at the end; false when there is none.
    bool FindNext(bool backwards = false);
    // Puts the cursor at the start of line (from 1), once it is loaded.
    void GoToLine(int line);
    // Asks for the line (Ctrl+G); tests replace it.
    std::function<bool(int& line)> AskLine;

    TCodeEditor* Editor;
    QWidget* FindBar;
    QLineEdit* FindEdit;
    QLabel* FindNote;     // "не найдено", "поиск продолжен с начала"
    QLabel* StatusLabel;  // the file, its size and lines; whether it is text
    QLabel* PositionLabel;

signals:
    // The whole text is in the pane.
    void Loaded();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateKeys();
    void AppendChunk();
    void ShowStatus();
    void ShowPosition();
    void OpenFind();
    void AskAndGoToLine();

    std::vector<uint8_t> bytes_;
    size_t at_ = 0;
    TTextFacts facts_;
    int loadedLines_ = 0;
    int chunks_ = 0;
    int pendingLine_ = 0;  // a line asked for before it was loaded
    QString name_, where_;
    QTimer* feed_;
    TProgramHighlighter* highlighter_;
};

}  // namespace skarvel
