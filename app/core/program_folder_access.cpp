#include "app/core/program_folder_access.h"

#include "platform/file_system.h"
#include "platform/shell.h"

bool TFolderAccess::Writable(const std::string& folder) { return platform::FolderWritable(folder); }

bool TFolderAccess::RestartElevated() { return platform::RestartElevated(kElevatedArgument); }

TFolderCheck CheckProgramFolder(TFolderAccess& access, const std::string& folder, bool elevatedRun) {
    if (access.Writable(folder)) return TFolderCheck::Writable;
    if (!elevatedRun && access.RestartElevated()) return TFolderCheck::RestartedElevated;
    return TFolderCheck::NotWritable;
}
