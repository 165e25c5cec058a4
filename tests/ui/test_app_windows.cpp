// The splash window's minimum time and the About window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <vector>

#include "app/about.h"
#include "app/jpeg_image.h"
#include "app/splash.h"

using namespace skarvel;

namespace {

// A clock that only moves when told to, and a sleep that moves it.
struct FakeTime {
    uint32_t Now = 0;
    std::vector<unsigned> Sleeps;
    TfmSplash::TClock Clock() {
        return [this] { return Now; };
    }
    TfmSplash::TSleep Sleep() {
        return [this](unsigned ms) {
            Sleeps.push_back(ms);
            Now = (Now + ms) % 86400000u;
        };
    }
};

}  // namespace

TEST(Splash, StaysSevenHundredMillisecondsNoLongerOrUntilMidnight) {
    const struct {
        const char* Name;
        uint32_t Start, Elapsed;  // when it came up, how long the main window took
        std::vector<unsigned> Sleeps;
        uint32_t End;
    } cases[] = {
        {"main window in 50 ms", 1000, 50, {500, 150}, 1700},
        {"main window in 400 ms", 1000, 400, {300}, 1700},
        {"slow main window: ends at once", 5000, 2000, {}, 7000},
        {"one sleep crosses midnight, then the wait is over", TimeOfDayMs(23, 59, 59, 800), 100, {500}, 400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        FakeTime t;
        t.Now = c.Start;
        TfmSplash splash(nullptr, 500, t.Clock(), t.Sleep());
        EXPECT_TRUE(splash.isVisible() && !splash.isEnabled());
        EXPECT_EQ(splash.size(), QSize(412, 460));
        EXPECT_TRUE(splash.windowFlags() & Qt::FramelessWindowHint);
        EXPECT_TRUE(splash.windowFlags() & Qt::WindowStaysOnTopHint);
        t.Now += c.Elapsed;
        splash.Release();
        EXPECT_EQ(t.Sleeps, c.Sleeps);
        EXPECT_EQ(t.Now, c.End);
        EXPECT_FALSE(splash.isVisible());
    }
}

// The splash's own wait lets the window behind it work: what the port and
// the worker hand to the main thread is handled before the splash is gone.
TEST(Splash, WaitHandlesWhatIsHandedToTheMainThread) {
    TfmSplash splash(nullptr, 500);  // the real clock and wait
    bool handled = false;
    QMetaObject::invokeMethod(qApp, [&] { handled = true; }, Qt::QueuedConnection);
    splash.Release();
    EXPECT_TRUE(handled);
}

TEST(About, PictureIsDecodedByLibjpeg) {
    QFile f(QStringLiteral(":/app/about.jpg"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray data = f.readAll();
    const QImage img = DecodeJpeg(data);
    EXPECT_EQ(img.size(), QSize(228, 300));
    // Broken data give no picture (and do not end the process).
    EXPECT_TRUE(DecodeJpeg(QByteArray("not a picture")).isNull());
    const QImage cut = DecodeJpeg(data.left(data.size() / 3));
    EXPECT_TRUE(cut.width() == 228 || cut.isNull());
    EXPECT_TRUE(DecodeJpeg(QByteArray()).isNull());
}

TEST(About, WindowContentsAndWaysToCloseIt) {
    {
        TAbout about;
        EXPECT_EQ(about.windowTitle(), QStringLiteral("О программе"));
        EXPECT_EQ(about.size(), QSize(456, 300));
        ASSERT_FALSE(about.Image3->pixmap().isNull());
        EXPECT_EQ(about.Image3->pixmap().size(), QSize(228, 300));
        const QStringList lines = about.Memo1->toPlainText().split(QLatin1Char('\n'));
        ASSERT_EQ(lines.size(), 5);
        EXPECT_EQ(lines[0], QStringLiteral("Файловый менеджер "));
        EXPECT_TRUE(lines[3].endsWith(QLatin1Char(',')));
        EXPECT_EQ(lines[4], QStringLiteral("версия 1.0"));
        EXPECT_TRUE(about.Label1->text().contains(QStringLiteral("2005")));
        EXPECT_TRUE(about.Memo1->isReadOnly());
    }
    // Shift alone, a click on the label or on the text closes it.
    for (int way = 0; way < 3; ++way) {
        TAbout about;
        about.show();
        if (way == 0) QTest::keyClick(&about, Qt::Key_Shift);
        else QTest::mouseClick(way == 1 ? static_cast<QWidget*>(about.Label1) : about.Memo1->viewport(), Qt::LeftButton);
        EXPECT_EQ(about.result(), QDialog::Accepted) << way;
        EXPECT_FALSE(about.isVisible()) << way;
    }
}

TEST(About, ShowAboutRunsOneModalWindowAtATime) {
    int closed = 0;
    for (int i = 0; i < 2; ++i) {
        QTimer::singleShot(0, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            ASSERT_NE(modal, nullptr);
            EXPECT_NE(qobject_cast<TAbout*>(modal), nullptr);
            QTest::keyClick(modal, Qt::Key_Space);
            ++closed;
        });
        ShowAbout(nullptr);
        EXPECT_EQ(closed, i + 1);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}
