#include "app/splash.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QSvgRenderer>
#include <QThread>
#include <QTimer>
#include <QTime>
#include <QWindow>
#include <algorithm>


namespace skarvel {

uint32_t TimeOfDayMs(int hours, int minutes, int seconds, int milliseconds) {
    return ((static_cast<uint32_t>(hours) * 60 + static_cast<uint32_t>(minutes)) * 60 +
            static_cast<uint32_t>(seconds)) * 1000 +
           static_cast<uint32_t>(milliseconds);
}

uint32_t TimeOfDayMsNow() {
    const QTime t = QTime::currentTime();
    return TimeOfDayMs(t.hour(), t.minute(), t.second(), t.msec());
}

namespace {

// The splash's wait. The main window exists already and its port is open:
// the port's events and the worker's completions are handled meanwhile, so
// that the device is identified and the medium listed while the splash is
// still up. Input is not taken: the splash and the window behind it take no
// clicks and keys before the splash is gone.
void WaitWithoutInput(unsigned ms) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(ms), &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace

TfmSplash::TfmSplash(QWidget* owner, uint32_t delay, TClock clock, TSleep sleep)
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      Delay(delay),
      clock_(clock ? std::move(clock) : TClock(&TimeOfDayMsNow)),
      sleep_(sleep ? std::move(sleep) : TSleep(&WaitWithoutInput)),
      picture_(new QSvgRenderer(QStringLiteral(":/app/splash.svg"), this)) {
    FormCreate();
}

TfmSplash::~TfmSplash() = default;

void TfmSplash::FormCreate() {
    // The picture is drawn at its natural size; the window takes no input.
    setFixedSize(412, 460);
    setEnabled(false);
    setAttribute(Qt::WA_ShowWithoutActivating);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - QPoint(width() / 2, height() / 2));
    show();
    ShowPicture();
    StartTime = clock_();
}

void TfmSplash::ShowPicture() {
    // The message loop is not running yet. On X11 without a compositor the
    // server keeps no contents of a window: a picture painted before the
    // window is mapped and exposed is lost, and the expose that would ask
    // for it again is never handled while the program sleeps. So the
    // window system's events are taken here until the window is exposed
    // (at most a second: a desktop that never exposes it gets no picture,
    // and the start goes on), and the picture is painted into it then.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        const QWindow* window = windowHandle();
        if (!window || window->isExposed() || waited.elapsed() > 1000) break;
        QThread::msleep(5);
    }
    repaint();
    // The painted picture goes out to the server now, not at the next
    // turn of a loop that is not running yet.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TfmSplash::FormHide() {
    // The clock runs in unsigned arithmetic: past midnight the difference is
    // huge and the wait ends at once.
    for (;;) {
        const uint32_t elapsed = clock_() - StartTime;
        if (elapsed >= Delay + 200) break;
        // A window placed over the splash and gone again leaves an expose
        // behind: the picture is painted again before the wait.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        // Never past the minimum time: the window is waiting behind.
        sleep_(std::min(Delay, Delay + 200 - elapsed));
    }
}

void TfmSplash::Release() {
    FormHide();
    hide();
}

void TfmSplash::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    picture_->render(&p, QRectF(0, 0, 412, 460));
}

}  // namespace skarvel
