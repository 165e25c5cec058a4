// The window's tests on USB adapters that umockdev makes up: the program
// runs again under umockdev's preload library first, with one QApplication
// and settings of its own, as the other widget tests.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include "tests/udev/testbed.h"

int main(int argc, char** argv) {
    skarvel::test::RunUnderUmockdev(argv);
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                    : qgetenv("QT_QPA_PLATFORM"));
    QTemporaryDir config;
    if (!config.isValid()) return 1;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
