#include "ui/menu_keys.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleFactory>

namespace skarvel {

namespace {

// The two layouts key by key: ЙЦУКЕН over QWERTY, row by row, then Ё.
const QString kCyrillicKeys = QStringLiteral("йцукенгшщзхъфывапролджэячсмитьбюё");
const QString kLatinKeys = QStringLiteral("qwertyuiop[]asdfghjkl;'zxcvbnm,.`");
// The Latin letter read into each of "абвгдеёжзийклмнопрстуфхцчшщъыьэюя";
// '-' for the signs, which have none.
const QString kAlphabet = QStringLiteral("абвгдеёжзийклмнопрстуфхцчшщъыьэюя");
const QString kReadAs = QStringLiteral("abvgdeezzijklmnoprstufhccss-y-eyy");

// The menu bar's style with navigation by a lone Alt, which the desktop
// styles of Linux leave off. One for the application, built over its style.
class TAltMenuBarStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == SH_MenuBar_AltKeyNavigation) return 1;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

QStyle* AltMenuBarStyle() {
    static QPointer<QStyle> style;
    if (!style) {
        style = new TAltMenuBarStyle(QStyleFactory::create(QApplication::style()->name()));
        style->setParent(QCoreApplication::instance());
    }
    return style;
}

}  // namespace

QChar SamePlaceKey(QChar c) {
    c = c.toLower();
    const qsizetype i = kCyrillicKeys.indexOf(c);
    if (i >= 0) return kLatinKeys[i];
    if ((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || kLatinKeys.contains(c)) return c;
    return {};
}

QChar CyrillicOnKey(QChar key) {
    const qsizetype i = kLatinKeys.indexOf(key.toLower());
    return i >= 0 ? kCyrillicKeys[i] : QChar();
}

QChar Transliteration(QChar c) {
    c = c.toLower();
    const qsizetype i = kAlphabet.indexOf(c);
    if (i >= 0) return kReadAs[i] == u'-' ? QChar() : kReadAs[i];
    if ((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9')) return c;
    return {};
}

QChar MnemonicOf(const QString& caption) {
    for (qsizetype i = caption.indexOf(u'&'); i >= 0 && i + 1 < caption.size(); i = caption.indexOf(u'&', i + 2)) {
        if (caption[i + 1] != u'&') return caption[i + 1].toLower();
    }
    return {};
}

TMnemonicKeys MnemonicKeys(QChar mnemonic) {
    const QChar read = Transliteration(mnemonic);
    return {SamePlaceKey(mnemonic), read.isNull() ? QChar() : SamePlaceKey(read)};
}

QChar KeyOf(const QKeyEvent& e) {
    const int k = e.key();
    if (k >= Qt::Key_A && k <= Qt::Key_Z) return QChar(k).toLower();
    // Digits and the punctuation keys that carry Х Ъ Ж Э Б Ю Ё.
    if (k > 0x20 && k < 0x7f) return SamePlaceKey(QChar(k));
    // A Cyrillic layout names its letters by their capitals.
    if (k > 0x7f && k <= 0xffff) {
        const QChar key = SamePlaceKey(QChar(k));
        if (!key.isNull()) return key;
    }
    const QString text = e.text();
    return text.size() == 1 ? SamePlaceKey(text[0]) : QChar();
}

QAction* ActionForKey(const QList<QAction*>& actions, QChar key) {
    if (key.isNull()) return nullptr;
    for (const bool samePlace : {true, false}) {
        QAction* found = nullptr;
        int count = 0;
        for (QAction* a : actions) {
            if (a->isSeparator() || !a->isVisible()) continue;
            const QChar m = MnemonicOf(a->text());
            if (m.isNull()) continue;
            const TMnemonicKeys keys = MnemonicKeys(m);
            if ((samePlace ? keys.SamePlace : keys.Transliterated) != key) continue;
            found = a;
            ++count;
        }
        if (count == 1) return found;
        if (count > 1) return nullptr;
    }
    return nullptr;
}

TMenuKeys::TMenuKeys(QWidget* window, QMenuBar* bar) : QObject(window), window_(window), bar_(bar) {
    bar_->setStyle(AltMenuBarStyle());
    QCoreApplication::instance()->installEventFilter(this);
}

TMenuKeys::~TMenuKeys() {
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeEventFilter(this);
}

bool TMenuKeys::OwnMenu(const QWidget* w) const {
    if (!qobject_cast<const QMenu*>(w)) return false;
    for (; w; w = w->parentWidget())
        if (w == window_) return true;
    return false;
}

bool TMenuKeys::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() != QEvent::KeyPress && e->type() != QEvent::ShortcutOverride) return false;
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w) return false;
    auto* key = static_cast<QKeyEvent*>(e);
    if (w->window() == window_ && WindowKey(key)) return true;
    if (e->type() == QEvent::KeyPress && (w == bar_ || OwnMenu(w))) return MenuLetter(w, key);
    return false;
}

bool TMenuKeys::WindowKey(QKeyEvent* e) {
    if (!bar_->isVisible() || !bar_->isEnabled()) return false;
    const Qt::KeyboardModifiers mods = e->modifiers() & ~(Qt::KeypadModifier | Qt::GroupSwitchModifier);
    QAction* target = nullptr;
    if (e->key() == Qt::Key_F10 && mods == Qt::NoModifier) {
        for (QAction* a : bar_->actions())
            if (a->isVisible() && a->isEnabled() && !a->isSeparator()) {
                target = a;
                break;
            }
    } else if (mods == Qt::AltModifier) {
        target = ActionForKey(bar_->actions(), KeyOf(*e));
    }
    if (!target || !target->isEnabled()) return false;
    // Taken before any shortcut: the toolkit's own Alt+letter of a menu
    // answers only to the letter of the active layout.
    e->accept();
    if (e->type() == QEvent::KeyPress) bar_->setActiveAction(target);
    return true;
}

bool TMenuKeys::MenuLetter(QWidget* receiver, QKeyEvent* e) {
    if (e->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) return false;
    const QString text = e->text();
    if (text.size() != 1 || !text[0].isPrint()) return false;
    const QList<QAction*> actions = receiver->actions();
    const QChar typed = text[0].toLower();
    for (QAction* a : actions)
        if (a->isVisible() && MnemonicOf(a->text()) == typed) return false;  // the menu's own match
    QAction* a = ActionForKey(actions, KeyOf(*e));
    if (!a) return false;
    // The menu chooses by the typed text: it is given the mnemonic itself.
    const QChar m = MnemonicOf(a->text());
    QKeyEvent asMnemonic(QEvent::KeyPress, m.toUpper().unicode(), e->modifiers(), QString(m));
    QCoreApplication::sendEvent(receiver, &asMnemonic);
    return true;
}

}  // namespace skarvel
