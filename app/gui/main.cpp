#include <QApplication>

#include "app/gui/application_termination.h"
#include "app/gui/update_url.h"
#include "app/gui/updater_window.h"
#include "platform/file_system.h"
#include "platform/message_pump.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quendal"));
    platform::SetMessagePump([] { QCoreApplication::processEvents(); });

    // The first update run happens while the window is created and shown.
    TfrmUpdater frmUpdater(UpdateUrl(), platform::ProgramFolder());
    frmUpdater.show();
    if (ApplicationTerminationRequested()) return 0;
    return application.exec();
}
