// The program: command line, one window per user session, splash, main
// window and message loop.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QListWidget>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/about.h"
#include "app/command_line.h"
#include "app/instance_name.h"
#include "app/open_queue.h"
#include "app/port_choice.h"
#include "app/program.h"
#include "app/single_instance.h"
#include "app/splash.h"
#include "app/start_trace.h"
#include "core/sync.h"
#include "link/cport.h"
#include "link/port_enum.h"
#include "ui/com_setup.h"
#include "ui/main_form.h"
#include "ui/message_boxes.h"
#include "ui/my_list_box.h"
#include "ui/progress_form.h"
#include "ui/settings.h"

namespace skarvel {

namespace {

// SKARVEL_SCREENSHOT=file.png: once the link is up, the list read and the
// window idle again (or after SKARVEL_SCREENSHOT_WAIT ms at most, 20000 by
// default), the screen under the main window is saved to that file and the
// program ends. With SKARVEL_SCREENSHOT_WRITE=PC file, that file is added
// and written first, and the picture is taken once the progress window shows
// a third of it written.
void SaveScreenUnder(TForm1* form, const QString& path) {
    const QRect frame = form->frameGeometry();
    const QPixmap shot =
        form->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (!shot.save(path)) std::fprintf(stderr, "skarvel: cannot write %s\n", qPrintable(path));
}

void ArmScreenshot(TForm1* form, const QString& path) {
    const qint64 maxWait = qEnvironmentVariableIsSet("SKARVEL_SCREENSHOT_WAIT")
                               ? qEnvironmentVariableIntValue("SKARVEL_SCREENSHOT_WAIT")
                               : 20000;
    const QString write = qEnvironmentVariable("SKARVEL_SCREENSHOT_WRITE");
    const uint64_t start = SteadyMs();
    auto* poll = new QTimer(form);
    poll->setInterval(200);
    auto writing = std::make_shared<bool>(false);
    QObject::connect(poll, &QTimer::timeout, form, [=] {
        const bool late = SteadyMs() - start >= static_cast<uint64_t>(maxWait);
        bool ready = form->LinkUp() && form->State() == 2 && form->MyListBox()->Count() > 0;
        if (*writing) {
            const TprogressForm* p = form->Progress();
            ready = p && p->isVisible() && p->ProgressBar2->value() * 3 >= p->ProgressBar2->maximum();
        } else if (ready && !write.isEmpty()) {
            *writing = true;
            form->AddFiles({write});
            // The write runs its own loop until it ends: started from the
            // event loop, this poll keeps ticking meanwhile.
            QTimer::singleShot(0, form, [form] { form->MenuSave->trigger(); });
            return;
        }
        if (!ready && !late) return;
        poll->stop();
        SaveScreenUnder(form, path);
        // Closing during the write cancels it and ends the program once it has.
        form->close();
    });
    poll->start();
}

// The boxes of the main window's start-up. A message shown while the window
// is being created (a port that is not there) is held until the window is
// on the screen and then shown over it, so that the window behind it goes on
// working (it opens the port once it appears) while the box waits for its
// OK. A question cannot wait for its answer: it is asked at once, with the
// splash, which stays on top of every window, hidden first.
class TStartBoxes final : public TMessageBoxes {
public:
    TStartBoxes(QWidget* splash, TMessageBoxes& boxes) : splash_(splash), boxes_(boxes) {}
    int Ask(QWidget* parent, const QString& text, TMsgDlgType type, unsigned buttons) override {
        StepAside();
        return boxes_.Ask(parent, text, type, buttons);
    }
    void Show(QWidget* parent, const QString& text, TMsgDlgType type) override {
        if (holding_) {
            held_.push_back({parent, text, type});
            return;
        }
        boxes_.Show(parent, text, type);
    }
    void SplashGone() { splash_ = nullptr; }
    // The window is on the screen: the messages held are shown over it, from
    // the event loop, and later ones at once. Without a window (it could not
    // be made) they are shown now.
    void WindowShown(QWidget* window) {
        holding_ = false;
        std::vector<Held> held;
        held.swap(held_);
        const auto show = [this, held] {
            for (const Held& h : held) boxes_.Show(h.Parent, h.Text, h.Type);
        };
        if (!window) show();
        else if (!held.empty()) QTimer::singleShot(0, window, show);
    }

private:
    struct Held {
        QPointer<QWidget> Parent;
        QString Text;
        TMsgDlgType Type;
    };
    void StepAside() {
        if (splash_) splash_->hide();
    }
    QWidget* splash_;
    TMessageBoxes& boxes_;
    bool holding_ = true;
    std::vector<Held> held_;
};

// What the window shows on, as the address of the session's window needs
// it: the X display, the Wayland display, or the platform's name.
std::string SessionName() {
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb") && qEnvironmentVariableIsSet("DISPLAY"))
        return qEnvironmentVariable("DISPLAY").toStdString();
    if (platform.startsWith(QLatin1String("wayland")))
        return "wayland:" + (qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ? qEnvironmentVariable("WAYLAND_DISPLAY").toStdString()
                                                                         : std::string("wayland-0"));
    return platform.toStdString();
}

// --help works without a display, before the toolkit starts.
bool AsksForHelp(int argc, char** argv) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
    return false;
}

// A window of this session runs but did not take this start's files.
void ReportFailedHandOver(TMessageBoxes& boxes, const TSingleInstance& instance, bool files) {
    std::fprintf(stderr, "skarvel: the running window did not answer: %s\n", qPrintable(instance.Note()));
    boxes.Show(nullptr,
               QStringLiteral("Окно Skarvel уже открыто, но не отвечает (") + instance.Note() +
                   (files ? QStringLiteral("); файлы не переданы.") : QStringLiteral(")."))
                   + QStringLiteral("\nЧтобы открыть ещё одно окно, запустите skarvel --new-instance."),
               TMsgDlgType::Error);
}

// This start's place among the windows of the session: -1 when it opens
// the window, else the exit code (its files went to the running window, or
// that window did not answer).
int StartInstance(TSingleInstance& instance, const TCommandLine& line, TMessageBoxes& boxes) {
    switch (instance.Start(!line.NewInstance && line.Image.empty(), line.Files)) {
    case TSingleInstance::TStart::Handed:
        if (!line.Port.empty())
            std::fprintf(stderr, "skarvel: a window is already running; --port is left to it "
                                 "(--new-instance opens another window)\n");
        return 0;
    case TSingleInstance::TStart::Failed:
        ReportFailedHandOver(boxes, instance, !line.Files.isEmpty());
        return 1;
    case TSingleInstance::TStart::OwnWindow:
        if (!instance.Note().isEmpty())
            std::fprintf(stderr, "skarvel: later starts open windows of their own: %s\n", qPrintable(instance.Note()));
        break;
    }
    return -1;
}

// The window's options: the port it starts on (the command line's, the
// remembered one, or the only adapter) and what it remembers.
TFormOptions WindowOptions(const TCommandLine& line, TSettings& settings) {
    const TPortChoice choice = ChoosePort(line.Port, settings.Port(), [] {
        std::vector<TPortInfo> ports;
        try {
            ListPorts(ports);
        } catch (const EComPort&) {
            // No list: the default port, as without an adapter.
        }
        return ports;
    });
    TFormOptions options;
    options.Port = choice.Port;
    options.RememberPort = choice.Remember;
    options.PortNote = choice.Note;
    options.Settings = &settings;
    options.Image = line.Image;
    return options;
}

}  // namespace

int RunProgram(int argc, char** argv, const TProgramHooks& hooks) {
    if (AsksForHelp(argc, argv)) {
        std::fputs(UsageText(), stdout);
        return 0;
    }
    StartMark("entry");
    QApplication app(argc, argv);
    // The name only: a display name would be appended to every window's
    // caption ("О программе — Skarvel"), and the captions are the program's own.
    QApplication::setApplicationName(QStringLiteral("Skarvel"));
    // Lets the desktop pair the window with its menu entry (and its icon).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.skarvel.Skarvel"));
    InstallRussianTranslation();
    TMessageBoxes& realBoxes = hooks.Boxes ? *hooks.Boxes : DefaultMessageBoxes();

    TCommandLine line;
    QString error;
    if (!ParseCommandLine(QCoreApplication::arguments().mid(1), QDir::currentPath(), line, error)) {
        std::fprintf(stderr, "skarvel: %s\n%s", qPrintable(error), UsageText());
        return 2;
    }

    TSingleInstance instance(InstanceAddress(SessionName()));
    // A window on an image file is the image's own: files are never handed
    // to a window that works on the device.
    if (const int rc = StartInstance(instance, line, realBoxes); rc >= 0) return rc;
    TOpenQueue opener;
    QObject::connect(&instance, &TSingleInstance::OpenRequested, &opener, [&](const QStringList& files) {
        if (hooks.OpenRequested) hooks.OpenRequested(static_cast<int>(files.size()));
        opener.Open(files, true);
    });

    // What the window remembers; the port it starts on.
    TSettings settings;
    TFormOptions options = WindowOptions(line, settings);
    InstallSettingsDialog();
    TForm1::ShowAboutHook = [](QWidget* owner) { ShowAbout(owner); };

    auto splash = std::make_unique<TfmSplash>(nullptr, 500);
    StartMark("splash");
    TStartBoxes boxes(splash.get(), realBoxes);
    options.Messages = &boxes;
    std::unique_ptr<TForm1> form;
    try {
        form = std::make_unique<TForm1>(options);
    } catch (const std::exception& e) {
        splash->Release();
        boxes.SplashGone();
        splash.reset();
        boxes.WindowShown(nullptr);
        realBoxes.Show(nullptr, QString::fromUtf8(e.what()), TMsgDlgType::Error);
        return 1;
    }
    TraceWindowStart(*form);
    splash->Release();
    boxes.SplashGone();
    splash.reset();

    form->show();
    boxes.WindowShown(form.get());
    // Once the window is closed for good, the next start opens its own
    // (connected only now: boxes closed during the start-up count as well).
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &instance, &TSingleInstance::Stop);
    opener.SetWindow(form.get());
    // As if dropped on the window, once it is on the screen.
    opener.Open(line.Files, false);
    if (hooks.WindowShown) hooks.WindowShown(*form);
    const QString shot = qEnvironmentVariable("SKARVEL_SCREENSHOT");
    if (!shot.isEmpty()) ArmScreenshot(form.get(), shot);
    const int rc = QApplication::exec();
    instance.Stop();
    form.reset();
    return rc;
}

}  // namespace skarvel
