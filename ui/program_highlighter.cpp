#include "ui/program_highlighter.h"

#include "ui/program_text.h"

namespace skarvel {

namespace {

bool IsAxis(QChar c) {
    switch (c.toUpper().unicode()) {
        case u'X': case u'Y': case u'Z': case u'A': case u'B': case u'C':
        case u'U': case u'V': case u'W': case u'I': case u'J': case u'K': return true;
        default: return false;
    }
}

bool IsDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// The length of the number at `at` (an optional sign for axis words, digits
// with at most one decimal point, at least one digit), 0 when none.
int NumberAt(QStringView s, int at, bool sign) {
    int i = at;
    if (sign && i < s.size() && (s[i] == QLatin1Char('+') || s[i] == QLatin1Char('-'))) ++i;
    int digits = 0;
    bool point = false;
    for (; i < s.size(); ++i) {
        if (IsDigit(s[i])) ++digits;
        else if (s[i] == QLatin1Char('.') && !point) point = true;
        else break;
    }
    return digits > 0 ? i - at : 0;
}

// The word that starts at `at` (an address letter and its number), or none.
bool WordAt(QStringView s, int at, TProgramSpan& span) {
    const QChar letter = s[at].toUpper();
    if (at > 0 && s[at - 1].isLetter()) return false;
    TProgramToken kind;
    bool sign = false;
    if (letter == QLatin1Char('N')) kind = TProgramToken::BlockNumber;
    else if (letter == QLatin1Char('G')) kind = TProgramToken::GWord;
    else if (letter == QLatin1Char('M')) kind = TProgramToken::MWord;
    else if (IsAxis(letter)) kind = TProgramToken::AxisWord, sign = true;
    else return false;
    // A G or M number may have a decimal part (G41.1) too.
    const int number = NumberAt(s, at + 1, sign);
    if (number == 0) return false;
    span = {at, 1 + number, kind};
    return true;
}

}  // namespace

std::vector<TProgramSpan> TokenizeProgramLine(QStringView s) {
    std::vector<TProgramSpan> spans;
    const int n = static_cast<int>(s.size());
    // The program's start and end: "%" at the start of its line.
    int i = 0;
    while (i < n && (s[i] == QLatin1Char(' ') || s[i] == QLatin1Char('\t'))) ++i;
    if (i < n && s[i] == QLatin1Char('%')) spans.push_back({i, 1, TProgramToken::Percent}), ++i;
    while (i < n) {
        const QChar c = s[i];
        if (c == QLatin1Char('(')) {
            const qsizetype close = s.indexOf(QLatin1Char(')'), i);
            const int end = close < 0 ? n : static_cast<int>(close) + 1;
            spans.push_back({i, end - i, TProgramToken::Comment});
            i = end;
        } else if (c == QLatin1Char(';')) {
            spans.push_back({i, n - i, TProgramToken::Comment});
            i = n;
        } else if (IsByteMark(c)) {
            spans.push_back({i, 1, TProgramToken::ByteMark});
            ++i;
        } else if (TProgramSpan word; c.isLetter() && WordAt(s, i, word)) {
            spans.push_back(word);
            i += word.Length;
        } else {
            ++i;
        }
    }
    return spans;
}

TProgramHighlighter::TProgramHighlighter(QTextDocument* document) : QSyntaxHighlighter(document) {
    auto set = [this](TProgramToken kind, const QColor& colour, bool bold = false, bool italic = false) {
        QTextCharFormat& f = formats_[static_cast<size_t>(kind)];
        f.setForeground(colour);
        if (bold) f.setFontWeight(QFont::Bold);
        f.setFontItalic(italic);
    };
    set(TProgramToken::BlockNumber, QColor(0x80, 0x80, 0x80));
    set(TProgramToken::GWord, QColor(0x00, 0x3C, 0xB4), true);
    set(TProgramToken::MWord, QColor(0xA0, 0x10, 0x60), true);
    set(TProgramToken::AxisWord, QColor(0x00, 0x70, 0x30));
    set(TProgramToken::Comment, QColor(0x70, 0x70, 0x70), false, true);
    set(TProgramToken::Percent, QColor(0xB0, 0x50, 0x00), true);
    set(TProgramToken::ByteMark, QColor(0xC0, 0x00, 0x00), true);
    formats_[static_cast<size_t>(TProgramToken::ByteMark)].setBackground(QColor(0xFF, 0xE8, 0xE8));
}

void TProgramHighlighter::highlightBlock(const QString& text) {
    for (const TProgramSpan& span : TokenizeProgramLine(text)) setFormat(span.Start, span.Length, Format(span.Kind));
}

}  // namespace skarvel
