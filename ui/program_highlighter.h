// Light highlighting of what part programs are made of: block numbers (N10),
// G and M words (G01, M30), axis words (X-12.5, Y+0, I10), comments in
// parentheses or after ";", the "%" that starts and ends a program, and the
// marks that stand for bytes without a character (ui/program_text.h).
// Addresses are letters of either case; a word's letter must not follow
// another letter ("FMAX" holds no M or X word), but may follow a digit
// ("G1X10" is a G word and an axis word).
//
// Threads: GUI thread (the highlighter belongs to its document).
#pragma once

#include <QStringView>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>
#include <vector>

namespace skarvel {

enum class TProgramToken : uint8_t { BlockNumber, GWord, MWord, AxisWord, Comment, Percent, ByteMark, Count };

struct TProgramSpan {
    int Start = 0;
    int Length = 0;
    TProgramToken Kind = TProgramToken::Comment;
    bool operator==(const TProgramSpan&) const = default;
};

// The highlighted pieces of one line, in order.
std::vector<TProgramSpan> TokenizeProgramLine(QStringView line);

class TProgramHighlighter : public QSyntaxHighlighter {
public:
    explicit TProgramHighlighter(QTextDocument* document);
    const QTextCharFormat& Format(TProgramToken kind) const { return formats_[static_cast<size_t>(kind)]; }

protected:
    void highlightBlock(const QString& text) override;

private:
    QTextCharFormat formats_[static_cast<size_t>(TProgramToken::Count)];
};

}  // namespace skarvel
