#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "install/install_file_system.h"
#include "install/install_journal.h"
#include "install/update_folder.h"
#include "install/update_log.h"

// Where an install stopped, for the log and the window.
struct TInstallFailure {
    std::string step;
    std::string entry;  // relative path, or empty
    int64_t code = 0;   // the system's error code, or 0
};

// Puts a staged update in place all or nothing. The new files are extracted
// into the stage; Install checks that every file to be replaced can be
// moved, flushes the stage, writes and flushes the journal, moves each old
// file it takes away into the backup and each new one into place, and marks
// the journal committed before removing the backup and the stage. Any
// failure before the commit moves every file back; Recover, at the next
// start, does the same for a run that was killed, or finishes the clean-up
// of one that had committed. Files the update does not contain are left
// alone, but for those the caller names as dropped by the release.
class TUpdateTransaction {
public:
    // Asked with the native path of a file another program holds: true to try again.
    using TRetryQuestion = std::function<bool(const std::string& path)>;

    TUpdateTransaction(TInstallFileSystem& files, std::string programFolder);

    const TUpdateFolder& Folder() const { return folder_; }
    // What the log records of this run besides the outcome (its result,
    // step, entry and code are the transaction's).
    void SetRun(TUpdateRunRecord run) { run_ = std::move(run); }
    // Appends the run's outcome to the update log; runs that end before the
    // install (a failed download) are logged through here too.
    void Log(const std::string& result, const TInstallFailure& failure);

    // An empty stage, hidden on Windows. False while a damaged journal waits
    // for a person to look at it, or when the folder cannot be made.
    bool PrepareStage();
    // Removes the stage and logs why: the program folder is left as it was.
    void Abandon(const TInstallFailure& why);

    enum class Result { Installed, RolledBack, Cancelled };
    // `dropped`: files of the installed release (relative, "/"-separated)
    // that the new one lacks and that the user left as installed; they are
    // taken away in the same transaction. A folder the release turns into a
    // file may hold nothing else.
    Result Install(const TRetryQuestion& askRetry, const std::set<std::string>& dropped = {});
    const TInstallFailure& Failure() const { return failure_; }

    enum class Recovery { NothingLeft, RolledBack, Finished, Failed, Damaged };
    // Run before anything else at start: undoes or finishes a swap a killed
    // run left, and removes what a killed extraction left in the stage.
    Recovery Recover();

    // How long a held file is waited for in all before the user is asked
    // (about 20 s): 50 ms times the square of the attempt.
    static constexpr int kHeldFileAttempts = 10;
    static constexpr uint32_t kHeldFileStepMs = 50;

private:
    bool Fail(std::string step, std::string entry, bool withCode = true);
    bool PlanFolder(const std::string& relative, const std::set<std::string>& dropped, TInstallJournal& plan);
    bool PlanPrune(const std::string& relative, const std::set<std::string>& dropped, TInstallJournal& plan);
    bool PlanDropped(const std::set<std::string>& dropped, TInstallJournal& plan);
    bool WaitUntilMovable(const std::string& relative, const TRetryQuestion& askRetry, bool& cancelled);
    bool Swap(const TInstallJournal& journal);
    bool BackUp(const std::string& relative);
    bool RollBack(const TInstallJournal& journal);
    bool RollBackFile(const TInstallJournal::File& file);
    bool FlushParents(const TInstallJournal& journal);
    bool MakeParents(const std::string& root, const std::string& relative);
    bool CleanUp();
    bool RemoveTree(const std::string& folder);
    bool Exists(const std::string& path);
    bool HoldsFile(const std::string& path);
    bool StaysInside(const std::string& relative);
    std::string Target(const std::string& relative) const;

    TInstallFileSystem& files_;
    const TUpdateFolder folder_;
    TInstallFailure failure_;
    TUpdateLog log_;
    TUpdateRunRecord run_;
};
