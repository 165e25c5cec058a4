// The program viewer and the compare window on their own: what a part
// program's bytes look like on screen, the highlighting rules, the side by
// side alignment, and the windows' keys; a 1.9 MB program opening while the
// window answers.
#include <gtest/gtest.h>

#include <QLabel>
#include <algorithm>
#include <QLineEdit>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <string>
#include <vector>

#include "tests/ui/ui_test_support.h"
#include "ui/code_editor.h"
#include "ui/diff_form.h"
#include "ui/line_diff.h"
#include "ui/program_highlighter.h"
#include "ui/program_text.h"
#include "ui/program_viewer.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

std::vector<uint8_t> B(const std::string& s) { return {s.begin(), s.end()}; }

// The whole text as DecodeProgramLines gives it in pieces of n lines.
QString DecodeAll(const std::vector<uint8_t>& bytes, int n) {
    QStringList pieces;
    size_t at = 0;
    while (at < bytes.size()) pieces << DecodeProgramLines(bytes, at, n);
    return pieces.join(QLatin1Char('\n'));
}

// A part program of about `size` bytes, numbered blocks.
std::vector<uint8_t> Program(size_t size) {
    std::string s = "%\r\n";
    for (int n = 1; s.size() < size; ++n)
        s += "N" + std::to_string(n * 10) + " G01 X" + std::to_string(n % 500) + ".5 Y-" + std::to_string(n % 77) +
             " F200 (PASS " + std::to_string(n) + ")\r\n";
    s += "M30\r\n%\r\n";
    return B(s);
}

}  // namespace

TEST(ProgramText, BytesShownAndCounted) {
    struct Case {
        const char* what;
        std::string bytes;
        QString text;
        int lines, marks;
        bool isText;
    };
    const std::vector<Case> cases = {
        {"CR LF, LF and a lone CR each end a line", "A\r\nB\nC\rD", "A\nB\nC\nD", 4, 0, true},
        {"a last line end adds no empty line", "G0\r\n", "G0", 1, 0, true},
        {"tab kept, control bytes and DEL shown as pictures", std::string("X\t\x01\x7F", 4), QStringLiteral("X\t\u2401\u2421"), 1, 2,
         false},
        {"code page 1251 letters", "\xCF\xF0\xEE\xE1\xE0", QStringLiteral("Проба"), 1, 0, true},
        {"0x98 has no character", "A\x98", QStringLiteral("A\uFFFD"), 1, 1, false},
        {"a NUL makes it no text", std::string("%\0%", 3), QStringLiteral("%\u2400%"), 1, 1, false},
        {"DOS end of file counts against nothing", "M30\r\n\x1A", QStringLiteral("M30\n\u241A"), 2, 1, true},
        {"empty file", "", "", 0, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TTextFacts facts = ScanProgramBytes(B(c.bytes));
        EXPECT_EQ(facts.Lines, c.lines);
        EXPECT_EQ(facts.Marks, c.marks);
        EXPECT_EQ(facts.Text, c.isText);
        // Every piece size gives the same text.
        for (const int n : {1, 2, 1000}) EXPECT_EQ(DecodeAll(B(c.bytes), n), c.text) << n;
    }
    for (const QChar c : {QChar(0x2400), QChar(0x241A), QChar(0x2421), QChar(0xFFFD)}) EXPECT_TRUE(IsByteMark(c));
    EXPECT_FALSE(IsByteMark(QChar('%')));
}

TEST(ProgramText, HighlighterRulesOnATableOfLines) {
    using K = TProgramToken;
    struct Case {
        QString line;
        std::vector<TProgramSpan> spans;
    };
    const std::vector<Case> cases = {
        {"%", {{0, 1, K::Percent}}},
        {"  %  ", {{2, 1, K::Percent}}},
        {"N10 G01 X-12.5 Y+0 F200",
         {{0, 3, K::BlockNumber}, {4, 3, K::GWord}, {8, 6, K::AxisWord}, {15, 3, K::AxisWord}}},
        {"n20g1x10", {{0, 3, K::BlockNumber}, {3, 2, K::GWord}, {5, 3, K::AxisWord}}},
        {"M30", {{0, 3, K::MWord}}},
        {"G41.1 D1", {{0, 5, K::GWord}}},
        // A word's letter never follows another letter; a lone letter is no word.
        {"L X FMAX M", {}},
        {"TOOL CALL 5 Z S3000", {}},
        {"G00 (MOVE X10) Z5", {{0, 3, K::GWord}, {4, 10, K::Comment}, {15, 2, K::AxisWord}}},
        {"(open comment", {{0, 13, K::Comment}}},
        {"X1 ; rest G0 M3", {{0, 2, K::AxisWord}, {3, 12, K::Comment}}},
        {"G1 50%", {{0, 2, K::GWord}}},  // "%" starts or ends a program only at the line's start
        {QStringLiteral("X1\u2400"), {{0, 2, K::AxisWord}, {2, 1, K::ByteMark}}},
        {"I-1.5J2K.5", {{0, 5, K::AxisWord}, {5, 2, K::AxisWord}, {7, 3, K::AxisWord}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        EXPECT_EQ(TokenizeProgramLine(c.line), c.spans);
    }

    // The highlighter gives the document those formats.
    QTextDocument doc(QStringLiteral("N10 G01 X5 (A)"));
    TProgramHighlighter highlighter(&doc);
    highlighter.rehighlight();
    const QList<QTextLayout::FormatRange> formats = doc.firstBlock().layout()->formats();
    ASSERT_EQ(formats.size(), 4);
    EXPECT_EQ(formats[1].start, 4);
    EXPECT_EQ(formats[1].format.foreground(), highlighter.Format(K::GWord).foreground());
    EXPECT_EQ(formats[3].format.fontItalic(), true);
}

TEST(LineDiff, RowsOfTwoTexts) {
    using D = TLineDiff;
    struct Case {
        const char* what;
        std::vector<std::string> left, right;
        std::vector<TDiffRow> rows;
    };
    const std::vector<Case> cases = {
        {"same", {"a", "b"}, {"a", "b"}, {{0, 0, D::Same}, {1, 1, D::Same}}},
        {"one changed", {"a", "b", "c"}, {"a", "B", "c"}, {{0, 0, D::Same}, {1, 1, D::Changed}, {2, 2, D::Same}}},
        {"added on the right", {"a", "c"}, {"a", "b", "c"}, {{0, 0, D::Same}, {-1, 1, D::RightOnly}, {1, 2, D::Same}}},
        {"removed on the left", {"a", "b", "c"}, {"a", "c"}, {{0, 0, D::Same}, {1, -1, D::LeftOnly}, {2, 1, D::Same}}},
        {"two changed against one", {"a", "x", "y", "z"}, {"a", "q", "z"},
         {{0, 0, D::Same}, {1, 1, D::Changed}, {2, -1, D::LeftOnly}, {3, 2, D::Same}}},
        {"left empty", {}, {"a"}, {{-1, 0, D::RightOnly}}},
        {"both empty", {}, {}, {}},
        {"nothing shared", {"a"}, {"b"}, {{0, 0, D::Changed}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<TDiffRow> rows = AlignLines(c.left, c.right);
        EXPECT_EQ(rows, c.rows);
        EXPECT_EQ(DifferingRows(rows), static_cast<int>(std::count_if(c.rows.begin(), c.rows.end(), [](auto& r) {
                      return r.Kind != D::Same;
                  })));
    }
    // Long texts with a change in the middle: every line of each side in
    // order, once.
    std::vector<std::string> a, b;
    for (int i = 0; i < 20000; ++i) a.push_back("N" + std::to_string(i));
    b = a;
    b[10000] = "changed";
    b.insert(b.begin() + 15000, "new");
    const std::vector<TDiffRow> rows = AlignLines(a, b);
    EXPECT_EQ(DifferingRows(rows), 2);
    int l = 0, r = 0;
    for (const TDiffRow& row : rows) {
        if (row.Left >= 0) {
            EXPECT_EQ(row.Left, l++);
        }
        if (row.Right >= 0) {
            EXPECT_EQ(row.Right, r++);
        }
    }
    EXPECT_EQ(l, 20000);
    EXPECT_EQ(r, 20001);
}

TEST(ProgramViewer, LargeProgramOpensInPiecesWhileTheWindowAnswers) {
    const std::vector<uint8_t> bytes = Program(1900 * 1024);
    const TTextFacts facts = ScanProgramBytes(bytes);
    ASSERT_GT(facts.Lines, 40000);
    TProgramViewer viewer;
    viewer.show();
    viewer.Open(QStringLiteral("BIG.TNC"), QStringLiteral("ZVT"), bytes);
    // The first screen is there at once, the rest still to come.
    EXPECT_TRUE(viewer.Loading());
    EXPECT_EQ(viewer.Editor->document()->firstBlock().text(), QStringLiteral("%"));
    EXPECT_EQ(viewer.Editor->blockCount(), TProgramViewer::ChunkLines);
    // A timer of the window's event loop fires between the pieces.
    int ticks = 0;
    int chunksAtFirstTick = -1;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (ticks++ == 0) chunksAtFirstTick = viewer.Chunks();
    });
    tick.start(0);
    ASSERT_TRUE(ProcessUntil([&] { return !viewer.Loading(); }, 60000));
    tick.stop();
    EXPECT_GT(ticks, 10);
    EXPECT_LT(chunksAtFirstTick, 5);
    EXPECT_EQ(viewer.Editor->blockCount(), facts.Lines);
    EXPECT_EQ(viewer.LoadedLines(), facts.Lines);
    EXPECT_EQ(viewer.Editor->document()->lastBlock().text(), QStringLiteral("%"));
    EXPECT_TRUE(viewer.StatusLabel->text().contains(QStringLiteral("строк: ") + QString::number(facts.Lines)));
    EXPECT_FALSE(viewer.StatusLabel->text().contains(QStringLiteral("не текстовый")));
}

TEST(ProgramViewer, SearchGoToLineStatusAndEsc) {
    TProgramViewer viewer;
    viewer.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&viewer));
    viewer.Open(QStringLiteral("P.TNC"), QStringLiteral("ZVT"), Program(300 * 1024));
    // Go to a line not loaded yet: taken once it is there.
    viewer.AskLine = [](int& line) {
        line = 5000;
        return true;
    };
    QTest::keyClick(&viewer, Qt::Key_G, Qt::ControlModifier);
    ASSERT_TRUE(ProcessUntil([&] { return !viewer.Loading(); }));
    EXPECT_EQ(viewer.Editor->textCursor().blockNumber(), 4999);
    EXPECT_EQ(viewer.PositionLabel->text(), QStringLiteral("Строка 5000, столбец 1"));

    // Ctrl+F opens the search line; Enter and F3 go from hit to hit, round the end.
    QTest::keyClick(&viewer, Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(viewer.FindBar->isVisible());
    QTest::keyClicks(viewer.FindEdit, QStringLiteral("M30"));
    QTest::keyClick(viewer.FindEdit, Qt::Key_Return);
    const int hit = viewer.Editor->textCursor().blockNumber();
    EXPECT_EQ(viewer.Editor->textCursor().selectedText(), QStringLiteral("M30"));
    EXPECT_GT(hit, 4999);
    QTest::keyClick(&viewer, Qt::Key_F3);
    EXPECT_EQ(viewer.Editor->textCursor().blockNumber(), hit);  // the only hit, found again from the start
    EXPECT_EQ(viewer.FindNote->text(), QStringLiteral("поиск продолжен с начала"));
    viewer.FindEdit->setText(QStringLiteral("нет такого"));
    EXPECT_FALSE(viewer.FindNext());
    EXPECT_EQ(viewer.FindNote->text(), QStringLiteral("не найдено"));
    EXPECT_EQ(viewer.Editor->textCursor().blockNumber(), hit);

    // Esc closes the search line first, then the window.
    viewer.FindEdit->setFocus();
    QTest::keyClick(viewer.FindEdit, Qt::Key_Escape);
    EXPECT_FALSE(viewer.FindBar->isVisible());
    EXPECT_TRUE(viewer.isVisible());
    QTest::keyClick(viewer.Editor, Qt::Key_Escape);
    EXPECT_FALSE(viewer.isVisible());
}

TEST(ProgramViewer, StatusNamesFilesThatAreNoText) {
    TProgramViewer viewer;
    viewer.Open(QStringLiteral("BIN.ISO"), QStringLiteral("/tmp/BIN.ISO"), B(std::string("MZ\0\0\x90\x01", 6)));
    ProcessUntil([&] { return !viewer.Loading(); });
    const QString status = viewer.StatusLabel->text();
    EXPECT_TRUE(status.startsWith(QStringLiteral("BIN.ISO (/tmp/BIN.ISO): 6 байт"))) << status.toStdString();
    EXPECT_TRUE(status.contains(QStringLiteral("показаны значками): 3")));
    EXPECT_TRUE(status.endsWith(QStringLiteral("Файл не текстовый")));
    EXPECT_EQ(viewer.Editor->toPlainText(), QString(QStringLiteral("MZ\u2400\u2400\u0452\u2401")));
}

TEST(DiffForm, MarksTheDifferingRowsAndStepsThroughThem) {
    TDiffForm form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    form.Open(QStringLiteral("P.TNC"), QStringLiteral("ZVT: P.TNC"), B("%\nN10 G0\nN20 X1\nN30 Y1\nN40\nM30\n%\n"),
              QStringLiteral("ПК: P.TNC"), B("%\nN10 G0\nN20 X2\nN30 Y1\nN35 Z5\nN40\nM30\n%\n"));
    ASSERT_TRUE(ProcessUntil([&] { return form.Aligned(); }));
    ASSERT_EQ(form.Rows().size(), 8u);
    EXPECT_EQ(form.Left->blockCount(), 8);
    EXPECT_EQ(form.Right->blockCount(), 8);
    EXPECT_EQ(form.Left->document()->findBlockByNumber(4).text(), QString());  // the filler against "N35 Z5"
    EXPECT_EQ(form.Right->document()->findBlockByNumber(4).text(), QStringLiteral("N35 Z5"));
    const auto background = [](TCodeEditor* pane, int row) {
        return pane->document()->findBlockByNumber(row).blockFormat().background().color();
    };
    EXPECT_EQ(background(form.Left, 2), background(form.Right, 2));  // changed: both sides alike
    EXPECT_NE(background(form.Left, 4), background(form.Right, 4));  // one side only
    EXPECT_EQ(form.Left->document()->findBlockByNumber(0).blockFormat().background().style(), Qt::NoBrush);
    EXPECT_TRUE(form.StatusLabel->text().startsWith(QStringLiteral("Отличающихся строк: 2")));

    // The first difference is shown at once; F8 and Shift+F8 step, stopping at the ends.
    EXPECT_EQ(form.CurrentRow(), 2);
    QTest::keyClick(&form, Qt::Key_F8);
    EXPECT_EQ(form.CurrentRow(), 4);
    EXPECT_EQ(form.Right->textCursor().blockNumber(), 4);
    EXPECT_FALSE(form.NextDifference());
    QTest::keyClick(&form, Qt::Key_F8, Qt::ShiftModifier);
    EXPECT_EQ(form.CurrentRow(), 2);
    EXPECT_FALSE(form.NextDifference(true));

    // Equal files say so; Esc closes.
    form.Open(QStringLiteral("Q.TNC"), QStringLiteral("a"), B("G0\n"), QStringLiteral("b"), B("G0\n"));
    ASSERT_TRUE(ProcessUntil([&] { return form.Aligned(); }));
    EXPECT_EQ(form.StatusLabel->text(), QStringLiteral("Файлы совпадают байт в байт"));
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_FALSE(form.isVisible());
}
