// A small window built like Skarvel's main one (a tool bar, a list, a status
// line) on the shell's drag and drop classes, for the desktop drag and drop
// check.
//
//   skarvel-dnd-window accept         takes files dropped anywhere on it
//                                     through TFileDropAcceptor
//   skarvel-dnd-window offer FILE...  lists the files; a press in the list
//                                     and a move of 2 pixels drags them out
//                                     through TFileSource and TDataObject
//
// Lines on standard output: "ready", then "area NAME X Y" for the centres of
// the list, the tool bar and the status line (from the window's top-left
// corner). accept: "drag enter" for each drag that reaches the window, then
// "drop PATH" for each dropped path and "dropped N". offer: "feedback NAME"
// when the target's answer changes, "end NAME" when the drag is over,
// "rendered N" for each rendering of the list and "released" when Qt frees it.
#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QMouseEvent>
#include <QStatusBar>
#include <QToolBar>

#include "shell/data_object.h"
#include "shell/drag_rules.h"
#include "shell/file_drop.h"
#include "tests/tools/dnd_say.h"

using namespace skarvel;
using skarvel::dnd::ActionName;
using skarvel::dnd::Say;

namespace {

class Window : public QMainWindow {
public:
    Window() {
        setWindowTitle(QStringLiteral("dnd-window"));
        addToolBar(QStringLiteral("tools"))->addAction(QStringLiteral("Открыть"));
        List = new QListWidget(this);
        setCentralWidget(List);
        Status = new QLabel(QStringLiteral("Статус: "), this);
        statusBar()->addWidget(Status, 1);
        resize(360, 260);
    }

    void SayAreas() {
        const std::pair<const char*, QWidget*> areas[] = {
            {"list", List->viewport()}, {"toolbar", findChild<QToolBar*>()}, {"status", Status}};
        for (const auto& [name, widget] : areas) {
            const QPoint c = widget->mapTo(this, widget->rect().center());
            Say(QStringLiteral("area %1 %2 %3").arg(QLatin1String(name)).arg(c.x()).arg(c.y()));
        }
    }

    QListWidget* List;
    QLabel* Status;
};

// Reports that a drag reached the window before the acceptor answers it.
class EnterLog : public QObject {
protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::DragEnter) Say(QStringLiteral("drag enter"));
        return false;
    }
};

// The drag-out of the list: a press and a move of 2 pixels.
class DragOut : public QObject {
public:
    DragOut(Window& window, QStringList files) : FWindow(window), FFiles(std::move(files)) {}

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::MouseButtonPress) FPress = static_cast<QMouseEvent*>(e)->position().toPoint();
        if (e->type() != QEvent::MouseMove) return false;
        const auto* me = static_cast<QMouseEvent*>(e);
        if (!(me->buttons() & Qt::LeftButton) || !DragOutStarts(FPress, me->position().toPoint())) return false;
        FPress = QPoint(-1, -1);
        TFileSource source(FWindow.List);
        source.OnGiveFeedback = [](Qt::DropAction a) { Say("feedback " + ActionName(a)); };
        auto* data = new TDataObject(
            FFiles, true, QPoint(100, 100),
            [](const QStringList&, int count) { Say("rendered " + QString::number(count)); },
            [](const QStringList&) { Say(QStringLiteral("released")); });
        Say("end " + ActionName(source.DoDragDrop(data)));
        return true;
    }

private:
    Window& FWindow;
    QStringList FFiles;
    QPoint FPress{-1, -1};
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const QString mode = args.isEmpty() ? QString() : args.takeFirst();
    Window window;
    TFileDropAcceptor acceptor(
        [](TFileDropAcceptor*, const QStringList& files) {
            for (const QString& f : files) Say("drop " + f);
            Say("dropped " + QString::number(files.size()));
        },
        nullptr);
    EnterLog enterLog;
    std::unique_ptr<DragOut> dragOut;
    if (mode == QLatin1String("accept") && args.isEmpty()) {
        acceptor.Register(&window);
        // Application filters see each entry before the window's own (the acceptor).
        app.installEventFilter(&enterLog);
    } else if (mode == QLatin1String("offer") && !args.isEmpty()) {
        for (const QString& f : args) window.List->addItem(QFileInfo(f).fileName());
        for (QString& f : args) f = QFileInfo(f).absoluteFilePath();
        dragOut = std::make_unique<DragOut>(window, args);
        window.List->viewport()->installEventFilter(dragOut.get());
    } else {
        std::fputs("usage: skarvel-dnd-window accept | offer FILE...\n", stderr);
        return 2;
    }
    window.show();
    Say(QStringLiteral("ready"));
    window.SayAreas();
    return app.exec();
}
