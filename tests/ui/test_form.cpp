// The main window on the simulator: opening and releasing the port, the link
// check, the lamps, busy and idle, the list of the medium.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QThread>
#include <QTest>
#include <QTime>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <atomic>
#include <memory>
#include <thread>

#include "core/cp1251.h"
#include "flashfs/fat_layout.h"
#include "flashfs/fs_flash.h"
#include "link/zvt_drv.h"
#include "tests/sim_process.h"
#include "tests/ui/ui_test_support.h"
#include "ui/lamps.h"
#include "ui/my_list_box.h"
#include "ui/qt_main_thread.h"
#include "ui/text_tool_bar.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

// A formatted medium with two files, one with a Cyrillic name.
const TFiles kDemo = {{"PROG1.TNC", std::string(700, 'G')}, {ToCp1251("деталь.lst"), "N10 G0 X0\n"}};
using TRows = std::vector<std::pair<QString, bool>>;

// The port released: closed, the link lamp dark, the action offers to open it.
void ExpectReleased(TForm1& f) {
    EXPECT_FALSE(f.Driver()->ComPort.Connected());
    EXPECT_FALSE(f.LinkUp());
    EXPECT_EQ(f.LinkLamp(), lampBlack);
    EXPECT_EQ(f.Action8->text(), QStringLiteral("Открыть &порт"));
}

}  // namespace

TEST(MainWindow, AMissingPortIsNamedAndOpenedOnceItIsThere) {
    Window w;
    TForm1& f = w.F();
    const QString port = QString::fromStdString(w.dir.File("no-port"));
    ASSERT_EQ(w.boxes.Boxes.size(), 1u);
    EXPECT_TRUE(w.Texts()[0].startsWith(QStringLiteral("Unable to open com port (win error code: 2)\n")))
        << w.Texts()[0].toStdString();
    EXPECT_TRUE(w.Texts()[0].contains(QStringLiteral("Порт ") + port + QStringLiteral(" не найден.")))
        << w.Texts()[0].toStdString();
    EXPECT_EQ(w.boxes.Boxes[0].Type, TMsgDlgType::Error);
    ExpectReleased(f);
    EXPECT_TRUE(f.WaitingForPort());
    EXPECT_EQ(f.AccessLamp(), lampBlack);
    EXPECT_EQ(f.State(), formIdle);
    EXPECT_EQ(f.Label3->text(), QStringLiteral("Статус: ожидание порта ") + port);
    EXPECT_EQ(f.Action8->toolTip(), QStringLiteral("Открыть порт"));
    EXPECT_EQ(f.Timer1->interval(), 8000);

    // While it is missing, ticks try it quietly and ask nothing.
    f.Timer1Timer();
    f.Timer1Timer();
    ProcessPending();
    EXPECT_EQ(f.Driver()->FramesSent.load(), 0u);
    EXPECT_TRUE(w.log->Done.empty());
    EXPECT_EQ(f.State(), formIdle);
    EXPECT_EQ(f.Timer1->interval(), 8000);
    EXPECT_EQ(w.boxes.Boxes.size(), 1u);

    // Opening it by hand fails the same way and keeps it released.
    f.Action8->trigger();
    ASSERT_EQ(w.boxes.Boxes.size(), 2u);
    EXPECT_TRUE(w.Texts()[1].startsWith(QStringLiteral("Unable to open com port")));
    ExpectReleased(f);

    // The device appears on that name: the next tick opens it and asks it,
    // without a word.
    SimProcess sim({"--link", w.dir.File("no-port")});
    f.Timer1Timer();
    EXPECT_TRUE(f.Driver()->ComPort.Connected());
    EXPECT_EQ(f.Action8->text(), QStringLiteral("Освободить &порт"));
    ASSERT_TRUE(w.Completed(opInit, 1));
    EXPECT_TRUE(f.LinkUp());
    EXPECT_EQ(f.LinkLamp(), lampGreen);
    EXPECT_EQ(w.log->Count(opInit), 1);  // the tick asked once, not twice
    EXPECT_EQ(w.boxes.Boxes.size(), 2u);
    EXPECT_FALSE(f.WaitingForPort());
    TickToIdle(f);
    EXPECT_EQ(f.Label3->text(), QStringLiteral("Статус: неформатированный носитель"));

    // Released by the user, it is no longer wanted: ticks leave it alone.
    f.Action8->trigger();
    ExpectReleased(f);
    EXPECT_FALSE(f.WaitingForPort());
    f.Timer1Timer();
    EXPECT_FALSE(f.Driver()->ComPort.Connected());
    EXPECT_EQ(f.Label3->text(), QStringLiteral("Статус: ожидание"));
}

TEST(MainWindow, SilentDeviceIsAskedAgainAtEveryTick) {
    Window w({"--silent"}, true);
    TForm1& f = w.F();
    const auto sends = static_cast<uint32_t>(f.Driver()->Sends);
    // Start-up queues two initialisations (the open and the first tick).
    EXPECT_EQ(w.log->Count(opInit, 8), 2);
    EXPECT_EQ(f.Driver()->FramesSent.load(), 2 * sends);
    EXPECT_FALSE(f.LinkUp());
    EXPECT_EQ(f.LinkLamp(), lampBlack);

    f.Timer1Timer();
    ASSERT_TRUE(w.Completed(opInit, 3));
    EXPECT_EQ(f.Driver()->FramesSent.load(), 3 * sends);
    f.Timer1Timer();
    ASSERT_TRUE(w.Completed(opInit, 4));
    EXPECT_EQ(w.log->Count(opInit, 8), 4);

    // Identification moves no sector: the window never became busy and shows no error.
    EXPECT_EQ(f.State(), formIdle);
    EXPECT_EQ(f.Timer1->interval(), 8000);
    EXPECT_TRUE(w.boxes.Boxes.empty());
    EXPECT_EQ(w.log->Count(opReadDir), 0);
}

// While the device does not answer, the status line says so, names the port
// and tells when the link check asks again; what needs the device is off,
// and F2 and the port's commands stay on. The device answering ends it all.
TEST(MainWindow, SilentDeviceIsShownAndItsCommandsAreOff) {
    TempDir linkDir;
    const std::string link = linkDir.File("zvt");
    Window w({"--silent", "--link", link}, true);
    TForm1& f = w.F();
    const QString prefix = QStringLiteral("Статус: устройство не отвечает на порту ") + QString::fromStdString(link);
    EXPECT_EQ(f.Label3->text(), prefix);  // no link check running: no next try to tell
    const auto enabled = [&] {
        std::vector<bool> out;
        for (QAction* a : {f.Action4, f.Action5, f.MenuSave, f.DelFileFlash, f.Action2, f.Open, f.Action8, f.Action7})
            out.push_back(a->isEnabled());
        return out;
    };
    EXPECT_EQ(enabled(), (std::vector<bool>{false, false, false, false, false, true, true, true}));
    f.show();
    QTest::keyClick(&f, Qt::Key_F5);  // off: nothing is asked
    ProcessPending(50);
    EXPECT_EQ(w.log->Count(opReadDir), 0);
    // F8 still takes a selected PC file out of the list.
    f.AddFiles({w.PcFile("a.lst")});
    EXPECT_FALSE(f.DelFileFlash->isEnabled());
    w.Select({QStringLiteral("a.lst")});
    EXPECT_TRUE(f.DelFileFlash->isEnabled());
    w.boxes.Answers = {mrYes};
    f.DelFileFlash->trigger();
    EXPECT_EQ(f.ListBox1->count(), 0);
    EXPECT_FALSE(f.DelFileFlash->isEnabled());

    // The link check asks again and says so; then it tells its next tick.
    f.Timer1->start();
    f.Timer1Timer();
    EXPECT_EQ(f.Label3->text(), prefix + QStringLiteral(", новая попытка…"));
    ASSERT_TRUE(w.Completed(opInit, 3));
    const QStringList parts = f.Label3->text().split(QStringLiteral(", следующая попытка в "));
    ASSERT_EQ(parts.size(), 2) << f.Label3->text().toStdString();
    EXPECT_EQ(parts[0], prefix);
    EXPECT_TRUE(QTime::fromString(parts[1], QStringLiteral("HH:mm:ss")).isValid());
    f.Timer1->stop();

    // A device that answers on that port: the link comes up and everything
    // is back on.
    w.sim.reset();
    w.sim = std::make_unique<SimProcess>(std::vector<std::string>{"--link", link});
    int asked = w.log->Count(opInit);
    ASSERT_TRUE(ProcessUntil([&] {
        // One tick at a time: each asks the device once more.
        if (w.log->Count(opInit) >= asked) {
            f.Timer1Timer();
            asked = w.log->Count(opInit) + 1;
        }
        return f.LinkUp();
    }));
    TickToIdle(f);
    EXPECT_EQ(enabled(), std::vector<bool>(8, true));
    EXPECT_FALSE(f.Label3->text().contains(QStringLiteral("не отвечает")));
}

TEST(MainWindow, UnformattedMediumTurnsTheLampGreenWithoutAListUntilFormatted) {
    Window w({}, false);  // 2 MiB of zeros
    TForm1& f = w.F();
    EXPECT_EQ(w.log->Count(opInit, 1), 2);
    EXPECT_TRUE(f.LinkUp());
    EXPECT_EQ(f.LinkLamp(), lampGreen);
    // The link is up: ticks ask nothing more; the status line names the medium.
    const uint32_t frames = f.Driver()->FramesSent.load();
    TickToIdle(f);
    ProcessPending(200);
    EXPECT_EQ(f.Driver()->FramesSent.load(), frames);
    EXPECT_EQ(w.log->Count(opReadDir), 0);
    EXPECT_EQ(f.ListBox1->count(), 0);
    EXPECT_TRUE(w.boxes.Boxes.empty());
    EXPECT_EQ(f.Label3->text(), QStringLiteral("Статус: неформатированный носитель"));
    // A medium formatted elsewhere (17) is taken the same way: its text in
    // the status line, no list asked for.
    f.WMOperationDone(opInit, feForeignVolume);
    EXPECT_EQ(f.Label3->text(), "Статус: " + QString::fromStdString(Cp1251ToUtf8(WorkerErrorText(feForeignVolume))));
    EXPECT_EQ(w.log->Count(opReadDir), 0);
    w.boxes.Answers = {mrYes};
    f.Action2->trigger();
    ASSERT_TRUE(w.Completed(opFormat, 1));
    EXPECT_EQ(w.log->Done.back().second, 0);
    TickToIdle(f);
    EXPECT_EQ(f.Label3->text(), QStringLiteral("Статус: ожидание"));
}

// The one initialisation that brings the link up, when the device comes
// later than the window, finds a medium that must be formatted: the window
// says so and is idle again at the next quiet tick, soon, as after any
// other request (it used to wait for two ticks of ten seconds, looking busy).
TEST(MainWindow, AMediumThatNeedsFormattingLeavesTheWindowIdleAtOnce) {
    TempDir images;
    const std::string fat12 = images.File("fat12.img");
    WriteFormattedImage(fat12, {});
    std::vector<uint8_t> bytes = ReadFileBytes(fat12);
    bytes[boot::ExtSignature] = boot::ExtSignatureMark;
    std::memcpy(bytes.data() + boot::FsType, "FAT12   ", 8);
    WriteFileBytes(fat12, bytes);
    const struct {
        std::vector<std::string> simArgs;
        uint8_t result;
    } cases[] = {{{}, feUnformatted}, {{"--image", fat12}, feForeignVolume}};
    for (const auto& c : cases) {
        Window w;  // waiting for its port
        TForm1& f = w.F();
        std::vector<std::string> args = c.simArgs;
        args.insert(args.end(), {"--link", w.dir.File("no-port")});
        SimProcess sim(args);
        f.Timer1Timer();
        ASSERT_TRUE(w.Completed(opInit, 1));
        EXPECT_EQ(w.log->Done.back().second, c.result);
        EXPECT_TRUE(f.LinkUp());
        EXPECT_EQ(f.LinkLamp(), lampGreen);
        EXPECT_EQ(f.Timer1->interval(), 200);
        TickToIdle(f);
        EXPECT_EQ(f.State(), formIdle);
        EXPECT_EQ(f.AccessLamp(), lampBlack);
        EXPECT_TRUE(f.Action2->isEnabled());
        EXPECT_EQ(f.Label3->text(), "Статус: " + f.MessageText(c.result));
    }
}

TEST(MainWindow, FormattedMediumIsListedAndTheWindowReturnsToIdle) {
    Rig rig(kDemo, {}, false);
    TForm1& f = rig.F();
    EXPECT_EQ(rig.log->Count(opInit, 0), 2);
    EXPECT_EQ(rig.log->Count(opReadDir, 0), 2);
    EXPECT_TRUE(rig.boxes.Boxes.empty());
    EXPECT_EQ(rig.Rows(), (TRows{{"PROG1.TNC", true}, {"ДЕТАЛЬ.LST", true}}));
    EXPECT_EQ(rig.Paths(), (std::vector<std::string>{"", ""}));
    EXPECT_EQ(rig.List().Sizes(0), 700);
    EXPECT_EQ(rig.List().Sizes(1), 10);
    EXPECT_EQ(f.LinkLamp(), lampGreen);

    // Busy since the sector reads: the status names the list read, the
    // access lamp is yellow, the actions of the medium are disabled.
    EXPECT_EQ(f.State(), formBusy);
    EXPECT_EQ(f.Label3->text(), QStringLiteral("Статус: чтение списка файлов"));
    EXPECT_EQ(f.AccessLamp(), lampYellow);
    for (QAction* a : f.ActionList1) EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    EXPECT_TRUE(f.Open->isEnabled());
    EXPECT_TRUE(f.AboutAc->isEnabled());
    // The text buttons follow: grey captions but for "Открыть F2".
    const QColor grey = f.ToolBar2->palette().color(QPalette::Disabled, QPalette::Text);
    for (TTextButton* b : f.ToolBar2->Buttons())
        EXPECT_EQ(b->CaptionColor() == grey, b->Action() != f.Open) << b->Caption().toStdString();
    // The operation ended with the link up: back to idle soon.
    EXPECT_EQ(f.Timer1->interval(), 200);

    f.Timer1Timer();  // activity since the last tick: still busy
    EXPECT_EQ(f.State(), formBusy);
    f.Timer1Timer();  // quiet: idle
    EXPECT_EQ(f.State(), formIdle);
    EXPECT_EQ(f.Label3->text(), QStringLiteral("Статус: ожидание"));
    EXPECT_EQ(f.AccessLamp(), lampBlack);
    EXPECT_EQ(f.Timer1->interval(), 10000);
    for (QAction* a : f.ActionList1) EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();

    // Refresh reads the list again, rows stay unique.
    f.Action4->trigger();
    ASSERT_TRUE(rig.Completed(opReadDir, 3));
    EXPECT_EQ(f.ListBox1->count(), 2);
}

TEST(MainWindow, ReleasingKeepsPendingRowsAndReopeningListsTheMediumAnew) {
    Rig rig(kDemo);
    TForm1& f = rig.F();
    f.AddFiles({rig.PcFile("new.lst")});
    ASSERT_EQ(f.ListBox1->count(), 3);

    f.Action8->trigger();  // release
    ExpectReleased(f);
    EXPECT_EQ(f.State(), formIdle);
    EXPECT_EQ(f.Label3->text(), QStringLiteral("Статус: ожидание"));
    EXPECT_EQ(rig.Rows(), (TRows{{"new.lst", false}}));

    // A PC file named like a file of the medium, queued while released: no
    // prompt (the medium is not listed), and the list turns it into the
    // medium's row.
    f.AddFiles({rig.PcFile("prog1.tnc")});
    EXPECT_EQ(rig.Rows(), (TRows{{"new.lst", false}, {"prog1.tnc", false}}));

    f.Action8->trigger();  // open again
    EXPECT_TRUE(f.Driver()->ComPort.Connected());
    EXPECT_EQ(f.Action8->text(), QStringLiteral("Освободить &порт"));
    EXPECT_EQ(f.Action8->toolTip(), QStringLiteral("Освободить порт"));
    ASSERT_TRUE(rig.Completed(opReadDir, 3));
    // The medium's rows come first again, as after a start.
    EXPECT_EQ(rig.Rows(), (TRows{{"prog1.tnc", true}, {"ДЕТАЛЬ.LST", true}, {"new.lst", false}}));
    EXPECT_EQ(rig.List().Path(0), "");
    EXPECT_TRUE(rig.boxes.Boxes.empty());
}

TEST(MainWindow, WrongDeviceCodeReleasesThePort) {
    Window w({"--device-code", "0x2D"}, false);
    TForm1& f = w.F();
    EXPECT_GE(w.log->Count(opInit, 9), 1);
    ExpectReleased(f);
    ASSERT_FALSE(w.boxes.Boxes.empty());
    for (const auto& b : w.boxes.Boxes) {
        // The code that came back, and the one a ZVT gives.
        EXPECT_EQ(b.Text, QStringLiteral("Неизвестный код устройства 0x2D (у ZVT код 0x2C)"));
        EXPECT_EQ(b.Type, TMsgDlgType::Error);
    }
    // Released: the tick asks nothing.
    const uint32_t frames = f.Driver()->FramesSent.load();
    f.Timer1Timer();
    ProcessPending(100);
    EXPECT_EQ(f.Driver()->FramesSent.load(), frames);
}

TEST(MainWindow, PortSettingsReopenThePortEvenWhenCancelled) {
    Window w({}, false);
    TForm1& f = w.F();
    ASSERT_TRUE(f.LinkUp());
    TickToIdle(f);

    const auto saved = TComPort::SettingsDialogHook;
    int shown = 0;
    bool openWhileShown = true;
    TComPort::SettingsDialogHook = [&](TComPort* port) {
        ++shown;
        openWhileShown = port->Connected();
        return false;  // the user cancels: nothing changes
    };
    f.Action7->trigger();
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(openWhileShown);  // settings are changed on a released port
    EXPECT_TRUE(f.Driver()->ComPort.Connected());
    EXPECT_EQ(f.Action8->text(), QStringLiteral("Освободить &порт"));
    ASSERT_TRUE(w.Completed(opInit, 3));
    EXPECT_TRUE(f.LinkUp());
    TickToIdle(f);

    // A dialog that cannot be shown (no port list): the error is reported
    // and the port stays released.
    TComPort::SettingsDialogHook = [](TComPort*) -> bool { throw EComPort(CE_REGISTRY, 2); };
    f.Action7->trigger();
    TComPort::SettingsDialogHook = saved;
    ASSERT_EQ(w.boxes.Boxes.size(), 1u);
    EXPECT_TRUE(w.Texts()[0].startsWith(QStringLiteral("Registry error"))) << w.Texts()[0].toStdString();
    ExpectReleased(f);
}

TEST(MainWindow, ClosingWhileTheWorkerWaitsForTheDevice) {
    // A silent device with the device's own time-outs: the worker is inside
    // an exchange of several seconds when the window goes.
    SimProcess sim({"--silent"});
    TScriptedBoxes boxes;
    TFormOptions o;
    o.Port = sim.PtyPath();
    o.Messages = &boxes;
    o.StartTimer = false;
    auto f = std::make_unique<TForm1>(o);
    ASSERT_TRUE(ProcessUntil([&] { return f->Driver()->FramesSent.load() >= 1; }));
    f.reset();  // must neither hang nor crash

    // And while a list is read and answers flow in through the event thread.
    TempDir dir;
    WriteFormattedImage(dir.File("medium.img"), kDemo);
    SimProcess sim2({"--image", dir.File("medium.img")});
    auto g = std::make_unique<TForm1>(FastOptions(sim2.PtyPath(), &boxes));
    ASSERT_TRUE(ProcessUntil([&] { return g->State() == formBusy; }));
    g.reset();
    ProcessPending(50);
    EXPECT_TRUE(boxes.Boxes.empty());
}

TEST(MainWindow, DeviceLostWhileUpIsNoticedByTheRefresh) {
    Rig rig(kDemo);
    rig.sim->Kill();
    // The list cannot be read any more: its error is shown; the rows of the
    // medium go with the failed list.
    rig.F().Action4->trigger();
    ASSERT_TRUE(rig.Completed(opReadDir, 3));
    EXPECT_NE(rig.log->Done.back().second, 0);
    ASSERT_FALSE(rig.boxes.Boxes.empty());
    EXPECT_EQ(rig.boxes.Boxes.back().Type, TMsgDlgType::Error);
    EXPECT_EQ(rig.F().ListBox1->count(), 0);
}

TEST(QtMainThread, CallsRunOnTheGuiThreadAndAreAbandonedAfterShutdown) {
    TQtMainThread main;
    EXPECT_TRUE(main.IsCurrent());
    QThread* gui = QThread::currentThread();

    std::atomic<bool> posted{false}, inCall{false}, called{false}, otherIsCurrent{true};
    QThread* ranOn = nullptr;
    std::thread worker([&] {
        otherIsCurrent = main.IsCurrent();
        main.Post([&] {
            ranOn = QThread::currentThread();
            posted = true;
        });
        called = main.Call([&] { inCall = QThread::currentThread() == gui; });
    });
    ASSERT_TRUE(ProcessUntil([&] { return posted.load() && called.load(); }));
    worker.join();
    EXPECT_FALSE(otherIsCurrent.load());
    EXPECT_EQ(ranOn, gui);
    EXPECT_TRUE(inCall.load());

    // Calls posted from two threads at once run in the order each posted them.
    std::vector<int> seen;
    std::thread a([&] {
        for (int i = 0; i < 200; ++i) main.Post([&seen, i] { seen.push_back(i); });
    });
    std::thread b([&] {
        for (int i = 0; i < 200; ++i) main.Post([&seen, i] { seen.push_back(1000 + i); });
    });
    a.join();
    b.join();
    ASSERT_TRUE(ProcessUntil([&] { return seen.size() == 400; }));
    std::vector<int> fromA, fromB;
    for (int v : seen) (v < 1000 ? fromA : fromB).push_back(v);
    EXPECT_TRUE(std::is_sorted(fromA.begin(), fromA.end()) && std::is_sorted(fromB.begin(), fromB.end()));

    // Once the GUI thread is shutting down, a waiting call gives up instead
    // of blocking its thread for ever.
    main.Shutdown();
    bool result = true;
    bool ran = false;
    std::thread late([&] { result = main.Call([&] { ran = true; }); });
    late.join();  // returns without the GUI thread taking events
    EXPECT_FALSE(result);
    ProcessPending(20);
    EXPECT_FALSE(ran);
}
