// Skarvel itself (the program's entry, RunProgram) with a window that
// reports on standard output what the process tests and the desktop check
// wait for, one line each:
//   shown WINID          the main window is up (and listens for later starts)
//   open N               a later start's request with N files arrived
//   rows PATH<TAB>...    the pending rows' PC paths, after every change
//   box TEXT             a message box (printed, not shown; lines joined by " | ")
//   link LAMP N          the link lamp (green, red, yellow, black) and the
//                        number of the medium's rows, whenever either changes
//   status TEXT          the status line, whenever it changes
//   menu TITLE           a menu of the menu bar opens ("-" when it closes)
//   bar TITLE            the menu bar's highlighted menu changes
//   width W MIN whole|cut  the window's width, its minimum and whether every
//                        caption of the text tool bar fits its button, when
//                        any of them changes
#include <QAbstractItemModel>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <memory>
#include <utility>

#include "app/program.h"
#include "tests/tools/dnd_say.h"
#include "ui/lamps.h"
#include "ui/main_form.h"
#include "ui/message_boxes.h"
#include "ui/my_list_box.h"
#include "ui/text_tool_bar.h"

using namespace skarvel;
using skarvel::dnd::Say;

namespace {

class TPrintedBoxes final : public TMessageBoxes {
public:
    int Ask(QWidget*, const QString& text, TMsgDlgType, unsigned) override {
        Print(text);
        return mrCancel;
    }
    void Show(QWidget*, const QString& text, TMsgDlgType) override { Print(text); }

private:
    static void Print(QString text) { Say(QStringLiteral("box ") + text.replace(QLatin1Char('\n'), QStringLiteral(" | "))); }
};

void SayRows(TForm1& form) {
    QStringList paths;
    for (int i = 0; i < form.MyListBox()->Count(); ++i)
        if (!form.MyListBox()->Flags(i)) paths << QString::fromStdString(form.MyListBox()->Path(i));
    Say(QStringLiteral("rows ") + paths.join(QLatin1Char('\t')));
}

QString LampName(TLamp lamp) {
    switch (lamp) {
        case lampGreen: return QStringLiteral("green");
        case lampRed: return QStringLiteral("red");
        case lampYellow: return QStringLiteral("yellow");
        default: return QStringLiteral("black");
    }
}

// The lamp, the medium's rows and the status line, said when they change:
// looked at a few times a second, as a user would.
void WatchLinkAndStatus(TForm1& form) {
    auto said = std::make_shared<std::pair<QString, QString>>();
    auto* look = new QTimer(&form);
    QObject::connect(look, &QTimer::timeout, &form, [&form, said] {
        int medium = 0;
        for (int i = 0; i < form.MyListBox()->Count(); ++i)
            if (form.MyListBox()->Flags(i)) ++medium;
        const QString link = QStringLiteral("link %1 %2").arg(LampName(form.LinkLamp())).arg(medium);
        if (link != said->first) Say(said->first = link);
        const QString status = QStringLiteral("status ") + form.Label3->text();
        if (status != said->second) Say(said->second = status);
    });
    look->start(50);
}

QString Plain(QString title) { return title.remove(QLatin1Char('&')); }

// The menus opening and the bar's highlight, and whether the text tool
// bar's captions fit their buttons at the window's width.
void WatchMenusAndCaptions(TForm1& form) {
    for (QMenu* m : {form.N1, form.N2, form.N3, form.N4}) {
        QObject::connect(m, &QMenu::aboutToShow, &form, [m] { Say(QStringLiteral("menu ") + Plain(m->title())); });
        QObject::connect(m, &QMenu::aboutToHide, &form, [] { Say(QStringLiteral("menu -")); });
    }
    QObject::connect(form.menuBar(), &QMenuBar::hovered, &form,
                     [](QAction* a) { Say(QStringLiteral("bar ") + Plain(a->text())); });
    auto said = std::make_shared<QString>();
    auto* look = new QTimer(&form);
    QObject::connect(look, &QTimer::timeout, &form, [&form, said] {
        bool whole = true;
        for (const TTextButton* b : form.ToolBar2->Buttons())
            whole = whole && QFontMetrics(b->font()).horizontalAdvance(b->Caption()) + TTextButton::CaptionMargin <=
                                 b->width();
        const QString width =
            QStringLiteral("width %1 %2 %3").arg(form.width()).arg(form.minimumWidth()).arg(whole ? "whole" : "cut");
        if (width != *said) Say(*said = width);
    });
    look->start(50);
}

}  // namespace

int main(int argc, char** argv) {
    TPrintedBoxes boxes;
    TProgramHooks hooks;
    hooks.Boxes = &boxes;
    hooks.WindowShown = [](TForm1& form) {
        // Said a turn later, once the list and its model agree again.
        QAbstractItemModel* model = form.ListBox1->model();
        const auto later = [&form] { QMetaObject::invokeMethod(&form, [&form] { SayRows(form); }, Qt::QueuedConnection); };
        QObject::connect(model, &QAbstractItemModel::rowsInserted, &form, later);
        QObject::connect(model, &QAbstractItemModel::rowsRemoved, &form, later);
        Say(QStringLiteral("shown %1").arg(form.winId()));
        WatchLinkAndStatus(form);
        WatchMenusAndCaptions(form);
    };
    hooks.OpenRequested = [](int files) { Say(QStringLiteral("open %1").arg(files)); };
    return RunProgram(argc, argv, hooks);
}
