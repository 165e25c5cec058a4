// Skarvel's main window for the desktop drag and drop check: the window
// class of the program (TForm1, with its drop target, drag-out and staging)
// on a given port, reporting what the check needs to find and to wait for.
//
//   skarvel-dnd-main --port PORT
//
// Lines on standard output: "area NAME X Y" for the centres of the list,
// the icon tool bar and the status line (from the window's top-left corner)
// once it is shown; "done OP RESULT" for each completion handled; after
// every change of the list "rows N" and then "row NAME medium|pending X Y"
// for each row, top to bottom (X Y: the row's centre), a pending row's
// followed by "path PATH" (its PC path); "progress" when a
// progress window shows; "box TEXT" for each message box (lines joined by
// " | "), which is then shown as the program shows it.
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QTimer>
#include <QToolBar>
#include <cstring>

#include "tests/tools/dnd_say.h"
#include "ui/com_setup.h"
#include "ui/main_form.h"
#include "ui/message_boxes.h"
#include "ui/my_list_box.h"
#include "ui/progress_form.h"

using namespace skarvel;
using skarvel::dnd::Say;

namespace {

class TSayingBoxes final : public TMessageBoxes {
public:
    int Ask(QWidget* parent, const QString& text, TMsgDlgType type, unsigned buttons) override {
        Say(QStringLiteral("box ") + OneLine(text));
        return DefaultMessageBoxes().Ask(parent, text, type, buttons);
    }
    void Show(QWidget* parent, const QString& text, TMsgDlgType type) override {
        Say(QStringLiteral("box ") + OneLine(text));
        DefaultMessageBoxes().Show(parent, text, type);
    }

private:
    static QString OneLine(QString text) { return text.replace(QLatin1Char('\n'), QStringLiteral(" | ")); }
};

QString Centre(QWidget* form, QWidget* w, QPoint local) {
    const QPoint c = w->mapTo(form, local);
    return QStringLiteral("%1 %2").arg(c.x()).arg(c.y());
}

void SayRows(TForm1& form) {
    const TMyListBox& list = *form.MyListBox();
    Say(QStringLiteral("rows %1").arg(list.Count()));
    for (int i = 0; i < list.Count(); ++i) {
        const QRect r = form.ListBox1->visualItemRect(form.ListBox1->item(i));
        Say(QStringLiteral("row %1 %2 %3")
                .arg(list.DisplayName(i), list.Flags(i) ? QStringLiteral("medium") : QStringLiteral("pending"),
                     Centre(&form, form.ListBox1->viewport(), r.center())));
        if (!list.Flags(i)) Say(QStringLiteral("path ") + QString::fromStdString(list.Path(i)));
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Skarvel"));
    InstallRussianTranslation();
    if (argc != 3 || std::strcmp(argv[1], "--port") != 0) {
        std::fputs("usage: skarvel-dnd-main --port PORT\n", stderr);
        return 2;
    }
    InstallSettingsDialog();
    TSayingBoxes boxes;
    TFormOptions options;
    options.Port = argv[2];
    options.Messages = &boxes;
    TForm1 form(options);

    // The rows once the list has settled after a change.
    QTimer rows;
    rows.setSingleShot(true);
    rows.setInterval(0);
    QObject::connect(&rows, &QTimer::timeout, &form, [&form] { SayRows(form); });
    QAbstractItemModel* model = form.ListBox1->model();
    QObject::connect(model, &QAbstractItemModel::rowsInserted, &rows, qOverload<>(&QTimer::start));
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, &rows, qOverload<>(&QTimer::start));
    QObject::connect(model, &QAbstractItemModel::modelReset, &rows, qOverload<>(&QTimer::start));
    QObject::connect(&form, &TForm1::OperationDone, &form,
                     [](int op, int result) { Say(QStringLiteral("done %1 %2").arg(op).arg(result)); });
    QObject::connect(&form, &TForm1::ProgressStarted, &form, [] { Say(QStringLiteral("progress")); });

    form.show();
    const std::pair<const char*, QWidget*> areas[] = {
        {"list", form.ListBox1->viewport()}, {"toolbar", form.ToolBar1}, {"status", static_cast<QWidget*>(form.Label3)}};
    for (const auto& [name, widget] : areas)
        Say(QStringLiteral("area %1 %2").arg(QLatin1String(name), Centre(&form, widget, widget->rect().center())));
    return QApplication::exec();
}
