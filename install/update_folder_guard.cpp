#include "install/update_folder_guard.h"

#include "install/install_file_system.h"
#include "install/update_folder.h"
#include "install/update_log.h"
#include "platform/file_system.h"

namespace {

using platform::EntryKind;

// Far more than anyone sets aside by hand; past it the folder stays unsafe.
constexpr int kMaxSetAsideNames = 1000;

// Stands in for a journal that was not the updater's own file. It names no
// files and lacks the journal's first line, so it reads as damaged.
constexpr const char* kRefusedJournal =
    "not a journal: a link or a file with other names stood here and was removed at start\n";

constexpr const char* kLeftOver = " (left by a stopped run)";

// The updater's folder without its trailing separator: the name itself.
std::string RootEntry(const TUpdateFolder& folder) { return folder.program + kUpdateFolderName; }

void SetAside(TInstallFileSystem& files, const TUpdateFolder& folder, TUpdateFolderRepair& repair) {
    for (int n = 1; n <= kMaxSetAsideNames; ++n) {
        const std::string name = std::string(kUpdateFolderName) + ".set-aside-" + std::to_string(n);
        if (files.EntryExists(folder.program + name)) continue;
        if (!files.Move(RootEntry(folder), folder.program + name)) break;
        repair.setAsideAs = name;
        if (!files.CreateFolder(RootEntry(folder))) break;
        files.SetHidden(RootEntry(folder));
        return;
    }
    repair.safe = false;
}

void RemoveForeignEntries(TInstallFileSystem& files, const TUpdateFolder& folder, TUpdateFolderRepair& repair) {
    const auto entries = files.ListFolder(folder.Root());
    if (!entries) {
        repair.safe = false;
        return;
    }
    for (const platform::FolderEntry& entry : *entries) {
        const std::string path = folder.Root() + entry.name;
        const EntryKind kind = files.KindOf(path);
        if (kind != EntryKind::Link && kind != EntryKind::SharedFile && kind != EntryKind::Other) continue;
        if (!files.RemoveFile(path)) {
            repair.safe = false;
            continue;
        }
        repair.removed.push_back(entry.name + (kind == EntryKind::Link         ? " (a link)"
                                               : kind == EntryKind::SharedFile ? " (a file with other names)"
                                                                               : " (a device or pipe)"));
        if (path == folder.Journal() && !files.WriteFile(path, kRefusedJournal)) repair.safe = false;
    }
    if (files.EntryExists(folder.FetchedEntries())) {
        if (files.RemoveTree(folder.FetchedEntries()))
            repair.removed.push_back("entries.zip" + std::string(kLeftOver));
        else
            repair.safe = false;
    }
}

void RemoveWriteChecks(TInstallFileSystem& files, const TUpdateFolder& folder, TUpdateFolderRepair& repair) {
    const auto entries = files.ListFolder(folder.program);
    if (!entries) return;
    const std::string prefix = platform::kWriteCheckPrefix;
    for (const platform::FolderEntry& entry : *entries) {
        if (entry.isFolder || entry.name.compare(0, prefix.size(), prefix) != 0) continue;
        if (files.RemoveFile(folder.program + entry.name))
            repair.removed.push_back(entry.name + kLeftOver);
        else
            repair.safe = false;
    }
}

}  // namespace

std::string TUpdateFolderRepair::Summary() const {
    std::string summary;
    if (!setAsideAs.empty()) summary = "set aside as " + setAsideAs;
    for (size_t i = 0; i < removed.size(); ++i)
        summary += (i > 0 ? ", " : summary.empty() ? "removed " : "; removed ") + removed[i];
    if (!safe) summary += summary.empty() ? "not all put right" : "; not all put right";
    return summary;
}

TUpdateFolderRepair SecureUpdateFolder(TInstallFileSystem& files, const TUpdateFolder& folder) {
    TUpdateFolderRepair repair;
    const EntryKind root = files.KindOf(RootEntry(folder));
    if (root != EntryKind::Missing && root != EntryKind::Folder) SetAside(files, folder, repair);
    if (files.FolderExists(RootEntry(folder))) RemoveForeignEntries(files, folder, repair);
    RemoveWriteChecks(files, folder, repair);
    if ((repair.Changed() || !repair.safe) && files.FolderExists(RootEntry(folder))) {
        TUpdateRunRecord record;
        record.result = repair.safe ? "updater folder repaired" : "updater folder not safe";
        record.step = "start";
        record.entry = repair.Summary();
        TUpdateLog(files, folder.Log()).Append(record);
    }
    return repair;
}
