// Drag and drop with the desktop, without a desktop: the window's drop
// target fed with the drag events Qt would deliver, the drag-out's data
// object as a receiving program reads it, and the staging folder and drag
// threshold rules. The offscreen platform has no drag loop: scripts/dnd-check.sh
// drives real drags between programs (Esc included) under an X server.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QUrl>
#include <QVBoxLayout>
#include <map>
#include <optional>
#include <string>

#include "shell/data_object.h"
#include "shell/drag_rules.h"
#include "shell/file_drop.h"
#include "tests/ui/ui_test_support.h"

using namespace skarvel;
using skarvel::test::ProcessPending;

namespace {

const QStringList kThreeFiles = {"/home/op/progs/VAL-01.TNC", "/home/op/progs/FLANEC.ISO",
                                 "/home/op/progs/PLITA.LST"};

std::unique_ptr<QMimeData> UrlData(const QStringList& urls) {
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> list;
    for (const QString& u : urls) list.append(QUrl(u));
    data->setUrls(list);
    return data;
}

std::unique_ptr<QMimeData> FileData(const QStringList& paths) {
    QStringList urls;
    for (const QString& p : paths) urls.append(QString::fromLatin1(QUrl::fromLocalFile(p).toEncoded()));
    return UrlData(urls);
}

// A window like the main one: a list, a status line, and the acceptor.
struct DropWindow {
    QWidget Window;
    QListWidget* List = new QListWidget(&Window);
    QLabel* Status = new QLabel(QStringLiteral("Статус: "), &Window);
    std::vector<QStringList> Drops;
    std::vector<QStringList> Asked;
    bool Accept = true;
    std::optional<TFileDropAcceptor> Acceptor;

    DropWindow() {
        auto* layout = new QVBoxLayout(&Window);
        layout->addWidget(List);
        layout->addWidget(Status);
        Acceptor.emplace(
            [this](TFileDropAcceptor* sender, const QStringList& files) {
                EXPECT_EQ(sender, &*Acceptor);
                Drops.push_back(files);
            },
            [this](TFileDropAcceptor*, const QStringList& files, bool& accept) {
                Asked.push_back(files);
                accept = Accept;
            });
        Acceptor->Register(&Window);
    }
};

// The answers of one drag: enter, a move, the drop.
struct Answers {
    bool Enter, Move, Drop;
    Qt::DropAction Action;
};

Answers DragAndDrop(QWidget* target, const QMimeData* data, bool drop = true) {
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QDragEnterEvent enter(QPoint(5, 5), offered, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDragMoveEvent move(QPoint(6, 6), offered, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    Answers out{enter.isAccepted(), move.isAccepted(), false, move.dropAction()};
    if (drop) {
        QDropEvent dropped(QPointF(6, 6), offered, data, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(target, &dropped);
        out.Drop = dropped.isAccepted();
        out.Action = dropped.dropAction();
    } else {
        QDragLeaveEvent leave;
        QApplication::sendEvent(target, &leave);
    }
    return out;
}

// Sets or clears variables for one test and puts them back afterwards.
class ScopedEnv {
public:
    void Set(const char* name, const std::optional<QByteArray>& value) {
        if (!FSaved.count(name)) FSaved[name] = qEnvironmentVariableIsSet(name)
                                                    ? std::optional<QByteArray>(qgetenv(name))
                                                    : std::nullopt;
        value ? qputenv(name, *value) : qunsetenv(name);
    }
    ~ScopedEnv() {
        for (const auto& [name, value] : FSaved) value ? qputenv(name.c_str(), *value) : qunsetenv(name.c_str());
    }

private:
    std::map<std::string, std::optional<QByteArray>> FSaved;
};

}  // namespace

TEST(FileDropAcceptor, LocalFilesDroppedAnywhereOnTheWindowArriveInOrder) {
    DropWindow w;
    auto data = FileData(kThreeFiles);
    QWidget* const targets[] = {&w.Window, w.List->viewport(), w.Status};
    for (QWidget* target : targets) {
        SCOPED_TRACE(target->metaObject()->className());
        w.Drops.clear();
        const Answers a = DragAndDrop(target, data.get());
        EXPECT_TRUE(a.Enter && a.Move && a.Drop);
        EXPECT_EQ(a.Action, Qt::CopyAction);  // the only action, whatever the source proposes
        EXPECT_EQ(w.Acceptor->DroppedFiles, kThreeFiles);
        // The window gets the files once the drop has been answered.
        EXPECT_TRUE(w.Drops.empty());
        ProcessPending(0);
        ASSERT_EQ(w.Drops.size(), 1u);
        EXPECT_EQ(w.Drops[0], kThreeFiles);
    }
    EXPECT_EQ(w.Asked.size(), std::size(targets));

    // Another top-level window keeps its own drops; a revoked window has none.
    QDialog dialog(&w.Window);
    dialog.setAcceptDrops(true);
    EXPECT_FALSE(DragAndDrop(&dialog, data.get()).Enter);
    w.Acceptor.reset();
    EXPECT_FALSE(w.Window.acceptDrops());
    EXPECT_FALSE(DragAndDrop(&w.Window, data.get()).Enter);
}

TEST(FileDropAcceptor, DragsWithoutLocalFilesAreRefused) {
    auto text = std::make_unique<QMimeData>();
    text->setText(QStringLiteral("/home/op/progs/VAL-01.TNC"));
    auto picture = std::make_unique<QMimeData>();
    picture->setImageData(QImage(4, 4, QImage::Format_RGB32));
    const std::pair<const char*, std::unique_ptr<QMimeData>> cases[] = {
        {"text", std::move(text)},
        {"picture", std::move(picture)},
        {"web address", UrlData({"https://example.org/a.tnc"})},
        {"remote file", UrlData({"sftp://host/home/op/a.tnc"})},
        {"another machine's file", UrlData({"file://otherhost.example/home/op/a.tnc"})},
        {"local and remote mixed", UrlData({"file:///home/op/a.tnc", "smb://host/share/b.tnc"})},
        {"empty list", UrlData({})},
    };
    for (const auto& [name, data] : cases) {
        SCOPED_TRACE(name);
        DropWindow w;
        // Qt delivers no move and no drop after a refused entry.
        const Answers a = DragAndDrop(&w.Window, data.get());
        EXPECT_FALSE(a.Enter || a.Move || a.Drop);
        EXPECT_TRUE(w.Acceptor->DroppedFiles.isEmpty());
        EXPECT_TRUE(w.Asked.empty());
        ProcessPending(0);
        EXPECT_TRUE(w.Drops.empty());
    }
}

TEST(FileDropAcceptor, WindowThatRefusesGetsNothing) {
    // The window refuses while a drag-out of its own list runs.
    DropWindow w;
    w.Accept = false;
    auto data = FileData(kThreeFiles);
    const Answers a = DragAndDrop(w.List->viewport(), data.get());
    EXPECT_FALSE(a.Enter || a.Move || a.Drop);
    ASSERT_EQ(w.Asked.size(), 1u);
    EXPECT_EQ(w.Asked[0], kThreeFiles);
    EXPECT_TRUE(w.Acceptor->DroppedFiles.isEmpty());
    ProcessPending(0);
    EXPECT_TRUE(w.Drops.empty());
}

TEST(FileDropAcceptor, PathsArriveWholeAndAreReadAgainAtEachEntry) {
    const QString cyrillic = QStringLiteral("/home/оператор/программы/корпус редуктора.tnc");
    QString deep = QStringLiteral("/home/op");
    while (deep.size() < 300) deep += QStringLiteral("/каталог");
    deep += QStringLiteral("/деталь #1 50%.iso");
    ASSERT_GT(deep.size(), 260);
    ASSERT_GT(QFile::encodeName(deep).size(), 500);  // in UTF-8 bytes too

    DropWindow w;
    auto first = FileData({cyrillic, deep});
    EXPECT_TRUE(DragAndDrop(&w.Window, first.get(), false).Enter);
    EXPECT_EQ(w.Acceptor->DroppedFiles, QStringList({cyrillic, deep}));
    // Leaving keeps the names; the next entry reads its own.
    auto second = UrlData({"file://localhost/home/op/a.tnc", "file:///home/op/%D0%B1.iso"});
    const Answers a = DragAndDrop(&w.Window, second.get());
    EXPECT_TRUE(a.Enter && a.Drop);
    ProcessPending(0);
    ASSERT_EQ(w.Drops.size(), 1u);
    EXPECT_EQ(w.Drops[0], QStringList({"/home/op/a.tnc", QStringLiteral("/home/op/б.iso")}));
}

TEST(DataObject, OffersThePathsAsLocalFileUrlsAndCountsItsRenderings) {
    const QStringList files = {QStringLiteral("/tmp/stage/КОРПУС.TNC"), QStringLiteral("/home/op/a b#1%.iso"),
                               "/tmp/stage/VAL-01.TNC"};
    std::vector<std::pair<QStringList, int>> rendered;
    std::vector<QStringList> released;
    auto* data = new TDataObject(
        files, true, QPoint(100, 100),
        [&](const QStringList& f, int count) { rendered.emplace_back(f, count); },
        [&](const QStringList& f) { released.push_back(f); });
    EXPECT_TRUE(data->formats().contains(QStringLiteral("text/uri-list")));
    EXPECT_EQ(data->RenderCount, 0);

    // What a receiving program gets: one URL a line, UTF-8 percent-escaped.
    const QByteArray list = data->data(QStringLiteral("text/uri-list"));
    EXPECT_EQ(list, "file:///tmp/stage/%D0%9A%D0%9E%D0%A0%D0%9F%D0%A3%D0%A1.TNC\r\n"
                    "file:///home/op/a%20b%231%25.iso\r\n"
                    "file:///tmp/stage/VAL-01.TNC\r\n");
    // And what the window's own drop target reads from it.
    EXPECT_EQ(LocalFilePaths(data), files);
    EXPECT_EQ(data->RenderCount, 2);
    ASSERT_EQ(rendered.size(), 2u);
    EXPECT_EQ(rendered[0], std::make_pair(files, 0));
    EXPECT_EQ(rendered[1], std::make_pair(files, 1));
    EXPECT_TRUE(released.empty());

    delete data;
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0], files);
}

TEST(FileSource, NoDragStartsOnceTheButtonIsUp) {
    // The button was let go while the files were staged.
    ASSERT_FALSE(QGuiApplication::mouseButtons() & Qt::LeftButton);
    QWidget source;
    std::vector<QStringList> released;
    auto* data = new TDataObject({"/tmp/stage/VAL-01.TNC"}, true, QPoint(100, 100), nullptr,
                                 [&](const QStringList& files) { released.push_back(files); });
    EXPECT_EQ(TFileSource(&source).DoDragDrop(data), Qt::IgnoreAction);
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0], QStringList({"/tmp/stage/VAL-01.TNC"}));
}

TEST(DragRules, AMoveOfTwoPixelsStartsTheDrag) {
    const struct {
        QPoint Press, Pos;
        bool Starts;
    } cases[] = {
        {{10, 10}, {10, 10}, false}, {{10, 10}, {11, 10}, false}, {{10, 10}, {10, 9}, false},
        {{10, 10}, {11, 11}, true},  {{10, 10}, {12, 10}, true},  {{10, 10}, {10, 8}, true},
        {{10, 10}, {40, 3}, true},   {{-1, -1}, {40, 40}, false}, {{-1, 10}, {40, 40}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DragOutStarts(c.Press, c.Pos), c.Starts)
            << c.Press.x() << "," << c.Press.y() << " -> " << c.Pos.x() << "," << c.Pos.y();
}

TEST(DragRules, StagingFolderFromTempThenTmpdirThenTheSystem) {
    const QString cwd = QDir::currentPath();
    const struct {
        std::optional<QByteArray> Temp, TmpDir;
        QString Folder;
    } cases[] = {
        {"/var/stage", "/ignored", "/var/stage/"},
        {"/var/stage/", std::nullopt, "/var/stage/"},
        {QByteArray("/var/этап"), std::nullopt, QStringLiteral("/var/этап/")},
        {std::nullopt, "/run/tmp", "/run/tmp/"},
        {"", "/run/tmp/", "/run/tmp/"},
        {"", "", "/tmp/"},
        {std::nullopt, std::nullopt, "/tmp/"},
        {"stage", std::nullopt, cwd + "/stage/"},
        {"/", std::nullopt, "/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Folder.toStdString());
        ScopedEnv env;
        env.Set("TEMP", c.Temp);
        env.Set("TMPDIR", c.TmpDir);
        EXPECT_EQ(StagingFolder(), c.Folder);
    }
}
