#include "install/installed_release_file.h"

release::InstalledRelease LoadInstalledRelease(TInstallFileSystem& files, const TUpdateFolder& folder) {
    const std::optional<std::string> text = files.ReadFile(folder.State(), release::InstalledRelease::kMaxBytes);
    return text ? release::InstalledRelease::Parse(*text) : release::InstalledRelease{};
}

bool SaveInstalledRelease(TInstallFileSystem& files, const TUpdateFolder& folder,
                          const release::InstalledRelease& record) {
    const std::string fresh = folder.State() + ".new";
    if (!files.FolderExists(folder.Root()) && !files.CreateFolder(folder.Root())) return false;
    if (!files.WriteFile(fresh, record.Text()) || !files.FlushFile(fresh) || !files.Move(fresh, folder.State()) ||
        !files.FlushFolder(folder.Root())) {
        files.RemoveFile(fresh);
        return false;
    }
    return true;
}
