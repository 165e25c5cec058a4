// The menus from the keyboard under either layout: the key map, F10, a lone
// Alt, Alt with the letter of either layout, and the items' mnemonics.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <set>

#include "tests/ui/ui_test_support.h"
#include "ui/menu_keys.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

// A key as X11 delivers it: the key code of the active layout and its text
// (Alt+A under a US layout: Qt::Key_A and "a"; Alt+Ф under the Russian
// one: the capital's code and "ф").
struct TKey {
    int Code;
    const char* Text;
};

void Click(QWidget* to, TKey k, Qt::KeyboardModifiers mods) {
    QTest::sendKeyEvent(QTest::Click, to, static_cast<Qt::Key>(k.Code), QString::fromUtf8(k.Text), mods);
}

// The window shown and active, its list holding the focus; the open
// dialog only counted.
struct Shown : Window {
    int Opens = 0;
    Shown() {
        F().ExecOpenDialog = [this](QFileDialog&) {
            ++Opens;
            return QStringList();
        };
        F().show();
        QApplication::setActiveWindow(&F());
        EXPECT_TRUE(QTest::qWaitForWindowActive(&F()));
        F().ListBox1->setFocus();
    }
    QMenuBar* Bar() { return F().menuBar(); }
    QMenu* OpenMenu() {
        for (QMenu* m : {F().N1, F().N2, F().N3, F().N4})
            if (m->isVisible()) return m;
        return nullptr;
    }
    // Esc closes the open menu, a second one leaves the bar.
    void CloseMenus() {
        if (QMenu* m = OpenMenu()) QTest::keyClick(m, Qt::Key_Escape);
        EXPECT_EQ(OpenMenu(), nullptr);
        if (Bar()->activeAction()) QTest::keyClick(Bar(), Qt::Key_Escape);
        EXPECT_EQ(Bar()->activeAction(), nullptr);
        QApplication::setActiveWindow(&F());
        EXPECT_TRUE(QTest::qWaitForWindowActive(&F()));
        F().ListBox1->setFocus();
        EXPECT_EQ(QApplication::focusWidget(), F().ListBox1);
    }
};

}  // namespace

TEST(MenuKeys, KeyMapMnemonicsAndTheKeyOfAnEvent) {
    const struct {
        char16_t Char;
        char16_t SamePlace;
        char16_t ReadAs;
    } letters[] = {
        {u'ф', u'a', u'f'}, {u'Ф', u'a', u'f'}, {u'н', u'y', u'n'}, {u'п', u'g', u'p'}, {u'ж', u';', u'z'},
        {u'ё', u'`', u'e'}, {u'ъ', u']', 0},    {u'я', u'z', u'y'}, {u'Z', u'z', u'z'}, {u'€', 0, 0},
    };
    for (const auto& l : letters) {
        EXPECT_EQ(SamePlaceKey(QChar(l.Char)), l.SamePlace ? QChar(l.SamePlace) : QChar()) << int(l.Char);
        EXPECT_EQ(Transliteration(QChar(l.Char)), l.ReadAs ? QChar(l.ReadAs) : QChar()) << int(l.Char);
    }
    EXPECT_EQ(CyrillicOnKey(u'a'), QChar(u'ф'));
    EXPECT_EQ(CyrillicOnKey(u'.'), QChar(u'ю'));

    EXPECT_EQ(MnemonicOf(QStringLiteral("&Файл")), QChar(u'ф'));
    EXPECT_EQ(MnemonicOf(QStringLiteral("Загрузка &данных")), QChar(u'д'));
    EXPECT_EQ(MnemonicOf(QStringLiteral("Q&&A &Ok")), QChar(u'o'));
    EXPECT_TRUE(MnemonicOf(QStringLiteral("Q&&A")).isNull());
    EXPECT_TRUE(MnemonicOf(QStringLiteral("Удалить &")).isNull());

    const struct {
        int Code;
        const char* Text;
        char16_t Key;
    } events[] = {
        {Qt::Key_A, "a", u'a'},      {0x424, "ф", u'a'},         {Qt::Key_Semicolon, ";", u';'},
        {0x416, "ж", u';'},          {Qt::Key_unknown, "ю", u'.'}, {Qt::Key_unknown, "", 0},
        {Qt::Key_F10, "", 0},        {Qt::Key_Alt, "", 0},
    };
    for (const auto& e : events) {
        const QKeyEvent ev(QEvent::KeyPress, e.Code, Qt::AltModifier, QString::fromUtf8(e.Text));
        EXPECT_EQ(KeyOf(ev), e.Key ? QChar(e.Key) : QChar()) << e.Code;
    }
}

TEST(MenuKeys, TheSamePlaceWinsAndAClashChoosesNothing) {
    QAction file(QStringLiteral("&Файл")), zvt(QStringLiteral("&ZVT")), load(QStringLiteral("&Загрузка"));
    QAction other(QStringLiteral("&Аренда")), none(QStringLiteral("Без"));
    const QList<QAction*> menu = {&file, &zvt, &none};
    EXPECT_EQ(ActionForKey(menu, u'a'), &file);  // Ф's key
    EXPECT_EQ(ActionForKey(menu, u'f'), &file);  // read as F
    EXPECT_EQ(ActionForKey(menu, u'z'), &zvt);
    EXPECT_EQ(ActionForKey(menu, u'q'), nullptr);
    EXPECT_EQ(ActionForKey(menu, QChar()), nullptr);
    // А sits on F: its own key beats Ф's reading.
    EXPECT_EQ(ActionForKey({&file, &other}, u'f'), &other);
    // З and Z both read as Z: Z's own key wins; two of one reading choose nothing.
    EXPECT_EQ(ActionForKey({&zvt, &load}, u'z'), &zvt);
    QAction zh(QStringLiteral("&Журнал"));
    EXPECT_EQ(ActionForKey({&load, &zh}, u'z'), nullptr);
    EXPECT_EQ(ActionForKey({&load, &zh}, u'p'), &load);
    file.setVisible(false);
    EXPECT_EQ(ActionForKey(menu, u'a'), nullptr);
}

TEST(MenuKeys, EveryMenuHasAMnemonicAndNoTwoShareAKey) {
    Window w;
    TForm1& f = w.F();
    // The keys Alt takes as shortcuts of commands.
    std::set<QChar> altKeys;
    for (QAction* a : f.findChildren<QAction*>())
        for (const QKeySequence& k : a->shortcuts())
            if (k[0].keyboardModifiers() == Qt::AltModifier && k[0].key() < 0x7f)
                altKeys.insert(QChar(k[0].key()).toLower());
    EXPECT_TRUE(altKeys.count(u'o'));

    std::set<QChar> barKeys;
    for (QAction* menu : f.menuBar()->actions()) {
        const QChar m = MnemonicOf(menu->text());
        ASSERT_FALSE(m.isNull()) << menu->text().toStdString();
        const TMnemonicKeys keys = MnemonicKeys(m);
        // The same key twice only for a Latin mnemonic.
        for (const QChar k : std::set<QChar>{keys.SamePlace, keys.Transliterated}) {
            EXPECT_FALSE(altKeys.count(k)) << menu->text().toStdString();
            EXPECT_TRUE(barKeys.insert(k).second) << menu->text().toStdString() << " " << k.toLatin1();
        }
    }
    EXPECT_EQ(barKeys.size(), 7u);  // Ф: A F, ZVT: Z, Н: Y N, П: G P

    for (QMenu* menu : {f.N1, f.N2, f.N3, f.N4}) {
        std::set<QChar> items;
        for (QAction* a : menu->actions()) {
            if (a->isSeparator()) continue;
            const QChar m = MnemonicOf(a->text());
            EXPECT_FALSE(m.isNull()) << a->text().toStdString();
            EXPECT_TRUE(items.insert(m).second) << a->text().toStdString();
        }
    }
}

TEST(MenuKeys, F10AndAltWithTheLetterOfEitherLayoutOpenTheirMenu) {
    Shown s;
    TForm1& f = s.F();
    const struct {
        TKey Key;
        Qt::KeyboardModifiers Mods;
        QMenu* Menu;
    } rows[] = {
        {{Qt::Key_F10, ""}, Qt::NoModifier, f.N1},
        {{Qt::Key_A, "a"}, Qt::AltModifier, f.N1},  // US layout, the key of Ф
        {{Qt::Key_F, "f"}, Qt::AltModifier, f.N1},  // Ф read as F
        {{0x424, "ф"}, Qt::AltModifier, f.N1},      // Russian layout
        {{Qt::Key_Z, "z"}, Qt::AltModifier, f.N2},
        {{0x42F, "я"}, Qt::AltModifier, f.N2},
        {{Qt::Key_Y, "y"}, Qt::AltModifier, f.N3},
        {{Qt::Key_N, "n"}, Qt::AltModifier, f.N3},
        {{0x41D, "н"}, Qt::AltModifier, f.N3},
        {{Qt::Key_G, "g"}, Qt::AltModifier, f.N4},
        {{Qt::Key_P, "p"}, Qt::AltModifier, f.N4},
        {{0x41F, "п"}, Qt::AltModifier, f.N4},
        {{0x410, "а"}, Qt::AltModifier, f.N1},  // the key of F under the Russian layout
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows));
        Click(QApplication::focusWidget(), r.Key, r.Mods);
        EXPECT_TRUE(ProcessUntil([&] { return r.Menu->isVisible(); }, 2000));
        EXPECT_EQ(s.Bar()->activeAction(), r.Menu->menuAction());
        s.CloseMenus();
    }
    // A command's own Alt key stays the command's; a key of no menu opens none.
    Click(QApplication::focusWidget(), {Qt::Key_O, "o"}, Qt::AltModifier);
    ProcessPending(20);
    EXPECT_EQ(s.Opens, 1);
    Click(QApplication::focusWidget(), {Qt::Key_Q, "q"}, Qt::AltModifier);
    ProcessPending(20);
    EXPECT_EQ(s.OpenMenu(), nullptr);
}

TEST(MenuKeys, ALoneAltMakesTheBarActiveArrowsMoveEscLeaves) {
    Shown s;
    TForm1& f = s.F();
    QWidget* list = QApplication::focusWidget();
    QTest::keyPress(list, Qt::Key_Alt, Qt::AltModifier);
    QTest::keyRelease(list, Qt::Key_Alt, Qt::NoModifier);
    ProcessPending(20);
    EXPECT_EQ(s.Bar()->activeAction(), f.N1->menuAction());
    EXPECT_EQ(s.OpenMenu(), nullptr);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
    EXPECT_EQ(s.Bar()->activeAction(), f.N2->menuAction());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    ProcessPending(20);
    EXPECT_EQ(s.Bar()->activeAction(), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), list);

    // Active, the bar takes a menu's letter without Alt, of either layout.
    for (const TKey k : {TKey{Qt::Key_G, "g"}, TKey{0x41F, "п"}}) {
        QTest::keyPress(list, Qt::Key_Alt, Qt::AltModifier);
        QTest::keyRelease(list, Qt::Key_Alt, Qt::NoModifier);
        Click(QApplication::focusWidget(), k, Qt::NoModifier);
        EXPECT_TRUE(ProcessUntil([&] { return f.N4->isVisible(); }, 2000)) << k.Text;
        s.CloseMenus();
    }
}

TEST(MenuKeys, ItemMnemonicsAnswerInEitherLayout) {
    Shown s;
    TForm1& f = s.F();
    // "&Открыть": О sits on J, reads as O.
    const TKey keys[] = {{Qt::Key_J, "j"}, {Qt::Key_O, "o"}, {0x41E, "о"}, {0x429, "щ"}};
    int expected = 0;
    for (const TKey& k : keys) {
        SCOPED_TRACE(k.Text);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F10);
        ASSERT_TRUE(ProcessUntil([&] { return f.N1->isVisible(); }, 2000));
        Click(f.N1, k, Qt::NoModifier);
        EXPECT_TRUE(ProcessUntil([&] { return s.Opens == expected + 1; }, 2000));
        expected = s.Opens;
        s.CloseMenus();
    }
}
