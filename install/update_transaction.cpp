#include "install/update_transaction.h"

#include <set>
#include <utility>

#include "platform/safe_path.h"

namespace {

std::string ParentOf(const std::string& relative) {
    const size_t slash = relative.rfind('/');
    return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

}  // namespace

TUpdateTransaction::TUpdateTransaction(TInstallFileSystem& files, std::string programFolder)
    : files_(files), folder_{std::move(programFolder)}, log_(files, folder_.Log()) {}

void TUpdateTransaction::Log(const std::string& result, const TInstallFailure& failure) {
    if (!files_.FolderExists(folder_.Root()) && !files_.CreateFolder(folder_.Root())) return;
    TUpdateRunRecord record = run_;
    record.result = result;
    record.step = failure.step;
    record.entry = failure.entry;
    record.errorCode = failure.code;
    log_.Append(record);
}

bool TUpdateTransaction::Fail(std::string step, std::string entry, bool withCode) {
    failure_ = {std::move(step), std::move(entry), withCode ? files_.LastError() : 0};
    return false;
}

std::string TUpdateTransaction::Target(const std::string& relative) const {
    return folder_.program + NativeRelativePath(relative);
}

bool TUpdateTransaction::Exists(const std::string& path) { return files_.EntryExists(path); }

// A file or a link: what the swap moves. A folder of the same name in the
// backup only holds the backups of the files below it.
bool TUpdateTransaction::HoldsFile(const std::string& path) {
    const platform::EntryKind kind = files_.KindOf(path);
    return kind != platform::EntryKind::Missing && kind != platform::EntryKind::Folder && kind != platform::EntryKind::Other;
}

// A folder of the program reached through a link could lie anywhere. The
// entry itself may be a link: a rename moves the link, not what it names.
bool TUpdateTransaction::StaysInside(const std::string& relative) {
    return !platform::PathHasLinkBelow(folder_.program, Target(ParentOf(relative)));
}

bool TUpdateTransaction::PrepareStage() {
    failure_ = {};
    if (files_.FileExists(folder_.Journal())) return Fail("stage", "journal", false);
    if (!files_.FolderExists(folder_.Root())) {
        if (!files_.CreateFolder(folder_.Root())) return Fail("stage", "");
        files_.SetHidden(folder_.Root());
    }
    if (!RemoveTree(folder_.Stage()) || !RemoveTree(folder_.Backup())) return Fail("stage", "");
    if (!files_.CreateFolder(folder_.Stage())) return Fail("stage", "");
    return true;
}

void TUpdateTransaction::Abandon(const TInstallFailure& why) {
    RemoveTree(folder_.Stage());
    Log("failed", why);
}

bool TUpdateTransaction::RemoveTree(const std::string& folder) { return files_.RemoveTree(folder); }

// Walks the stage below `relative`, noting what the swap takes away, the
// folders it makes and the files it moves; false when the new tree cannot
// replace the old one. What stands at a name is looked at, never followed:
// a link is replaced as a link, whatever it names.
bool TUpdateTransaction::PlanFolder(const std::string& relative, const std::set<std::string>& dropped,
                                    TInstallJournal& plan) {
    using platform::EntryKind;
    const std::string staged = folder_.Stage() + NativeRelativePath(relative);
    const auto entries = files_.ListFolder(staged);
    if (!entries) return Fail("check", relative);
    for (const platform::FolderEntry& entry : *entries) {
        const std::string path = relative.empty() ? entry.name : relative + '/' + entry.name;
        if (!TInstallJournal::IsSafeRelativePath(path) || !StaysInside(path)) return Fail("check", path, false);
        const EntryKind standing = files_.KindOf(Target(path));
        if (standing == EntryKind::Other) return Fail("check", path, false);
        if (entry.isFolder) {
            // A file or a link where the release has a folder goes, as a
            // replaced file would.
            if (standing != EntryKind::Missing && standing != EntryKind::Folder) plan.removed.push_back(path);
            if (standing != EntryKind::Folder) plan.folders.push_back(path);
            if (!PlanFolder(path, dropped, plan)) return false;
        } else if (standing == EntryKind::Folder) {
            // A folder where the release has a file: only when it holds
            // nothing but files the release drops.
            if (!PlanPrune(path, dropped, plan)) return Fail("check", path, false);
            plan.files.push_back({path, TInstallJournal::FileKind::New});
        } else {
            plan.files.push_back(
                {path, standing == EntryKind::Missing ? TInstallJournal::FileKind::New : TInstallJournal::FileKind::Replacing});
        }
    }
    return true;
}

// Plans the removal of the installed folder `relative` (a real folder, no
// link on its way, as the caller found it) and all it holds, which must be
// files the release drops and folders of them; a link in it is never entered.
bool TUpdateTransaction::PlanPrune(const std::string& relative, const std::set<std::string>& dropped,
                                   TInstallJournal& plan) {
    const auto entries = files_.ListFolder(Target(relative));
    if (!entries) return false;
    for (const platform::FolderEntry& entry : *entries) {
        const std::string path = relative + '/' + entry.name;
        if (entry.isFolder) {
            if (!PlanPrune(path, dropped, plan)) return false;
        } else if (dropped.contains(path)) {
            plan.removed.push_back(path);
        } else {
            return false;
        }
    }
    plan.prunedFolders.push_back(relative);
    return true;
}

// The dropped files the stage walk did not take away already; one that is
// gone, or is a folder now, is left as it is.
bool TUpdateTransaction::PlanDropped(const std::set<std::string>& dropped, TInstallJournal& plan) {
    std::set<std::string> planned(plan.removed.begin(), plan.removed.end());
    for (const TInstallJournal::File& file : plan.files) planned.insert(file.path);
    for (const std::string& path : dropped) {
        if (planned.contains(path)) continue;
        if (!TInstallJournal::IsSafeRelativePath(path) || !StaysInside(path)) return Fail("check", path, false);
        if (HoldsFile(Target(path))) plan.removed.push_back(path);
    }
    return true;
}

bool TUpdateTransaction::WaitUntilMovable(const std::string& relative, const TRetryQuestion& askRetry,
                                          bool& cancelled) {
    const std::string target = Target(relative);
    for (;;) {
        for (int attempt = 1; attempt <= kHeldFileAttempts; ++attempt) {
            if (files_.CanOpenForDeletion(target)) return true;
            files_.Sleep(kHeldFileStepMs * attempt * attempt);
        }
        if (files_.CanOpenForDeletion(target)) return true;
        Fail("held", relative);
        if (!askRetry || !askRetry(target)) {
            cancelled = true;
            return false;
        }
    }
}

TUpdateTransaction::Result TUpdateTransaction::Install(const TRetryQuestion& askRetry,
                                                      const std::set<std::string>& dropped) {
    failure_ = {};
    TInstallJournal journal;
    if (!PlanFolder("", dropped, journal) || !PlanDropped(dropped, journal)) {
        Abandon(failure_);
        return Result::RolledBack;
    }
    std::vector<std::string> taken = journal.removed;
    for (const TInstallJournal::File& file : journal.files)
        if (file.kind == TInstallJournal::FileKind::Replacing) taken.push_back(file.path);
    for (const std::string& file : taken) {
        bool cancelled = false;
        if (!WaitUntilMovable(file, askRetry, cancelled)) {
            Abandon(failure_);
            return cancelled ? Result::Cancelled : Result::RolledBack;
        }
    }

    // The staged bytes reach the disk before any of them is renamed into
    // place: a power cut after the swap must not leave empty new files.
    if (!files_.FlushTree(folder_.Stage())) {
        Fail("flush", "stage");
        Abandon(failure_);
        return Result::RolledBack;
    }
    if (!files_.CreateFolder(folder_.Backup()) || !files_.WriteFile(folder_.Journal(), journal.Text()) ||
        !files_.FlushFile(folder_.Journal()) || !files_.FlushFolder(folder_.Root())) {
        Fail("journal", "");
        files_.RemoveFile(folder_.Journal());
        RemoveTree(folder_.Backup());
        Abandon(failure_);
        return Result::RolledBack;
    }
    if (!Swap(journal) || !files_.AppendFile(folder_.Journal(), TInstallJournal::kCommitLine) ||
        !files_.FlushFile(folder_.Journal())) {
        if (failure_.step.empty()) Fail("commit", "");
        const TInstallFailure cause = failure_;
        const bool undone = RollBack(journal) && CleanUp();
        failure_ = cause;
        Log(undone ? "rolled back" : "roll back unfinished", failure_);
        return Result::RolledBack;
    }
    // Every new file is in place; the next start removes what a failed
    // clean-up left.
    if (CleanUp())
        Log("installed", {});
    else
        Log("installed, clean-up unfinished", failure_);
    return Result::Installed;
}

bool TUpdateTransaction::MakeParents(const std::string& root, const std::string& relative) {
    const std::string parent = ParentOf(relative);
    if (parent.empty() || files_.FolderExists(root + NativeRelativePath(parent))) return true;
    return MakeParents(root, parent) && files_.CreateFolder(root + NativeRelativePath(parent));
}

bool TUpdateTransaction::BackUp(const std::string& relative) {
    return MakeParents(folder_.Backup(), relative) &&
           files_.Move(Target(relative), folder_.Backup() + NativeRelativePath(relative));
}

// In the journal's order of kinds: what goes away first, so that a folder
// may take a file's place and a file a folder's.
bool TUpdateTransaction::Swap(const TInstallJournal& journal) {
    for (const std::string& file : journal.removed)
        if (!BackUp(file)) return Fail("swap", file);
    for (const std::string& folder : journal.prunedFolders)
        if (!files_.RemoveEmptyFolder(Target(folder))) return Fail("swap", folder);
    for (const std::string& folder : journal.folders)
        if (!files_.CreateFolder(Target(folder))) return Fail("swap", folder);
    for (const TInstallJournal::File& file : journal.files) {
        // What stands there must be what the plan saw: the roll-back trusts
        // the backup alone to hold old files.
        const bool standing = Exists(Target(file.path));
        if (standing != (file.kind == TInstallJournal::FileKind::Replacing)) return Fail("swap", file.path, false);
        if (standing && !BackUp(file.path)) return Fail("swap", file.path);
        if (!files_.Move(folder_.Stage() + NativeRelativePath(file.path), Target(file.path)))
            return Fail("swap", file.path);
    }
    return FlushParents(journal);
}

bool TUpdateTransaction::FlushParents(const TInstallJournal& journal) {
    std::set<std::string> parents;
    for (const TInstallJournal::File& file : journal.files) parents.insert(ParentOf(file.path));
    for (const std::string& file : journal.removed) parents.insert(ParentOf(file));
    for (const std::string& folder : journal.prunedFolders) parents.insert(ParentOf(folder));
    // A folder the roll-back removed again has nothing left to flush.
    for (const std::string& parent : parents) {
        const std::string folder = parent.empty() ? folder_.program : Target(parent);
        if (files_.FolderExists(folder) && !files_.FlushFolder(folder)) return Fail("flush", parent);
    }
    return true;
}

// Safe to repeat after a kill at any point, and whatever became of the
// stage: an old file is restored from the backup alone, and a new file in
// place is removed. A file the swap had not reached is never touched.
bool TUpdateTransaction::RollBackFile(const TInstallJournal::File& file) {
    const std::string target = Target(file.path);
    const std::string staged = folder_.Stage() + NativeRelativePath(file.path);
    const std::string backup = folder_.Backup() + NativeRelativePath(file.path);
    const bool backedUp = HoldsFile(backup);
    // A folder in place is an old one the swap had not pruned yet: a staged
    // entry is never a folder.
    const bool fileThere = HoldsFile(target);
    bool newInPlace = false;
    switch (file.kind) {
        case TInstallJournal::FileKind::Replacing: newInPlace = backedUp && fileThere; break;
        case TInstallJournal::FileKind::New: newInPlace = fileThere; break;
        // An older updater's journal does not say: a file in place whose
        // staged copy is gone was moved there.
        case TInstallJournal::FileKind::Unknown: newInPlace = !Exists(staged) && fileThere; break;
    }
    // The stage may be gone: the new file is removed where it stands.
    if (newInPlace && !files_.RemoveFile(target)) return Fail("roll back", file.path);
    if (backedUp && !files_.Move(backup, target)) return Fail("roll back", file.path);
    return true;
}

bool TUpdateTransaction::RollBack(const TInstallJournal& journal) {
    bool whole = true;
    auto inside = [&](const std::string& path) { return StaysInside(path) || Fail("roll back", path, false); };
    for (auto file = journal.files.rbegin(); file != journal.files.rend(); ++file)
        whole &= inside(file->path) && RollBackFile(*file);
    for (auto folder = journal.folders.rbegin(); folder != journal.folders.rend(); ++folder)
        if (StaysInside(*folder) && files_.KindOf(Target(*folder)) == platform::EntryKind::Folder)
            files_.RemoveEmptyFolder(Target(*folder));
    for (auto folder = journal.prunedFolders.rbegin(); folder != journal.prunedFolders.rend(); ++folder) {
        if (!inside(*folder)) {
            whole = false;
            continue;
        }
        if (!Exists(Target(*folder)) && !files_.CreateFolder(Target(*folder))) whole = Fail("roll back", *folder);
    }
    for (auto file = journal.removed.rbegin(); file != journal.removed.rend(); ++file) {
        if (!inside(*file)) {
            whole = false;
            continue;
        }
        const std::string backup = folder_.Backup() + NativeRelativePath(*file);
        if (HoldsFile(backup) && !files_.Move(backup, Target(*file))) whole = Fail("roll back", *file);
    }
    return whole && FlushParents(journal);
}

// The journal goes first: once the program folder is whole, old or new, a
// repeated roll-back must not read a stage that is half removed.
bool TUpdateTransaction::CleanUp() {
    if (files_.FileExists(folder_.Journal()) && !files_.RemoveFile(folder_.Journal()))
        return Fail("clean-up", "journal");
    if (!RemoveTree(folder_.Backup()) || !RemoveTree(folder_.Stage())) return Fail("clean-up", "");
    return true;
}

TUpdateTransaction::Recovery TUpdateTransaction::Recover() {
    failure_ = {};
    if (!files_.FolderExists(folder_.Root())) return Recovery::NothingLeft;
    const std::optional<std::string> text =
        files_.FileExists(folder_.Journal()) ? files_.ReadFile(folder_.Journal(), TInstallJournal::kMaxBytes)
                                           : std::nullopt;
    if (!text) {
        // No swap began: at most a stage a killed extraction left.
        if (files_.FileExists(folder_.Journal())) {
            Fail("recovery", "journal");
            Log("recovery failed", failure_);
            return Recovery::Failed;
        }
        const bool leftovers = files_.FolderExists(folder_.Stage()) || files_.FolderExists(folder_.Backup());
        if (!leftovers) return Recovery::NothingLeft;
        if (!CleanUp()) {
            Log("recovery failed", failure_);
            return Recovery::Failed;
        }
        Log("cleaned up after an interrupted run", {"recovery", "", 0});
        return Recovery::NothingLeft;
    }
    TInstallJournal journal;
    switch (TInstallJournal::Parse(*text, journal)) {
        case TInstallJournal::ReadResult::Damaged:
            // Nothing is moved on a list that cannot be trusted; it stays for
            // support staff, and no update starts over it.
            Fail("recovery", "damaged journal", false);
            Log("recovery refused", failure_);
            return Recovery::Damaged;
        case TInstallJournal::ReadResult::CutOff:
            // Cut off while being written: nothing had moved yet.
            if (!CleanUp()) return Recovery::Failed;
            Log("rolled back after an interrupted run", {"recovery", "", 0});
            return Recovery::RolledBack;
        case TInstallJournal::ReadResult::Complete:
            break;
    }
    if (journal.committed) {
        if (!CleanUp()) {
            Log("recovery failed", failure_);
            return Recovery::Failed;
        }
        Log("finished after an interrupted run", {"recovery", "", 0});
        return Recovery::Finished;
    }
    if (!RollBack(journal) || !CleanUp()) {
        Log("recovery failed", failure_);
        return Recovery::Failed;
    }
    Log("rolled back after an interrupted run", {"recovery", "", 0});
    return Recovery::RolledBack;
}
