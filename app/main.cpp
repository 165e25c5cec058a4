// The program entry: the splash, the main window and the message loop.
//
//   skarvel [--port NAME]
//
// --port chooses the serial port to start with instead of COM2 (for example
// the pty of the device simulator).
#include <QApplication>
#include <QImage>
#include <QListWidget>
#include <QPixmap>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/about.h"
#include "app/splash.h"
#include "core/sync.h"
#include "ui/com_setup.h"
#include "ui/main_form.h"
#include "ui/message_boxes.h"
#include "ui/my_list_box.h"
#include "ui/progress_form.h"

using namespace skarvel;

namespace {

void Usage() { std::fprintf(stderr, "usage: skarvel [--port NAME]\n"); }

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

// Boxes that the main window shows while it is being created (a port that
// cannot be opened) would open under the splash, which stays on top of every
// window; the splash is hidden before such a box appears.
class TBoxesAboveSplash final : public TMessageBoxes {
public:
    explicit TBoxesAboveSplash(QWidget* splash) : splash_(splash) {}
    int Ask(QWidget* parent, const QString& text, TMsgDlgType type, unsigned buttons) override {
        StepAside();
        return DefaultMessageBoxes().Ask(parent, text, type, buttons);
    }
    void Show(QWidget* parent, const QString& text, TMsgDlgType type) override {
        StepAside();
        DefaultMessageBoxes().Show(parent, text, type);
    }
    void SplashGone() { splash_ = nullptr; }

private:
    void StepAside() {
        if (splash_) splash_->hide();
    }
    QWidget* splash_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The name only: a display name would be appended to every window's
    // caption ("О программе — Skarvel"), and the captions are the program's own.
    QApplication::setApplicationName(QStringLiteral("Skarvel"));
    // Lets the desktop pair the window with its menu entry (and its icon).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.skarvel.Skarvel"));
    InstallRussianTranslation();

    TFormOptions options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
            options.Port = argv[++i];
        } else if (std::strncmp(argv[i], "--port=", 7) == 0 && argv[i][7] != '\0') {
            options.Port = argv[i] + 7;
        } else {
            Usage();
            return 2;
        }
    }

    InstallSettingsDialog();
    TForm1::ShowAboutHook = [](QWidget* owner) { ShowAbout(owner); };

    auto splash = std::make_unique<TfmSplash>(nullptr, 500);
    TBoxesAboveSplash boxes(splash.get());
    options.Messages = &boxes;
    std::unique_ptr<TForm1> form;
    try {
        form = std::make_unique<TForm1>(options);
    } catch (const std::exception& e) {
        splash->Release();
        boxes.SplashGone();
        splash.reset();
        DefaultMessageBoxes().Show(nullptr, QString::fromUtf8(e.what()), TMsgDlgType::Error);
        return 1;
    }
    splash->Release();
    boxes.SplashGone();
    splash.reset();

    form->show();
    const QString shot = qEnvironmentVariable("SKARVEL_SCREENSHOT");
    if (!shot.isEmpty()) ArmScreenshot(form.get(), shot);
    const int rc = QApplication::exec();
    form.reset();
    return rc;
}
