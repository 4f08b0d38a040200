#include "install/installed_release_file.h"

#include "release/manifest_json.h"

release::InstalledRelease LoadInstalledRelease(TInstallFileSystem& files, const TUpdateFolder& folder) {
    const std::optional<std::string> text = files.ReadFile(folder.State(), release::InstalledRelease::kMaxBytes);
    return text ? release::InstalledRelease::Parse(*text) : release::InstalledRelease{};
}

bool SaveInstalledRelease(TInstallFileSystem& files, const TUpdateFolder& folder,
                          const release::InstalledRelease& record) {
    return files.ReplaceFileWhole(folder.Root(), folder.State(), record.Text());
}

bool SaveInstalledManifest(TInstallFileSystem& files, const TUpdateFolder& folder, const std::string& bytes) {
    return files.ReplaceFileWhole(folder.Root(), folder.InstalledManifest(), bytes);
}

std::optional<release::ReleaseManifest> LoadInstalledManifest(TInstallFileSystem& files, const TUpdateFolder& folder,
                                                              const release::InstalledRelease& record) {
    if (!record.version) return std::nullopt;
    const std::optional<std::string> bytes = files.ReadFile(folder.InstalledManifest(), release::kMaxManifestBytes);
    if (!bytes) return std::nullopt;
    std::optional<release::ReleaseManifest> manifest = release::ReadManifest(*bytes).manifest;
    if (!manifest || !(manifest->version == *record.version)) return std::nullopt;
    return manifest;
}

void ForgetInstalledManifest(TInstallFileSystem& files, const TUpdateFolder& folder) {
    files.RemoveFile(folder.InstalledManifest());
}
