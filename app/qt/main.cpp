#include <QApplication>
#include <QTemporaryDir>

#include <chrono>
#include <memory>

#include "app/qt/application_termination.h"
#include "app/core/update_public_key.h"
#include "app/core/update_url.h"
#include "app/qt/updater_window.h"
#include "platform/file_system.h"
#include "platform/message_pump.h"

int main(int argc, char* argv[]) {
    // Qt looks into the runtime folder while it starts and warns when the
    // session names none (su, ssh, a service): a private folder for that
    // moment, gone at the end, and not passed on to the program started.
    std::unique_ptr<QTemporaryDir> runtimeFolder;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        runtimeFolder = std::make_unique<QTemporaryDir>();
        if (runtimeFolder->isValid()) qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeFolder->path()));
    }
    QApplication application(argc, argv);
    if (runtimeFolder) qunsetenv("XDG_RUNTIME_DIR");
    QApplication::setApplicationName(QStringLiteral("Quendal"));
    // The download pumps after every 255-byte chunk; going through the event
    // loop, and repainting, that often would take most of the update's time.
    // Pending events are handled at most every few milliseconds instead,
    // which the eye and the hand cannot tell apart.
    platform::SetMessagePump([last = std::chrono::steady_clock::time_point()]() mutable {
        const auto now = std::chrono::steady_clock::now();
        if (now - last < std::chrono::milliseconds(5)) return;
        last = now;
        QCoreApplication::processEvents();
    });

    // The first update run happens while the window is created and shown.
    TfrmUpdater frmUpdater(UpdateUrl(), platform::ProgramFolder(), UpdatePublicKey(), TRetryPolicy::Standard());
    frmUpdater.show();
    if (ApplicationTerminationRequested()) return 0;
    return application.exec();
}
