#include "install/installed_release_file.h"

release::InstalledRelease LoadInstalledRelease(TInstallFileSystem& files, const TUpdateFolder& folder) {
    const std::optional<std::string> text = files.ReadFile(folder.State(), release::InstalledRelease::kMaxBytes);
    return text ? release::InstalledRelease::Parse(*text) : release::InstalledRelease{};
}

bool SaveInstalledRelease(TInstallFileSystem& files, const TUpdateFolder& folder,
                          const release::InstalledRelease& record) {
    return files.ReplaceFileWhole(folder.Root(), folder.State(), record.Text());
}
