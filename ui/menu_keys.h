// Keyboard access to a window's menus whatever keyboard layout is active.
// F10 opens the first menu of the menu bar; a lone Alt press and release
// makes the bar active the way Windows does (the first menu highlighted,
// the arrows move, Return or Down opens, Esc leaves). A mnemonic answers to
// the key it is printed on and, under the other layout, to the key in the
// same place (Ф sits on the key of A in ЙЦУКЕН and QWERTY) and to the key of
// its Latin transliteration (Ф→F), where that choice is unique among the
// entries of one menu or of the bar. Under a Latin layout Alt+A and Alt+F
// open "&Файл"; under the Russian layout Alt+Ф does.
//
// Threads: GUI thread only. TMenuKeys filters the application's events and
// acts on those of one window, its menu bar and its menus.
#pragma once

#include <QChar>
#include <QList>
#include <QObject>
#include <QString>

class QAction;
class QKeyEvent;
class QMenuBar;
class QWidget;

namespace skarvel {

// The Latin key (lower case, as a US layout names it) in the same place as
// a Cyrillic letter in ЙЦУКЕН: 'ф' → 'a', 'ж' → ';'. A Latin letter or digit
// is its own key. Null for a character on no such key.
QChar SamePlaceKey(QChar c);
// The Cyrillic letter on the key of a Latin key ('a' → 'ф'); null for none.
QChar CyrillicOnKey(QChar key);
// The Latin letter a reader takes a Cyrillic letter for (Ф→F, Н→N, П→P,
// Ж→Z for "zh"); a Latin letter or digit stays; null for ъ and ь.
QChar Transliteration(QChar c);
// The lower-case character after a single '&' of a caption; null without.
QChar MnemonicOf(const QString& caption);
// The keys that choose an entry with this mnemonic: the key it sits on and
// the key of its transliteration (the same key twice for a Latin letter).
struct TMnemonicKeys {
    QChar SamePlace;
    QChar Transliterated;
};
TMnemonicKeys MnemonicKeys(QChar mnemonic);
// The Latin key a key event was typed on, lower case, from its key code or
// else its text; null when it is no character key.
QChar KeyOf(const QKeyEvent& e);
// The visible entry of actions that key chooses: the one whose mnemonic
// sits on it, else the one whose transliteration does; nullptr when none
// does or more than one does at the first of the two that matches.
QAction* ActionForKey(const QList<QAction*>& actions, QChar key);

class TMenuKeys : public QObject {
    Q_OBJECT
public:
    // Installs itself on the application; window owns it.
    TMenuKeys(QWidget* window, QMenuBar* bar);
    ~TMenuKeys() override;

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    // Alt+key and F10 in the window (ShortcutOverride and KeyPress).
    bool WindowKey(QKeyEvent* e);
    // A letter in the active bar or an open menu of the window.
    bool MenuLetter(QWidget* receiver, QKeyEvent* e);
    bool OwnMenu(const QWidget* w) const;
    QWidget* window_;
    QMenuBar* bar_;
};

}  // namespace skarvel
