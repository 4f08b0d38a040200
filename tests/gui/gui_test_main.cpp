#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

#include "platform/message_pump.h"

int main(int argc, char* argv[]) {
    // Listing the tests happens without a display too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quendal"));
    // Kilobyte figures are checked with "," between thousands.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    platform::SetMessagePump([] { QCoreApplication::processEvents(); });
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
