// One window per user session, with real processes (offscreen): the first
// window is skarvel-instance-probe (the program itself, reporting its rows on
// standard output), later starts are the skarvel program. Each test has a
// runtime folder of its own, so no test meets another's window, nor the
// user's, and a settings folder of its own.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>

#include "tests/ui/ui_test_support.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

// Generous: a step takes a fraction of a second; this is how long a broken
// hand-over may keep a test waiting.
constexpr int WaitMs = 20000;

struct Session {
    QTemporaryDir runtime;  // made with mode 0700, as a login's
    QTemporaryDir files;

    QProcessEnvironment Env() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), runtime.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }
    QString File(const QString& name, const QByteArray& data = "G0 X0\n") const {
        const QString path = files.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
        return path;
    }
    QString Socket() const {
        const QStringList s = QDir(runtime.path()).entryList({QStringLiteral("*.socket")}, QDir::System);
        return s.size() == 1 ? runtime.filePath(s.front()) : QString();
    }
};

// A window: the probe, its lines kept as they come.
class ProbeWindow {
public:
    ProbeWindow(const Session& s, const QStringList& args) {
        process_.setProcessEnvironment(s.Env());
        process_.setWorkingDirectory(s.files.path());
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start(QStringLiteral(INSTANCE_PROBE), QStringList{QStringLiteral("--port"), s.files.filePath("no-port")} + args);
    }
    ~ProbeWindow() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }
    // Waits for a line equal to line (or, with prefix, beginning with it);
    // true when it came.
    bool Said(const QString& line, bool prefix = false) {
        QElapsedTimer t;
        t.start();
        for (;;) {
            for (const QString& l : lines_)
                if (prefix ? l.startsWith(line) : l == line) return true;
            if (t.elapsed() > WaitMs || process_.state() == QProcess::NotRunning) return false;
            if (!process_.canReadLine()) process_.waitForReadyRead(100);
            while (process_.canReadLine()) lines_ << QString::fromUtf8(process_.readLine()).chopped(1);
        }
    }
    bool Shown() { return Said(QStringLiteral("shown "), true); }
    // Every line so far that begins with prefix.
    QStringList Lines(const QString& prefix) {
        while (process_.canReadLine() || process_.waitForReadyRead(50))
            while (process_.canReadLine()) lines_ << QString::fromUtf8(process_.readLine()).chopped(1);
        return lines_.filter(QRegularExpression(QStringLiteral("^") + QRegularExpression::escape(prefix)));
    }
    void Crash() {
        ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
        process_.waitForFinished();
    }
    bool Running() const { return process_.state() == QProcess::Running; }
    QString Err() { return QString::fromUtf8(process_.readAllStandardError()); }

private:
    QProcess process_;
    QStringList lines_;
};

QString Rows(const QStringList& paths) { return QStringLiteral("rows ") + paths.join(QLatin1Char('\t')); }

struct RunResult {
    int Code = -1;
    QString Err;
};

// The skarvel program run to its end in folder cwd.
RunResult Skarvel(const Session& s, const QStringList& args, const QString& cwd = {}) {
    QProcess p;
    p.setProcessEnvironment(s.Env());
    p.setWorkingDirectory(cwd.isEmpty() ? s.files.path() : cwd);
    p.start(QStringLiteral(SKARVEL_PROGRAM), args);
    if (!p.waitForFinished(WaitMs)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardError())};
}

}  // namespace

TEST(Instances, CommandLineFilesOfTheFirstStartBecomePendingRows) {
    Session s;
    const QString a = s.File("A.TNC");
    const QString b = s.File("sub/b.lst");
    ProbeWindow w(s, {a, QStringLiteral("sub/b.lst")});
    ASSERT_TRUE(w.Shown());
    EXPECT_TRUE(w.Said(Rows({a, b}))) << w.Lines("rows").join('\n').toStdString();
    EXPECT_FALSE(s.Socket().isEmpty());
}

// The message of a port that is not there comes over the window, once it is
// shown: the window behind it goes on waiting for the port while the
// message waits for its OK.
TEST(Instances, TheMissingPortIsToldOnceTheWindowIsShown) {
    Session s;
    ProbeWindow w(s, {});
    ASSERT_TRUE(w.Shown());
    ASSERT_TRUE(w.Said(QStringLiteral("box Unable to open com port (win error code: 2) | Порт ") +
                           s.files.filePath("no-port") + QStringLiteral(" не найден."),
                       true))
        << w.Lines("box").join('\n').toStdString();
    const QStringList said = w.Lines(QString());
    const auto first = [&](const QString& prefix) {
        return std::find_if(said.begin(), said.end(), [&](const QString& l) { return l.startsWith(prefix); }) - said.begin();
    };
    EXPECT_LT(first(QStringLiteral("shown ")), first(QStringLiteral("box "))) << said.join('\n').toStdString();
    EXPECT_EQ(w.Lines("box").size(), 1);
}

TEST(Instances, LaterStartHandsItsFilesToTheWindowAndEnds) {
    Session s;
    const QString first = s.File("A.TNC");
    ProbeWindow w(s, {first});
    ASSERT_TRUE(w.Shown());
    ASSERT_TRUE(w.Said(Rows({first})));

    // Relative to the later start's own folder; a folder and a missing file
    // are refused in one box, as when dropped, and the rest still added.
    const QString second = s.File("work/Деталь 2.iso");
    const QString folder = s.files.filePath("work");
    const QString missing = s.files.filePath("work/нет.lst");
    const RunResult r = Skarvel(s, {QStringLiteral("Деталь 2.iso"), folder, QStringLiteral("нет.lst")}, folder);
    EXPECT_EQ(r.Code, 0) << r.Err.toStdString();
    EXPECT_TRUE(w.Said(QStringLiteral("open 3")));
    EXPECT_TRUE(w.Said(Rows({first, second}))) << w.Lines("rows").join('\n').toStdString();
    EXPECT_TRUE(w.Said(QStringLiteral("box Не удалось открыть файл ") + folder + QStringLiteral(": это каталог | ") +
                       QStringLiteral("Не удалось открыть файл ") + missing, true))
        << w.Lines("box").join('\n').toStdString();

    // Without files: the window only comes to the front.
    const RunResult up = Skarvel(s, {});
    EXPECT_EQ(up.Code, 0) << up.Err.toStdString();
    EXPECT_TRUE(w.Said(QStringLiteral("open 0")));
    EXPECT_TRUE(w.Running());
}

TEST(Instances, SocketOfACrashedWindowIsReplaced) {
    Session s;
    {
        ProbeWindow crashed(s, {});
        ASSERT_TRUE(crashed.Shown());
        crashed.Crash();
    }
    const QString stale = s.Socket();
    ASSERT_FALSE(stale.isEmpty());  // left behind

    const QString a = s.File("A.TNC");
    ProbeWindow w(s, {a});
    ASSERT_TRUE(w.Shown()) << w.Err().toStdString();
    EXPECT_TRUE(w.Said(Rows({a})));
    EXPECT_EQ(s.Socket(), stale);
    const QString b = s.File("B.TNC");
    const RunResult r = Skarvel(s, {b});
    EXPECT_EQ(r.Code, 0) << r.Err.toStdString();
    EXPECT_TRUE(w.Said(Rows({a, b})));
}

TEST(Instances, NewInstanceOpensAWindowOfItsOwnAndLeavesTheFirstOneListening) {
    Session s;
    ProbeWindow first(s, {});
    ASSERT_TRUE(first.Shown());
    const QString a = s.File("A.TNC");
    ProbeWindow second(s, {QStringLiteral("--new-instance"), a});
    ASSERT_TRUE(second.Shown());
    EXPECT_TRUE(second.Said(Rows({a})));

    const QString b = s.File("B.TNC");
    EXPECT_EQ(Skarvel(s, {b}).Code, 0);
    EXPECT_TRUE(first.Said(Rows({b})));
    EXPECT_TRUE(first.Lines("open") == QStringList{QStringLiteral("open 1")});
    EXPECT_TRUE(second.Lines("open").isEmpty());
    EXPECT_TRUE(second.Lines("rows") == QStringList{Rows({a})});
}

TEST(Instances, TwoStartsAtOnceMakeOneWindow) {
    Session s;
    const QString a = s.File("A.TNC");
    const QString b = s.File("B.TNC");
    auto one = std::make_unique<ProbeWindow>(s, QStringList{a});
    auto two = std::make_unique<ProbeWindow>(s, QStringList{b});
    // The one that listens shows both files; the other hands its file over
    // and ends without a window.
    ProbeWindow* shown = nullptr;
    for (ProbeWindow* w : {one.get(), two.get()})
        if (w->Shown()) {
            ASSERT_EQ(shown, nullptr) << "two windows";
            shown = w;
        }
    ASSERT_NE(shown, nullptr);
    ProbeWindow* other = shown == one.get() ? two.get() : one.get();
    EXPECT_FALSE(other->Running());
    EXPECT_TRUE(shown->Said(Rows({a, b})) || shown->Said(Rows({b, a})));
}

TEST(Instances, UsageErrorsAndHelp) {
    Session s;
    const struct {
        QStringList Args;
        int Code;
    } cases[] = {
        {{QStringLiteral("--help")}, 0},
        {{QStringLiteral("--bogus")}, 2},
        {{QStringLiteral("--port")}, 2},
        {{QStringLiteral("-")}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Args.join(' ').toStdString());
        const RunResult r = Skarvel(s, c.Args);
        EXPECT_EQ(r.Code, c.Code) << r.Err.toStdString();
        EXPECT_TRUE(s.Socket().isEmpty());  // none of them became a window
    }
}
