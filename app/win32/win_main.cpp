#include <windows.h>

#include <string_view>

#include "app/core/update_public_key.h"
#include "app/core/update_url.h"
#include "app/core/program_folder_access.h"
#include "app/core/progress_throttle.h"
#include "app/win32/updater_window.h"
#include "platform/drive_info.h"
#include "platform/file_system.h"
#include "platform/message_pump.h"
#include "platform/win32/wide_text.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int) {
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
    // A run that could not write the program folder starts this one with
    // administrator rights and the mark.
    const bool elevatedRun = arguments && std::wstring_view(arguments).find(platform::Widen(
                                               TFolderAccess::kElevatedArgument)) != std::wstring_view::npos;
    TfrmUpdater frmUpdater(UpdateUrl(), platform::ProgramFolder(), UpdatePublicKey(), TRetryPolicy::Standard(),
                           elevatedRun);
    frmUpdater.Show();

    MSG message;
    while (!ApplicationTerminationRequested() && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (::IsDialogMessageW(frmUpdater.Window(), &message)) continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}
