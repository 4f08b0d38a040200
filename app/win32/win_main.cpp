#include <windows.h>

#include "app/gui/update_public_key.h"
#include "app/gui/update_url.h"
#include "app/progress_throttle.h"
#include "app/win32/updater_window.h"
#include "platform/drive_info.h"
#include "platform/file_system.h"
#include "platform/message_pump.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // The extractor pumps at every block it writes; looking at the queue that
    // often costs more than the extraction itself under some systems, and a
    // look every 10 ms keeps the buttons and the close box as quick.
    TProgressThrottle pumpGate(std::chrono::milliseconds(10));
    platform::SetMessagePump([&pumpGate] {
        if (pumpGate.Due(false)) platform::PumpSystemMessages();
    });
    platform::SetDriveNotAccessiblePrompt(
        [](const std::string& text) { return platform::AskRetryInMessageBox("Quendal", text); });

    // The first update run happens while the window is created and shown.
    TfrmUpdater frmUpdater(UpdateUrl(), platform::ProgramFolder(), UpdatePublicKey(), TRetryPolicy::Standard());
    frmUpdater.Show();

    MSG message;
    while (!ApplicationTerminationRequested() && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (::IsDialogMessageW(frmUpdater.Window(), &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}
