// Drag and drop with the desktop, without a desktop: the drop target fed
// with the drag events Qt would deliver, the drag-out's data object as a
// receiving program reads it, the staging folder and drag threshold rules,
// and the main window's drops and drag-outs against the simulated device
// (the desktop's drag loop replaced by a seam that records what is offered).
// The offscreen platform has no drag loop: scripts/dnd-check.sh drives real
// drags between programs (Esc included) under an X server.
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
#include <QTest>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <optional>
#include <string>

#include "flashfs/fs_flash.h"
#include "shell/data_object.h"
#include "shell/drag_rules.h"
#include "shell/file_drop.h"
#include "tests/ui/ui_test_support.h"
#include "ui/my_list_box.h"
#include "ui/progress_form.h"
#include "ui/text_tool_bar.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

const QStringList kThreeFiles = {"/home/op/progs/VAL-01.TNC", "/home/op/progs/FLANEC.ISO",
                                 "/home/op/progs/PLITA.LST"};

std::unique_ptr<QMimeData> UrlData(const QStringList& urls) {
    auto data = std::make_unique<QMimeData>();
    data->setUrls(QUrl::fromStringList(urls));
    return data;
}

std::unique_ptr<QMimeData> FileData(const QStringList& paths) {
    QStringList urls;
    for (const QString& p : paths) urls << QUrl::fromLocalFile(p).toString(QUrl::FullyEncoded);
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

// TEMP and TMPDIR, set or cleared by a test, put back afterwards.
struct ScopedEnv {
    static std::optional<QByteArray> Get(const char* name) {
        return qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt;
    }
    static void Set(const char* name, const std::optional<QByteArray>& value) {
        value ? qputenv(name, *value) : qunsetenv(name);
    }
    const std::optional<QByteArray> Temp = Get("TEMP"), TmpDir = Get("TMPDIR");
    ~ScopedEnv() { Set("TEMP", Temp), Set("TMPDIR", TmpDir); }
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
        EXPECT_TRUE(w.Drops.empty());  // the window gets them once the drop has been answered
        ProcessPending(0);
        EXPECT_EQ(w.Drops, std::vector<QStringList>{kThreeFiles});
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

TEST(FileDropAcceptor, DragsWithoutLocalFilesOrThatTheWindowRefusesGetNothing) {
    auto text = std::make_unique<QMimeData>();
    text->setText(QStringLiteral("/home/op/progs/VAL-01.TNC"));
    auto picture = std::make_unique<QMimeData>();
    picture->setImageData(QImage(4, 4, QImage::Format_RGB32));
    const struct {
        const char* Name;
        std::unique_ptr<QMimeData> Data;
        bool Accept = true;  // the window refuses while a drag-out of its own list runs
    } cases[] = {
        {"text", std::move(text)},
        {"picture", std::move(picture)},
        {"web address", UrlData({"https://example.org/a.tnc"})},
        {"remote file", UrlData({"sftp://host/home/op/a.tnc"})},
        {"another machine's file", UrlData({"file://otherhost.example/home/op/a.tnc"})},
        {"local and remote mixed", UrlData({"file:///home/op/a.tnc", "smb://host/share/b.tnc"})},
        {"empty list", UrlData({})},
        {"refused by the window", FileData(kThreeFiles), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        DropWindow w;
        w.Accept = c.Accept;
        // Qt delivers no move and no drop after a refused entry.
        const Answers a = DragAndDrop(w.List->viewport(), c.Data.get());
        EXPECT_FALSE(a.Enter || a.Move || a.Drop);
        EXPECT_TRUE(w.Acceptor->DroppedFiles.isEmpty());
        EXPECT_EQ(w.Asked, c.Accept ? std::vector<QStringList>() : std::vector<QStringList>{kThreeFiles});
        ProcessPending(0);
        EXPECT_TRUE(w.Drops.empty());
    }
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
    EXPECT_EQ(w.Drops, std::vector<QStringList>{QStringList({"/home/op/a.tnc", QStringLiteral("/home/op/б.iso")})});
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
    EXPECT_EQ(rendered, (std::vector<std::pair<QStringList, int>>{{files, 0}, {files, 1}}));
    EXPECT_TRUE(released.empty());
    delete data;
    EXPECT_EQ(released, std::vector<QStringList>{files});
}

TEST(FileSource, NoDragStartsOnceTheButtonIsUp) {
    // The button was let go while the files were staged.
    ASSERT_FALSE(QGuiApplication::mouseButtons() & Qt::LeftButton);
    QWidget source;
    std::vector<QStringList> released;
    auto* data = new TDataObject({"/tmp/stage/VAL-01.TNC"}, true, QPoint(100, 100), nullptr,
                                 [&](const QStringList& files) { released.push_back(files); });
    EXPECT_EQ(TFileSource(&source).DoDragDrop(data), Qt::IgnoreAction);
    EXPECT_EQ(released, std::vector<QStringList>{QStringList{"/tmp/stage/VAL-01.TNC"}});
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
    for (const auto& c : cases) EXPECT_EQ(DragOutStarts(c.Press, c.Pos), c.Starts) << &c - cases;
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

// ---------------------------------------------------------------- the main window

namespace {

// The drags a window started: what each offered, with the window's answer
// to a drag of files onto itself meanwhile.
struct DragLog {
    std::vector<QStringList> Offered;
    std::vector<bool> DropTakenMeanwhile;

    explicit DragLog(TForm1& form) {
        form.ExecDragDrop = [this, &form](TDataObject* data) {
            Offered.push_back(data->Files);
            auto files = FileData(kThreeFiles);
            DropTakenMeanwhile.push_back(DragAndDrop(&form, files.get(), false).Enter);
            delete data;
            return Qt::CopyAction;
        };
    }
};

// A press on row and a move of two pixels, through the list's own events;
// the release comes after the drag, which would have taken it.
void DragRow(TForm1& form, int row) {
    QWidget* vp = form.ListBox1->viewport();
    const QPoint p = form.ListBox1->visualItemRect(form.ListBox1->item(row)).center();
    QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, p);
    QTest::mouseMove(vp, p + QPoint(1, 1));
    QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, p + QPoint(1, 1));
}

// A rig whose staging folder is its own "stage" folder, named by "TEMP",
// with a pending row p.lst.
struct StagingRig : Rig {
    ScopedEnv Env;
    QString Stage = Folder("stage");
    QString Pending = PcFile("p.lst", Bytes(700, 4));
    std::unique_ptr<DragLog> Drags = std::make_unique<DragLog>(F());

    explicit StagingRig(const TFiles& files, bool trailingSeparator = false, std::vector<std::string> simArgs = {})
        : Rig(files, std::move(simArgs)) {
        Env.Set("TEMP", (trailingSeparator ? Stage : Stage.chopped(1)).toUtf8());
        F().AddFiles({Pending});
        F().show();
    }
    // Drags the rows of names (selected first) by the first of them.
    void Drag(const QStringList& names) {
        Select(names);
        DragRow(F(), List().IndexOfName(names.front()));
    }
    // Where rows are offered from: the medium's in the staging folder, p.lst where it is.
    QStringList Offered(const QStringList& names) const {
        QStringList out;
        for (const QString& n : names) out << (n == QLatin1String("p.lst") ? Pending : Stage + n);
        return out;
    }
};

}  // namespace

TEST(WindowDrop, LocalFilesDroppedOnAnyPartBecomePendingRowsInOrder) {
    Window w;
    TForm1& f = w.F();
    w.boxes.Boxes.clear();  // the port's
    const QStringList files = {w.PcFile("VAL-01.TNC"), w.PcFile("корпус.tnc"), w.PcFile("PLITA.LST")};
    std::vector<std::string> paths;
    for (const QString& file : files) paths.push_back(file.toStdString());
    auto data = FileData(files);
    QWidget* const targets[] = {&f, f.ListBox1->viewport(), f.ToolBar1, f.ToolBar2, f.Label3};
    for (QWidget* target : targets) {
        SCOPED_TRACE(target->metaObject()->className());
        w.List().ClearAll();
        const Answers a = DragAndDrop(target, data.get());
        EXPECT_TRUE(a.Enter && a.Move && a.Drop);
        EXPECT_EQ(a.Action, Qt::CopyAction);
        ProcessPending(0);
        EXPECT_EQ(w.Paths(), paths);
        for (const auto& row : w.Rows()) EXPECT_FALSE(row.second);
    }
    EXPECT_TRUE(w.boxes.Boxes.empty());

    // A folder among the files is named; the files around it are added.
    w.List().ClearAll();
    const QString folder = QString::fromStdString(w.dir.Path());
    auto withFolder = FileData({files[0], folder, files[2]});
    EXPECT_TRUE(DragAndDrop(f.ListBox1->viewport(), withFolder.get()).Drop);
    ProcessPending(0);
    EXPECT_EQ(w.Texts(),
              (std::vector<QString>{QStringLiteral("Не удалось открыть файл ") + folder + QStringLiteral(": это каталог")}));
    EXPECT_EQ(w.Paths(), (std::vector<std::string>{paths[0], paths[2]}));

    // Text carries no files: no-drop, and nothing happens.
    auto text = std::make_unique<QMimeData>();
    text->setText(files[0]);
    const Answers refused = DragAndDrop(&f, text.get());
    EXPECT_FALSE(refused.Enter || refused.Move || refused.Drop);

    // While rows are dragged out of the list, the window refuses drops; once
    // the drag is over it takes them again.
    f.show();
    DragLog drags(f);
    f.ListBox1->clearSelection();
    DragRow(f, 0);
    EXPECT_EQ(drags.Offered, std::vector<QStringList>{QStringList{files[0]}});
    EXPECT_EQ(drags.DropTakenMeanwhile, std::vector<bool>{false});
    EXPECT_TRUE(DragAndDrop(&f, data.get(), false).Enter);
    ProcessPending(0);
    EXPECT_EQ(w.List().Count(), 2);
    EXPECT_EQ(w.boxes.Boxes.size(), 1u);
}

TEST(WindowDrop, RefusedWhileATransfersProgressWindowIsUp) {
    Rig rig({});
    rig.F().AddFiles({rig.PcFile("big.lst", Bytes(20000, 1))});
    auto files = FileData(kThreeFiles);
    std::vector<bool> taken;
    rig.progress->OnFile = [&] { taken.push_back(DragAndDrop(&rig.F(), files.get(), false).Enter); };
    rig.F().MenuSave->trigger();
    ASSERT_TRUE(rig.Completed(opSaveFile, 1));
    EXPECT_EQ(taken, std::vector<bool>{false});
    EXPECT_TRUE(DragAndDrop(&rig.F(), files.get(), false).Enter);
}

TEST(WindowDragOut, MediumRowsAreStagedAndPendingRowsOfferedAsTheyAre) {
    const TFiles medium = {{"M1.TNC", Bytes(5000, 1)}, {"M2.ISO", ""}, {"M3.LST", Bytes(4096, 3)}};
    const struct {
        const char* Name;
        QStringList Select, Offered, Staged;  // offered in row order; the staging folder afterwards
        bool TrailingSeparator;
        int Loads;
    } cases[] = {
        {"medium only", {"M3.LST", "M1.TNC"}, {"M1.TNC", "M3.LST"}, {"M1.TNC", "M3.LST"}, false, 1},
        {"pending only", {"p.lst"}, {"p.lst"}, {"M1.TNC"}, true, 0},
        {"mixed", {"p.lst", "M2.ISO", "M1.TNC"}, {"M1.TNC", "M2.ISO", "p.lst"}, {"M1.TNC", "M2.ISO"}, true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        StagingRig rig(medium, c.TrailingSeparator);
        rig.PcFile("stage/M1.TNC", "an older copy");  // left by an earlier drag: loaded over
        rig.Select(c.Select);
        QStringList collected, unfit;
        rig.F().CollectDragPaths(collected, unfit);
        EXPECT_EQ(collected, rig.Offered(c.Offered));
        EXPECT_TRUE(unfit.isEmpty());

        rig.Drag(c.Select);
        EXPECT_EQ(rig.Drags->Offered, std::vector<QStringList>{rig.Offered(c.Offered)});
        EXPECT_EQ(rig.log->Count(opLoadFile), c.Loads);
        EXPECT_EQ(rig.progress->Finished, c.Loads);
        for (const auto& [name, bytes] : medium)
            if (c.Select.contains(QString::fromStdString(name))) {
                EXPECT_EQ(ReadAll(rig.Stage + QString::fromStdString(name)), bytes) << name;
            }
        EXPECT_EQ(ReadAll(rig.Pending), Bytes(700, 4));
        EXPECT_EQ(FolderEntries(rig.Stage), c.Staged);  // staged files stay; nothing else is left
        EXPECT_TRUE(rig.boxes.Boxes.empty());
        EXPECT_EQ(rig.Drags->DropTakenMeanwhile, std::vector<bool>{false});
    }
}

TEST(WindowDragOut, AStagingCutShortOffersOnlyWhatItLoaded) {
    const TFiles medium = {{"S1.TNC", Bytes(100, 1)}, {"BIG.TNC", Bytes(200000, 2)}, {"S3.TNC", Bytes(100, 3)}};
    const QStringList all = {"S1.TNC", "BIG.TNC", "S3.TNC", "p.lst"};
    const struct {
        const char* Name;
        QStringList Select;
        bool Cancel;  // else the device vanishes
        QStringList Offered;
        const char* Counts;  // what the message says was loaded
    } cases[] = {
        {"cancelled", all, true, {"S1.TNC", "p.lst"}, "1 из 3"},
        {"device gone", all, false, {"S1.TNC", "p.lst"}, "1 из 3"},
        {"nothing left", {"BIG.TNC", "S3.TNC"}, true, {}, "0 из 2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        StagingRig rig(medium, false, {"--baud", "115200"});
        for (const char* name : {"BIG.TNC", "S3.TNC"}) rig.PcFile(std::string("stage/") + name, "an older copy");
        // The device moves bytes at the line's pace: BIG.TNC takes seconds,
        // so the cut comes well before its end.
        rig.progress->OnFile = [&] {
            if (rig.progress->Files.back().second != QStringLiteral("Чтение BIG.TNC")) return;
            if (c.Cancel) QTest::keyClick(rig.F().Progress(), Qt::Key_Escape);
            else rig.sim->Kill();
        };
        rig.Drag(c.Select);
        EXPECT_EQ(rig.Drags->Offered, c.Offered.isEmpty() ? std::vector<QStringList>()
                                                          : std::vector<QStringList>{rig.Offered(c.Offered)});
        // The failure was reported before the drag started; the older
        // copies are as they were.
        ASSERT_GE(rig.Texts().size(), 1u);
        EXPECT_EQ(rig.Texts()[0],
                  "Ошибка загрузки файла BIG.TNC: " +
                      (c.Cancel ? QStringLiteral("операция прервана пользователем") : rig.F().MessageText(feLinkLost)) +
                      "; загружено файлов: " + c.Counts);
        EXPECT_EQ(ReadAll(rig.Stage + "BIG.TNC"), "an older copy");
        EXPECT_EQ(ReadAll(rig.Stage + "S3.TNC"), "an older copy");
        if (!c.Offered.isEmpty()) {
            EXPECT_EQ(ReadAll(rig.Stage + "S1.TNC"), Bytes(100, 1));
        }
    }
}

TEST(WindowDragOut, MediumNamesThatCannotBeLocalFilesAreNeverStaged) {
    StagingRig rig({{"A/B.TNC", "x"}, {"C\\D.TNC", "y"}, {"OK.TNC", "z"}});
    const QString unfit = QStringLiteral(" непригодно для файла на ПК, файл не перетащен");
    // A backslash is shown escaped, and its staged file carries it as %5C.
    rig.Drag({"OK.TNC", "A/B.TNC", "C\\x5CD.TNC"});
    EXPECT_EQ(rig.Drags->Offered, std::vector<QStringList>{rig.Offered({"C%5CD.TNC", "OK.TNC"})});
    // Told after the drag, not in its way.
    EXPECT_TRUE(rig.boxes.Boxes.empty());
    ProcessPending(0);
    EXPECT_EQ(rig.Texts(), (std::vector<QString>{QStringLiteral("Имя файла A/B.TNC") + unfit}));
    EXPECT_EQ(FolderEntries(rig.Stage), (QStringList{"C%5CD.TNC", "OK.TNC"}));
    EXPECT_EQ(ReadAll(rig.Stage + "C%5CD.TNC"), "y");

    // Nothing fit to drag: no load, no drag.
    rig.boxes.Boxes.clear();
    rig.Drag({"A/B.TNC"});
    ProcessPending(0);
    EXPECT_EQ(rig.Drags->Offered.size(), 1u);
    EXPECT_EQ(rig.log->Count(opLoadFile), 1);
    EXPECT_EQ(rig.Texts(), (std::vector<QString>{QStringLiteral("Имя файла A/B.TNC") + unfit}));
}
