// Another program for the desktop drag and drop check: it stands for a file
// manager and uses nothing of Skarvel, only Qt's own drag and drop.
//
//   skarvel-dnd-peer source FILE...       press and move in its window drags
//                                         the files as local-file URLs
//   skarvel-dnd-peer source --text TEXT   drags plain text instead
//   skarvel-dnd-peer target DIR           copies the local files dropped on
//                                         its window into DIR
//
// Lines on standard output: "ready"; a source says "action NAME" when the
// target's answer changes and "end NAME" when the drag is over; a target
// says "enter" when a drag of URLs reaches it, "copied NAME" or "failed
// NAME" for each file dropped and then "dropped N".
#include <QApplication>
#include <QDir>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>

#include "tests/tools/dnd_say.h"

using skarvel::dnd::ActionName;
using skarvel::dnd::Say;

namespace {

class Source : public QWidget {
public:
    Source(QStringList files, QString text) : FFiles(std::move(files)), FText(std::move(text)) {
        setWindowTitle(QStringLiteral("dnd-peer source"));
    }

protected:
    void mousePressEvent(QMouseEvent* e) override { FPress = e->position().toPoint(); }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (!(e->buttons() & Qt::LeftButton) || FPress.x() < 0) return;
        if ((e->position().toPoint() - FPress).manhattanLength() < 2) return;
        FPress = QPoint(-1, -1);
        auto* mime = new QMimeData;
        if (FText.isNull()) {
            QList<QUrl> urls;
            for (const QString& f : FFiles) urls.append(QUrl::fromLocalFile(QFileInfo(f).absoluteFilePath()));
            mime->setUrls(urls);
        } else {
            mime->setText(FText);
        }
        auto* drag = new QDrag(this);
        drag->setMimeData(mime);
        QObject::connect(drag, &QDrag::actionChanged, [](Qt::DropAction a) { Say("action " + ActionName(a)); });
        // What a file manager offers.
        const Qt::DropAction result = drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction);
        Say("end " + ActionName(result));
    }

private:
    QStringList FFiles;
    QString FText;
    QPoint FPress{-1, -1};
};

class Target : public QWidget {
public:
    explicit Target(QString dir) : FDir(std::move(dir)) {
        setWindowTitle(QStringLiteral("dnd-peer target"));
        setAcceptDrops(true);
    }

protected:
    void dragEnterEvent(QDragEnterEvent* e) override {
        if (!e->mimeData()->hasUrls()) return;
        Say(QStringLiteral("enter"));
        e->acceptProposedAction();
    }
    void dropEvent(QDropEvent* e) override {
        const QList<QUrl> urls = e->mimeData()->urls();
        for (const QUrl& url : urls) {
            const QString from = url.toLocalFile();
            const QString to = QDir(FDir).filePath(QFileInfo(from).fileName());
            QFile::remove(to);
            Say((QFile::copy(from, to) ? "copied " : "failed ") + QFileInfo(from).fileName());
        }
        e->acceptProposedAction();
        Say("dropped " + QString::number(urls.size()));
    }

private:
    QString FDir;
};

int Usage() {
    std::fputs("usage: skarvel-dnd-peer source FILE... | source --text TEXT | target DIR\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) return Usage();
    const QString mode = args.takeFirst();
    std::unique_ptr<QWidget> window;
    if (mode == QLatin1String("source") && args.size() == 2 && args[0] == QLatin1String("--text"))
        window = std::make_unique<Source>(QStringList(), args[1]);
    else if (mode == QLatin1String("source") && !args.isEmpty())
        window = std::make_unique<Source>(args, QString());
    else if (mode == QLatin1String("target") && args.size() == 1)
        window = std::make_unique<Target>(args[0]);
    else
        return Usage();
    window->resize(300, 220);
    window->show();
    Say("ready");
    return app.exec();
}
