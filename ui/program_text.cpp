#include "ui/program_text.h"

#include <array>
#include <string>

#include "core/cp1251.h"

namespace skarvel {

namespace {

constexpr char16_t ControlPictures = 0x2400;  // U+2400..U+241F: NUL..US
constexpr char16_t DeletePicture = 0x2421;
constexpr char16_t Replacement = 0xFFFD;

bool Marked(uint8_t b) { return (b < 0x20 && b != '\t' && b != '\n' && b != '\r') || b == 0x7F || b == 0x98; }

// The character shown for each byte.
const std::array<QChar, 256>& Glyphs() {
    static const std::array<QChar, 256> table = [] {
        std::array<QChar, 256> t{};
        for (int b = 0; b < 256; ++b) {
            const std::string one(1, static_cast<char>(b));
            const QString s = QString::fromStdString(Cp1251ToUtf8(one));
            t[static_cast<size_t>(b)] = s.isEmpty() ? QChar(Replacement) : s.front();
        }
        for (int b = 0; b < 0x20; ++b)
            if (b != '\t') t[static_cast<size_t>(b)] = QChar(static_cast<char16_t>(ControlPictures + b));
        t[0x7F] = QChar(DeletePicture);
        t[0x98] = QChar(Replacement);
        return t;
    }();
    return table;
}

}  // namespace

TTextFacts ScanProgramBytes(const std::vector<uint8_t>& bytes) {
    TTextFacts facts;
    bool nul = false;
    int suspicious = 0;  // marks that speak against text
    bool open = false;   // a line has begun and not ended
    for (size_t i = 0; i < bytes.size(); ++i) {
        const uint8_t b = bytes[i];
        if (b == '\n' || b == '\r') {
            ++facts.Lines;
            open = false;
            if (b == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
            continue;
        }
        open = true;
        if (!Marked(b)) continue;
        ++facts.Marks;
        if (b == 0) nul = true;
        if (b != 0x1A) ++suspicious;
    }
    if (open) ++facts.Lines;
    facts.Text = !nul && static_cast<uint64_t>(suspicious) * 100 <= bytes.size();
    return facts;
}

QString DecodeProgramLines(const std::vector<uint8_t>& bytes, size_t& at, int maxLines) {
    const auto& glyphs = Glyphs();
    QString out;
    int lines = 0;
    size_t i = at;
    while (i < bytes.size() && lines < maxLines) {
        const uint8_t b = bytes[i++];
        if (b == '\n' || b == '\r') {
            if (b == '\r' && i < bytes.size() && bytes[i] == '\n') ++i;
            ++lines;
            // The next piece starts with the next line: no line end here
            // after the last line taken.
            if (lines < maxLines && i < bytes.size()) out += QLatin1Char('\n');
            continue;
        }
        out += glyphs[b];
    }
    at = i;
    return out;
}

bool IsByteMark(QChar c) {
    const char16_t u = c.unicode();
    return (u >= ControlPictures && u < ControlPictures + 0x20) || u == DeletePicture || u == Replacement;
}

}  // namespace skarvel
