// Opening files from outside the window: the command line, the frame a later
// start sends, the session's address, the server's answers to clients it
// must not trust, and the queue that gives the files to the window as a
// drop does.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDialog>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <cstdlib>
#include <optional>

#include "app/command_line.h"
#include "app/instance_name.h"
#include "app/open_queue.h"
#include "app/open_request.h"
#include "app/single_instance.h"
#include "flashfs/fs_flash.h"
#include "tests/ui/ui_test_support.h"
#include "ui/my_list_box.h"
#include "ui/progress_form.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

// Sets an environment variable for the scope, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) setenv(name, value->c_str(), 1);
        else unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_) setenv(name_, old_->c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

QByteArray Frame(const QByteArray& body) {
    QByteArray f("SKVOPEN1");
    char length[4];
    qToBigEndian(static_cast<quint32>(body.size()), length);
    return f + QByteArray(length, 4) + body;
}

}  // namespace

TEST(CommandLine, OptionsAndFiles) {
    const QString cwd = QStringLiteral("/home/op/работа");
    const struct {
        QStringList Args;
        bool Ok;
        std::string Port;
        bool NewInstance;
        QStringList Files;
    } cases[] = {
        {{}, true, "", false, {}},
        {{"--port", "ttyUSB0"}, true, "ttyUSB0", false, {}},
        {{"--port=/dev/pts/3", "A.TNC"}, true, "/dev/pts/3", false, {cwd + "/A.TNC"}},
        {{"--new-instance", "--port", "COM3"}, true, "COM3", true, {}},
        // Relative to the folder of the start, in the order given; nothing
        // else done to a path.
        {{"a.tnc", "/abs/b.iso", "../c.lst", "деталь 1.tnc"},
         true, "", false, {cwd + "/a.tnc", "/abs/b.iso", cwd + "/../c.lst", cwd + "/деталь 1.tnc"}},
        // After "--" every argument is a file; ":x" is a file, not a resource.
        {{"--", "--port", "-x.tnc", ":x.tnc"}, true, "", false, {cwd + "/--port", cwd + "/-x.tnc", cwd + "/:x.tnc"}},
        {{"--port"}, false, "", false, {}},
        {{"--port="}, false, "", false, {}},
        {{"--verbose"}, false, "", false, {}},
        {{"-"}, false, "", false, {}},
        {{""}, false, "", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Args.join(' ').toStdString());
        TCommandLine line;
        QString error;
        ASSERT_EQ(ParseCommandLine(c.Args, cwd, line, error), c.Ok);
        EXPECT_EQ(line.Image, "");
        if (!c.Ok) {
            EXPECT_FALSE(error.isEmpty());
            continue;
        }
        EXPECT_EQ(line.Port, c.Port);
        EXPECT_EQ(line.NewInstance, c.NewInstance);
        EXPECT_EQ(line.Files, c.Files);
    }
    // An image file instead of the port: made absolute; never both.
    const struct {
        QStringList Args;
        bool Ok;
        std::string Image;
    } images[] = {
        {{"--image", "m.img"}, true, cwd.toStdString() + "/m.img"},
        {{"--image=/srv/образ.img", "A.TNC"}, true, "/srv/образ.img"},
        {{"--image"}, false, ""},
        {{"--image="}, false, ""},
        {{"--image", "m.img", "--port", "COM3"}, false, ""},
    };
    for (const auto& c : images) {
        SCOPED_TRACE(c.Args.join(' ').toStdString());
        TCommandLine line;
        QString error;
        ASSERT_EQ(ParseCommandLine(c.Args, cwd, line, error), c.Ok);
        EXPECT_EQ(error.isEmpty(), c.Ok);
        if (c.Ok) {
            EXPECT_EQ(line.Image, c.Image);
        }
    }
    TCommandLine line;
    QString error;
    ASSERT_TRUE(ParseCommandLine({"x.tnc", "--help"}, cwd, line, error));
    EXPECT_TRUE(line.Help);
}

TEST(OpenRequest, FramesRoundTripAndForeignOnesAreRefused) {
    const QStringList files = {QStringLiteral("/home/op/Деталь 1.TNC"), QStringLiteral("/tmp/a\nb.iso"),
                               QStringLiteral("/x y/c.lst")};
    QStringList out;
    const QByteArray frame = EncodeOpenRequest(files);
    EXPECT_EQ(DecodeOpenRequest(frame, out), TFrameState::Complete);
    EXPECT_EQ(out, files);
    EXPECT_EQ(DecodeOpenRequest(EncodeOpenRequest({}), out), TFrameState::Complete);
    EXPECT_TRUE(out.isEmpty());
    // Every proper prefix waits for more.
    for (qsizetype n = 0; n < frame.size(); ++n)
        EXPECT_EQ(DecodeOpenRequest(frame.left(n), out), TFrameState::Incomplete) << n;

    const struct {
        const char* What;
        QByteArray Bytes;
    } bad[] = {
        {"another program's bytes", QByteArray("GET / HTTP/1.0\r\n\r\n")},
        {"bytes after the frame", frame + "x"},
        {"too long", QByteArray("SKVOPEN1\x01\x00\x00\x01", 12)},
        {"relative path", Frame(QByteArray("a.tnc\0", 6))},
        {"resource path", Frame(QByteArray(":/app/about.jpg\0", 16))},
        {"empty path", Frame(QByteArray("/a\0\0", 4))},
        {"not UTF-8", Frame(QByteArray("/a\xff\xfe\0", 5))},
        {"unterminated path", Frame(QByteArray("/a.tnc"))},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.What);
        EXPECT_EQ(DecodeOpenRequest(c.Bytes, out), TFrameState::Bad);
        EXPECT_TRUE(out.isEmpty());
    }
}

TEST(InstanceAddress, OneSocketPerUserAndDisplayInAFolderOfTheUsersOwn) {
    const struct {
        std::string Session, Tag;
    } tags[] = {
        {":0", "%3A0"}, {":0.1", "%3A0"}, {"host:10.0", "host%3A10"}, {":1", "%3A1"},
        {"wayland:wayland-0", "wayland%3Awayland-0"}, {"wayland:/run/w", "wayland%3A%2Frun%2Fw"},
        {"offscreen", "offscreen"}, {"", "default"},
    };
    for (const auto& t : tags) EXPECT_EQ(SessionTag(t.Session), t.Tag) << t.Session;

    QTemporaryDir runtime, tmp;
    ASSERT_EQ(chmod(runtime.path().toUtf8().constData(), 0700), 0);
    const std::string uid = std::to_string(geteuid());
    const std::string fallback = tmp.path().toStdString() + "/skarvel-" + uid;
    ScopedEnv tmpdir("TMPDIR", tmp.path().toStdString());
    {
        ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.path().toStdString());
        const TInstanceAddress a = InstanceAddress(":0");
        EXPECT_EQ(a.ServerName, runtime.path().toStdString() + "/skarvel-" + uid + "-%3A0.socket");
        EXPECT_EQ(a.LockPath, runtime.path().toStdString() + "/skarvel-" + uid + "-%3A0.lock");
        EXPECT_NE(InstanceAddress(":1").ServerName, a.ServerName);
        EXPECT_EQ(InstanceAddress(":0.0").ServerName, a.ServerName);
    }
    // A runtime folder that others may enter, or none: a folder of the
    // user's own in the temporary folder, made closed.
    ASSERT_EQ(chmod(runtime.path().toUtf8().constData(), 0755), 0);
    for (const std::optional<std::string>& xdg : {std::optional<std::string>(runtime.path().toStdString()),
                                                  std::optional<std::string>()}) {
        ScopedEnv env("XDG_RUNTIME_DIR", xdg);
        const TInstanceAddress a = InstanceAddress(":0");
        EXPECT_EQ(a.Problem, "");
        EXPECT_EQ(a.ServerName, fallback + "/skarvel-" + uid + "-%3A0.socket");
        struct stat st {};
        ASSERT_EQ(lstat(fallback.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
    // That folder opened to others, or a link in its place: no address.
    ScopedEnv none("XDG_RUNTIME_DIR", std::nullopt);
    ASSERT_EQ(chmod(fallback.c_str(), 0777), 0);
    EXPECT_NE(InstanceAddress(":0").Problem.find("open to other users"), std::string::npos);
    EXPECT_TRUE(InstanceAddress(":0").ServerName.empty());
    ASSERT_EQ(rmdir(fallback.c_str()), 0);
    ASSERT_EQ(symlink(runtime.path().toUtf8().constData(), fallback.c_str()), 0);
    EXPECT_NE(InstanceAddress(":0").Problem.find("is not a folder"), std::string::npos);
}

// The listening side, against clients that are not a later start of the
// program: nothing reaches the window and the connection is closed.
TEST(SingleInstance, FramesThatAreNotARequestGetNoAnswer) {
    QTemporaryDir runtime;
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.path().toStdString());
    TSingleInstance window(InstanceAddress("offscreen"));
    ASSERT_EQ(window.Start(true, {}), TSingleInstance::TStart::OwnWindow);
    ASSERT_TRUE(window.Listening()) << window.Note().toStdString();
    std::vector<QStringList> opened;
    QObject::connect(&window, &TSingleInstance::OpenRequested, [&](const QStringList& f) { opened.push_back(f); });

    for (const QByteArray& bytes : {QByteArray("hello\n"), Frame(QByteArray("relative.tnc\0", 13)),
                                    EncodeOpenRequest({QStringLiteral("/a.tnc")}) + "more"}) {
        QLocalSocket client;
        client.connectToServer(QString::fromStdString(InstanceAddress("offscreen").ServerName));
        ASSERT_TRUE(client.waitForConnected(1000));
        client.write(bytes);
        EXPECT_TRUE(ProcessUntil([&] { return client.state() == QLocalSocket::UnconnectedState; }));
        EXPECT_EQ(client.readAll(), QByteArray());
    }
    EXPECT_TRUE(opened.empty());

    // A request, sent in pieces, is answered and passed on.
    QLocalSocket client;
    client.connectToServer(QString::fromStdString(InstanceAddress("offscreen").ServerName));
    ASSERT_TRUE(client.waitForConnected(1000));
    const QByteArray frame = EncodeOpenRequest({QStringLiteral("/a.tnc")});
    client.write(frame.left(5));
    ProcessPending();
    client.write(frame.mid(5));
    EXPECT_TRUE(ProcessUntil([&] { return client.bytesAvailable() > 0; }));
    EXPECT_EQ(client.readAll(), QByteArray(1, OpenAck));
    EXPECT_EQ(opened, std::vector<QStringList>{QStringList{QStringLiteral("/a.tnc")}});

    // Stopped: the socket is gone, and the next start listens itself.
    window.Stop();
    TSingleInstance next(InstanceAddress("offscreen"));
    EXPECT_EQ(next.Start(true, {QStringLiteral("/b.tnc")}), TSingleInstance::TStart::OwnWindow);
    EXPECT_TRUE(next.Listening());
}

TEST(SingleInstance, AWindowThatDoesNotAnswerFailsTheHandOver) {
    QTemporaryDir runtime;
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.path().toStdString());
    // Takes the connection and never answers (a hung window).
    QLocalServer hung;
    ASSERT_TRUE(hung.listen(QString::fromStdString(InstanceAddress("offscreen").ServerName)));
    TSingleInstance later(InstanceAddress("offscreen"));
    later.AnswerTimeoutMs = 300;
    EXPECT_EQ(later.Start(true, {QStringLiteral("/a.tnc")}), TSingleInstance::TStart::Failed);
    EXPECT_FALSE(later.Note().isEmpty());
    EXPECT_FALSE(later.Listening());
    // --new-instance does not ask it.
    TSingleInstance own(InstanceAddress("offscreen"));
    EXPECT_EQ(own.Start(false, {QStringLiteral("/a.tnc")}), TSingleInstance::TStart::OwnWindow);
    EXPECT_FALSE(own.Listening());
}

// The queue gives files to the window only when a drop would be taken and
// no dialog is open; they become pending rows through the drop's checks.
TEST(OpenQueue, FilesWaitWhileADialogIsOpenAndArriveAsADropDoes) {
    Window w;
    w.F().show();
    w.boxes.Boxes.clear();
    TOpenQueue queue;
    const QString a = w.PcFile("a.tnc");
    const QString folder = w.Folder("folder").chopped(1);
    queue.Open({a}, true);  // before the window is known: waits
    ProcessPending();
    EXPECT_EQ(w.Paths(), std::vector<std::string>{});
    queue.SetWindow(&w.F());
    EXPECT_TRUE(ProcessUntil([&] { return queue.Waiting().isEmpty(); }));
    EXPECT_EQ(w.Paths(), std::vector<std::string>{a.toStdString()});

    QDialog dialog(&w.F());
    dialog.setModal(true);
    dialog.show();
    const QString b = w.PcFile("b.iso");
    queue.Open({folder, b}, true);
    ProcessPending();
    EXPECT_FALSE(queue.Deliver());
    EXPECT_EQ(w.Paths().size(), 1u);
    dialog.hide();
    EXPECT_TRUE(ProcessUntil([&] { return queue.Waiting().isEmpty(); }));
    EXPECT_EQ(w.Paths(), (std::vector<std::string>{a.toStdString(), b.toStdString()}));
    EXPECT_EQ(w.Texts(), std::vector<QString>{QStringLiteral("Не удалось открыть файл ") + folder +
                                              QStringLiteral(": это каталог")});
}

TEST(OpenQueue, FilesHandedOverDuringAWriteArriveWhenItHasEnded) {
    Rig rig({});
    rig.F().show();
    TOpenQueue queue;
    queue.SetWindow(&rig.F());
    rig.F().AddFiles({rig.PcFile("x1.lst", Bytes(20000, 1))});
    const QString later = rig.PcFile("later.tnc", "G0\n");
    bool offered = false;
    rig.progress->OnStep = [&] {
        if (offered) return;
        offered = true;
        queue.Open({later}, true);
        EXPECT_FALSE(queue.Deliver());
    };
    rig.F().MenuSave->trigger();
    ASSERT_TRUE(rig.Completed(opSaveFile, 1));
    ASSERT_TRUE(offered);
    EXPECT_TRUE(ProcessUntil([&] { return queue.Waiting().isEmpty(); }));
    EXPECT_EQ(rig.Rows(), (std::vector<std::pair<QString, bool>>{{"X1.LST", true}, {"later.tnc", false}}));
}
