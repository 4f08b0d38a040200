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

void TUpdateTransaction::SetRun(std::string url, int64_t bytesReceived, std::string fetch) {
    url_ = std::move(url);
    bytesReceived_ = bytesReceived;
    fetch_ = std::move(fetch);
}

void TUpdateTransaction::Log(const std::string& result, const TInstallFailure& failure) {
    if (!files_.FolderExists(folder_.Root()) && !files_.CreateFolder(folder_.Root())) return;
    log_.Append({url_, bytesReceived_, result, failure.step, failure.entry, failure.code, fetch_});
}

bool TUpdateTransaction::Fail(std::string step, std::string entry, bool withCode) {
    failure_ = {std::move(step), std::move(entry), withCode ? files_.LastError() : 0};
    return false;
}

std::string TUpdateTransaction::Target(const std::string& relative) const {
    return folder_.program + NativeRelativePath(relative);
}

bool TUpdateTransaction::Exists(const std::string& path) { return files_.EntryExists(path); }

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

// Walks the stage below `relative`, noting the folders the swap makes and
// the files it moves; false when the new tree cannot replace the old one.
bool TUpdateTransaction::PlanFolder(const std::string& relative, Plan& plan) {
    const std::string staged = folder_.Stage() + NativeRelativePath(relative);
    const auto entries = files_.ListFolder(staged);
    if (!entries) return Fail("check", relative);
    for (const platform::FolderEntry& entry : *entries) {
        const std::string path = relative.empty() ? entry.name : relative + '/' + entry.name;
        if (!TInstallJournal::IsSafeRelativePath(path) || !StaysInside(path)) return Fail("check", path, false);
        const std::string target = Target(path);
        if (entry.isFolder) {
            if (Exists(target) && !files_.FolderExists(target)) return Fail("check", path, false);
            if (!files_.FolderExists(target)) plan.folders.push_back(path);
            if (!PlanFolder(path, plan)) return false;
        } else {
            if (files_.FolderExists(target)) return Fail("check", path, false);
            plan.files.push_back(path);
            if (Exists(target)) plan.replaced.push_back(path);
        }
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

TUpdateTransaction::Result TUpdateTransaction::Install(const TRetryQuestion& askRetry) {
    failure_ = {};
    Plan plan;
    if (!PlanFolder("", plan)) {
        Abandon(failure_);
        return Result::RolledBack;
    }
    for (const std::string& file : plan.replaced) {
        bool cancelled = false;
        if (!WaitUntilMovable(file, askRetry, cancelled)) {
            Abandon(failure_);
            return cancelled ? Result::Cancelled : Result::RolledBack;
        }
    }

    TInstallJournal journal{plan.folders, plan.files};
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

bool TUpdateTransaction::Swap(const TInstallJournal& journal) {
    for (const std::string& folder : journal.folders)
        if (!files_.CreateFolder(Target(folder))) return Fail("swap", folder);
    for (const std::string& file : journal.files) {
        const std::string target = Target(file);
        if (Exists(target)) {
            if (!MakeParents(folder_.Backup(), file)) return Fail("swap", file);
            if (!files_.Move(target, folder_.Backup() + NativeRelativePath(file))) return Fail("swap", file);
        }
        if (!files_.Move(folder_.Stage() + NativeRelativePath(file), target)) return Fail("swap", file);
    }
    if (!FlushParents(journal.files)) return false;
    return true;
}

bool TUpdateTransaction::FlushParents(const std::vector<std::string>& files) {
    std::set<std::string> parents;
    for (const std::string& file : files) parents.insert(ParentOf(file));
    // A folder the roll-back removed again has nothing left to flush.
    for (const std::string& parent : parents) {
        const std::string folder = parent.empty() ? folder_.program : Target(parent);
        if (files_.FolderExists(folder) && !files_.FlushFolder(folder)) return Fail("flush", parent);
    }
    return true;
}

// Safe to repeat after a kill at any point: each file's state on disk tells
// how far it got. A new file in place (no longer in the stage) goes back
// there; an old file in the backup goes back in place.
bool TUpdateTransaction::RollBack(const TInstallJournal& journal) {
    bool whole = true;
    for (auto file = journal.files.rbegin(); file != journal.files.rend(); ++file) {
        if (!StaysInside(*file)) {
            whole = Fail("roll back", *file, false);
            continue;
        }
        const std::string target = Target(*file);
        const std::string staged = folder_.Stage() + NativeRelativePath(*file);
        const std::string backup = folder_.Backup() + NativeRelativePath(*file);
        if (!Exists(staged) && Exists(target) &&
            !(MakeParents(folder_.Stage(), *file) && files_.Move(target, staged))) {
            whole = Fail("roll back", *file);
            continue;
        }
        if (Exists(backup) && !files_.Move(backup, target)) whole = Fail("roll back", *file);
    }
    for (auto folder = journal.folders.rbegin(); folder != journal.folders.rend(); ++folder)
        if (StaysInside(*folder)) files_.RemoveEmptyFolder(Target(*folder));
    return whole && FlushParents(journal.files);
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
        if (leftovers && !CleanUp()) return Recovery::Failed;
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
