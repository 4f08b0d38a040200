#include <QApplication>
#include <QLocale>

#include <gtest/gtest.h>

#include "platform/message_pump.h"
#include "../support/temp_folder.h"

#include <cstdlib>
#include <filesystem>

int main(int argc, char* argv[]) {
    // Listing the tests happens without a display too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Without a runtime folder Qt makes one in the temporary folder and leaves
    // it there; give it one that goes when the tests end (the programs the
    // tests start inherit it).
    const TempFolder runtime("quendal-runtime");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        std::filesystem::permissions(runtime.path(), std::filesystem::perms::owner_all);
        setenv("XDG_RUNTIME_DIR", runtime.str().c_str(), 1);
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quendal"));
    // Kilobyte figures are checked with "," between thousands.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    platform::SetMessagePump([] { QCoreApplication::processEvents(); });
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
