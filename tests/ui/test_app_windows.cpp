// The splash window's minimum time and the About window.
#include <gtest/gtest.h>

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

TEST(Splash, TimeOfDay) {
    EXPECT_EQ(TimeOfDayMs(0, 0, 0, 0), 0u);
    EXPECT_EQ(TimeOfDayMs(1, 2, 3, 4), 3723004u);
    EXPECT_EQ(TimeOfDayMs(23, 59, 59, 999), 86399999u);
}

TEST(Splash, StaysAtLeastSevenHundredMilliseconds) {
    FakeTime t;
    t.Now = 1000;
    TfmSplash splash(nullptr, 500, t.Clock(), t.Sleep());
    EXPECT_EQ(splash.StartTime, 1000u);
    EXPECT_EQ(splash.Delay, 500u);
    EXPECT_TRUE(splash.isVisible());
    EXPECT_FALSE(splash.isEnabled());
    EXPECT_EQ(splash.size(), QSize(412, 460));
    EXPECT_TRUE(splash.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(splash.windowFlags() & Qt::WindowStaysOnTopHint);

    t.Now += 50;  // a main window created in 50 ms
    splash.Release();
    EXPECT_EQ(t.Sleeps, (std::vector<unsigned>{500, 500}));
    EXPECT_GE(t.Now - 1000, 700u);
    EXPECT_FALSE(splash.isVisible());
}

TEST(Splash, SlowMainWindowEndsTheSplashAtOnce) {
    FakeTime t;
    t.Now = 5000;
    TfmSplash splash(nullptr, 500, t.Clock(), t.Sleep());
    t.Now += 2000;
    splash.Release();
    EXPECT_TRUE(t.Sleeps.empty());
}

TEST(Splash, MidnightEndsTheWait) {
    FakeTime t;
    t.Now = TimeOfDayMs(23, 59, 59, 800);
    TfmSplash splash(nullptr, 500, t.Clock(), t.Sleep());
    t.Now += 100;
    splash.Release();  // one sleep crosses midnight, then the wait is over
    EXPECT_EQ(t.Sleeps, (std::vector<unsigned>{500}));
    EXPECT_EQ(t.Now, 400u);
}

TEST(About, PictureIsDecodedByLibjpeg) {
    QFile f(QStringLiteral(":/app/about.jpg"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray data = f.readAll();
    const QImage img = DecodeJpeg(data);
    EXPECT_EQ(img.size(), QSize(228, 300));
    // Broken data give no picture (and do not end the process).
    EXPECT_TRUE(DecodeJpeg(QByteArray("not a picture")).isNull());
    EXPECT_TRUE(DecodeJpeg(data.left(data.size() / 3)).width() == 228 || DecodeJpeg(data.left(data.size() / 3)).isNull());
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

        about.show();
        QTest::keyClick(&about, Qt::Key_Shift);  // Shift alone closes it
        EXPECT_EQ(about.result(), QDialog::Accepted);
        EXPECT_FALSE(about.isVisible());
    }
    for (int i = 0; i < 2; ++i) {
        TAbout about;
        about.show();
        QWidget* target = i == 0 ? static_cast<QWidget*>(about.Label1) : about.Memo1->viewport();
        QTest::mouseClick(target, Qt::LeftButton);
        EXPECT_EQ(about.result(), QDialog::Accepted);
        EXPECT_FALSE(about.isVisible());
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
