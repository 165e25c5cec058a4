// What the window remembers between runs: the settings themselves, the
// port as zvt reads it without Qt, the start-up's choice of port, and the
// window keeping and finding its port, place and folders.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QSettings>
#include <QTimer>
#include <cstdlib>

#include "app/port_choice.h"
#include "core/settings_store.h"
#include "core/sync.h"
#include "link/cport.h"
#include "link/zvt_drv.h"
#include "shell/folder_choice.h"
#include "shell/folder_tree.h"
#include "tests/sim_process.h"
#include "tests/ui/ui_test_support.h"
#include "ui/settings.h"

using namespace skarvel;
using namespace skarvel::test;

namespace {

QString Ini(const TempDir& dir) { return QString::fromStdString(dir.File("skarvel.conf")); }

TPortInfo Port(const std::string& name, bool usb, const std::string& byId = std::string()) {
    TPortInfo p;
    p.Name = name;
    p.Path = ComDevicePath(name);
    p.Usb = usb;
    p.Model = usb ? "FT232R USB UART" : "";
    p.Serial = usb ? "A50285BI" : "";
    p.ById = byId;
    if (!byId.empty()) p.Links = {byId};
    return p;
}

}  // namespace

TEST(Settings, RoundTripThroughAFolderOfTheirOwn) {
    TempDir dir;
    TMainLoop loop;
    {
        TSettings empty(Ini(dir));
        EXPECT_EQ(empty.Port(), "");
        EXPECT_TRUE(empty.VerifyWrites());  // on unless turned off
        EXPECT_TRUE(empty.WindowGeometry().isEmpty());
        EXPECT_TRUE(empty.OpenFolder().isEmpty());
        TComPort port(&loop);
        port.SetBaudRate(br115200);
        empty.LoadLine(port);  // nothing remembered: the port keeps its own
        EXPECT_EQ(port.BaudRate(), br115200);
    }
    {
        TSettings s(Ini(dir));
        TComPort port(&loop);
        port.SetPort("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
        port.SetBaudRate(br57600);
        port.SetDataBits(dbSeven);
        port.SetStopBits(sbTwoStopBits);
        port.Parity.SetBits(prEven);
        port.FlowControl.SetFlowControl(fcHardware);
        s.SavePort(port);
        s.SetWindowGeometry(QByteArray("\x01\x02geometry", 10));
        s.SetOpenFolder(QStringLiteral("/home/оператор/programs"));
        s.SetLoadFolder(QStringLiteral("/srv/loaded"));
        s.SetCompareFolder(QStringLiteral("/srv/compare"));
        s.SetVerifyWrites(false);
    }
    TSettings s(Ini(dir));
    EXPECT_EQ(s.Port(), "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    TComPort port(&loop);
    port.SetPort("COM2");
    s.LoadLine(port);
    EXPECT_EQ(port.Port(), "COM2");  // the name is the start-up's to choose
    EXPECT_EQ(port.BaudRate(), br57600);
    EXPECT_EQ(port.DataBits(), dbSeven);
    EXPECT_EQ(port.StopBits(), sbTwoStopBits);
    EXPECT_EQ(port.Parity.Bits(), prEven);
    EXPECT_EQ(port.FlowControl.FlowControl(), fcHardware);
    EXPECT_EQ(s.WindowGeometry(), QByteArray("\x01\x02geometry", 10));
    EXPECT_EQ(s.OpenFolder(), QStringLiteral("/home/оператор/programs"));
    EXPECT_EQ(s.LoadFolder(), QStringLiteral("/srv/loaded"));
    EXPECT_EQ(s.CompareFolder(), QStringLiteral("/srv/compare"));
    EXPECT_FALSE(s.VerifyWrites());
}

TEST(Settings, LineSettingsNotUnderstoodLeaveThePortsOwn) {
    TempDir dir;
    {
        QSettings raw(Ini(dir), QSettings::IniFormat);
        raw.setValue(QStringLiteral("port/baudRate"), QStringLiteral("fast"));
        raw.setValue(QStringLiteral("port/parity"), QStringLiteral("odd"));  // case does not matter
        raw.setValue(QStringLiteral("port/dataBits"), 9);
    }
    TMainLoop loop;
    TComPort port(&loop);
    port.SetBaudRate(br115200);
    TSettings(Ini(dir)).LoadLine(port);
    EXPECT_EQ(port.BaudRate(), br115200);
    EXPECT_EQ(port.Parity.Bits(), prOdd);
    EXPECT_EQ(port.DataBits(), dbEight);
}

// The user's settings are where programs without Qt look for them, and any
// port name the window keeps reads back the same there.
TEST(Settings, ProgramsWithoutQtReadThePortTheWindowRemembered) {
    TMainLoop loop;
    for (const char* name : {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "COM3", "@home",
                             " blank ", "a,b;c=d", "back\\slash \"quoted\"", "/dev/порт", "tab\there"}) {
        TComPort port(&loop);
        port.SetPort(name);
        TSettings().SavePort(port);
        EXPECT_EQ(ReadSetting(kPortNameKey), name);
    }
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(SettingsFilePath())));
    EXPECT_TRUE(QString::fromStdString(SettingsFilePath()).startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
}

TEST(PortChoice, CommandLineThenRememberedThenTheOnlyAdapter) {
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    const TPortInfo board = Port("ttyS0", false), com2 = Port("ttyS1", false), adapter = Port("ttyUSB0", true, byId),
                    bare = Port("ttyUSB1", true), modem = Port("ttyACM0", true);
    const struct {
        const char* what;
        std::string commandLine, remembered;
        std::vector<TPortInfo> present;
        std::string port;
        bool remember;
        bool note;
    } cases[] = {
        {"--port is for this run only", "ttyUSB7", byId, {adapter}, "ttyUSB7", false, false},
        {"the remembered port, present or not", "", "ttyUSB3", {adapter}, "ttyUSB3", true, false},
        {"the only adapter, by its stable name", "", "", {board, adapter}, byId, true, true},
        {"the only adapter without a stable name", "", "", {bare}, "ttyUSB1", true, true},
        {"COM2 is there", "", "", {com2, adapter}, "", true, false},
        {"two adapters: no guess", "", "", {adapter, modem}, "", true, false},
        {"no adapter", "", "", {board}, "", true, false},
        {"nothing at all", "", "", {}, "", true, false},
    };
    for (const auto& c : cases) {
        int listed = 0;
        const TPortChoice choice = ChoosePort(c.commandLine, c.remembered, [&] {
            ++listed;
            return c.present;
        });
        EXPECT_EQ(choice.Port, c.port) << c.what;
        EXPECT_EQ(choice.Remember, c.remember) << c.what;
        EXPECT_EQ(!choice.Note.isEmpty(), c.note) << c.what;
        // The system is asked only when nothing names a port.
        EXPECT_EQ(listed, c.commandLine.empty() && c.remembered.empty() ? 1 : 0) << c.what;
    }
    const TPortChoice only = ChoosePort("", "", [&] { return std::vector<TPortInfo>{adapter}; });
    EXPECT_EQ(only.Note, QStringLiteral("порта COM2 нет, выбран USB-адаптер ttyUSB0 — FT232R USB UART (A50285BI)"));
}

namespace {

// A window on a port that is not there, with settings of its own.
struct SettingsWindow {
    explicit SettingsWindow(TSettings& settings, bool remember = true, const QString& note = QString()) {
        TFormOptions o = FastOptions(dir.File("no-port"), &boxes);
        o.Settings = &settings;
        o.RememberPort = remember;
        o.PortNote = note;
        form = std::make_unique<TForm1>(o);
    }
    TempDir dir;
    TScriptedBoxes boxes;
    std::unique_ptr<TForm1> form;
};

// The port dialog, answered: OK with the port renamed, or Cancel.
struct DialogAnswer {
    explicit DialogAnswer(const std::string& port, bool ok) : saved(TComPort::SettingsDialogHook) {
        TComPort::SettingsDialogHook = [=](TComPort* p) {
            if (!ok) return false;
            p->SetPort(port);
            p->SetBaudRate(br38400);
            return true;
        };
    }
    ~DialogAnswer() { TComPort::SettingsDialogHook = saved; }
    std::function<bool(TComPort*)> saved;
};

}  // namespace

TEST(WindowSettings, ThePortDialogsOkRemembersThePortUnlessItWasGivenForThisRun) {
    TempDir dir;
    TSettings settings(Ini(dir));
    {
        SettingsWindow w(settings, true, QStringLiteral("порта COM2 нет, выбран USB-адаптер ttyUSB0"));
        TForm1& f = *w.form;
        // While the port is missing the status line says so; the note of the
        // choice comes after.
        EXPECT_TRUE(f.Label3->text().startsWith(QStringLiteral("Статус: ожидание порта ")));
        f.ClosePort();
        EXPECT_EQ(f.Label3->text(), QStringLiteral("Статус: порта COM2 нет, выбран USB-адаптер ttyUSB0"));
        {
            DialogAnswer cancel("ttyUSB5", false);
            f.Action7->trigger();
        }
        EXPECT_EQ(settings.Port(), "");
        {
            DialogAnswer ok("ttyUSB5", true);
            f.Action7->trigger();
        }
        EXPECT_EQ(settings.Port(), "ttyUSB5");
        EXPECT_EQ(ReadAll(Ini(dir)).find("baudRate=38400") != std::string::npos, true);
        f.ClosePort();
        EXPECT_EQ(f.Label3->text(), QStringLiteral("Статус: ожидание"));  // the user chose: no note
    }
    {
        SettingsWindow w(settings, false);  // --port
        DialogAnswer ok("ttyUSB6", true);
        w.form->Action7->trigger();
        EXPECT_EQ(w.form->Driver()->ComPort.Port(), "ttyUSB6");
        EXPECT_EQ(settings.Port(), "ttyUSB5");
    }
    // The next window takes the line settings (the name is the start-up's).
    SettingsWindow next(settings);
    EXPECT_EQ(next.form->Driver()->ComPort.BaudRate(), br38400);
}

TEST(WindowSettings, PlaceAndFoldersOfOneRunAreTheNextRunsStart) {
    TempDir dir;
    TSettings settings(Ini(dir));
    const QString programs = QString::fromStdString(dir.File("programs"));
    QDir().mkpath(programs);
    const QString file = programs + QStringLiteral("/A.TNC");
    WriteFileBytes(file.toStdString(), {'G'});
    QRect placed;
    {
        SettingsWindow w(settings);
        TForm1& f = *w.form;
        f.show();
        f.setGeometry(f.geometry().x() + 30, f.geometry().y() + 20, 640, 420);
        ProcessPending();
        placed = f.geometry();
        f.ExecOpenDialog = [&](QFileDialog&) { return QStringList{file}; };
        f.Open->trigger();
        w.boxes.Answers = {mrYes};  // quit without writing A.TNC
        f.close();
    }
    EXPECT_EQ(settings.OpenFolder(), programs);
    SettingsWindow w(settings);
    EXPECT_EQ(w.form->geometry().size(), placed.size());
    EXPECT_EQ(QDir(w.form->OpenDialog1->directory()).absolutePath(), programs);
}

TEST(WindowSettings, TheFirstLoadDialogOfARunOpensAtTheFolderLoadedIntoLastTime) {
    TempDir dir;
    TSettings settings(Ini(dir));
    const QString last = QString::fromStdString(dir.File("last"));
    QDir().mkpath(last);
    settings.SetLoadFolder(last);
    const QString cwd = QDir::currentPath();
    SettingsWindow w(settings);
    QString shownAt;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<TfolderChoice*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        ProcessUntil([&] { return !dialog->ShellTreeView1->SelectedFolder().isEmpty(); }, 5000);
        shownAt = dialog->ShellTreeView1->SelectedFolder();
        dialog->choiceExecute();
    });
    QString chosen;
    ASSERT_TRUE(w.form->ExecFolderDialog(chosen));
    EXPECT_EQ(QDir(shownAt).absolutePath(), QDir(last).absolutePath());
    EXPECT_EQ(QDir(chosen).absolutePath(), QDir(last).absolutePath());
    EXPECT_EQ(settings.LoadFolder(), chosen);
    QDir::setCurrent(cwd);
}
