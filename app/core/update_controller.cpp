#include "app/core/update_controller.h"

#include <algorithm>
#include <exception>
#include <string>
#include <utility>

#include "app/core/kbytes_format.h"
#include "app/core/dropped_files.h"
#include "app/core/process_helpers.h"
#include "archive/unzip.h"
#include "download/download_component.h"
#include "download/download_item.h"
#include "download/resume_state.h"
#include "install/installed_release_file.h"
#include "install/update_folder_guard.h"
#include "install/update_folder.h"
#include "platform/ascii.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/message_pump.h"
#include "platform/shell.h"
#include "platform/sha256.h"
#include "platform/signature_verifier.h"
#include "release/manifest_json.h"

namespace {

// Clears a flag when the scope ends, however it ends.
class TFlagScope {
public:
    explicit TFlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~TFlagScope() { flag_ = false; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& flag_;
};

constexpr uint32_t kCancelledRunPauseMs = 1000;
constexpr uint32_t kAfterExtractionPauseMs = 500;
constexpr uint32_t kBeforeLaunchPauseMs = 500;
constexpr uint32_t kNoProgramFolderPauseMs = 1000;
// While waiting to retry, the window's messages are pumped this often.
constexpr std::chrono::milliseconds kRetryWaitStep{20};

// Room kept free beyond the bytes an update brings: the file system's own
// bookkeeping, and a block per file at most for the last partial one.
constexpr uint64_t kSpaceMarginBytes = 1024 * 1024;
constexpr uint64_t kSpaceMarginPerEntry = 4096;

// What the extractor can unpack. Anything else that arrives (an error page
// the server sent in place of the archive, another archive format) is not
// handed to it, so it can never count as installed.
bool IsZipArchive(TArcType type) {
    return type == atZip || type == atZipExe || type == atZipDS || type == atZipMV || type == atJar ||
           type == atJarExe;
}

// What the window says when the download failed for good; a server that
// did not answer, or stopped answering, is named.
std::string DownloadFailedText(const std::string& fileName, const TDownLoadItem& item) {
    return fileName + TUpdateController::kDownloadFailedText +
           (item.ServerSilent() ? TUpdateController::kServerSilentText : "");
}

// An entry's output path as the log names it: below the stage.
std::string RelativeTo(const std::string& folder, const std::string& path) {
    return !folder.empty() && path.starts_with(folder) ? path.substr(folder.size()) : path;
}

}  // namespace

TUpdateController::TUpdateController(TUpdaterView& view, TWinHTTPDownload& download, TUnZip& unzip,
                                     std::string updateUrl, std::string programFolder, std::string publicKeysPem)
    : view_(view),
      download_(download),
      unzip_(unzip),
      updateUrl_(std::move(updateUrl)),
      programFolder_(std::move(programFolder)),
      publicKeysPem_(std::move(publicKeysPem)) {
    // A broken download keeps what arrived for the next attempt.
    download_.SetResumePartialFiles(true);
    download_.OnDownloadEnd = [this](TObject* sender) { WinHTTPDownloadDownloadEnd(sender); };
    download_.OnItemGetHeader = [this](TObject* sender, TDownLoadItem* item) {
        WinHTTPDownloadItemGetHeader(sender, item);
    };
    download_.OnItemDownloadBegin = [this](TObject* sender, TDownLoadItem* item) {
        WinHTTPDownloadItemDownloadBegin(sender, item);
    };
    download_.OnItemDownloadProgress = [this](TObject* sender, TDownLoadItem* item, int currentBytes,
                                              int totalBytes) {
        WinHTTPDownloadItemDownloadProgress(sender, item, currentBytes, totalBytes);
    };
    download_.OnItemDownloadEnd = [this](TObject* sender, TDownLoadItem* item) {
        WinHTTPDownloadItemDownloadEnd(sender, item);
    };
    unzip_.OnBegin = [this](TObject* sender, const std::string& fileName, int32_t count, bool& extract) {
        UnZip1Begin(sender, fileName, count, extract);
    };
    unzip_.OnProgress = [this](TObject* sender, uint8_t progressByFile, uint8_t progressByArchive) {
        UnZip1Progress(sender, progressByFile, progressByArchive);
    };
    unzip_.OnDeactivate = [this](TObject* sender) { UnZip1Deactivate(sender); };
    unzip_.OnError = [this](TObject* sender, const std::string& fileName, const std::string& extendedMsg,
                            const std::string& volumeID, int32_t eCode) {
        UnZip1Error(sender, fileName, extendedMsg, volumeID, eCode);
    };
    unzip_.OnEnd = [this](TObject* sender, const std::string& fileName, bool crcPass) {
        UnZip1End(sender, fileName, crcPass);
    };
}

template <typename Action>
void TUpdateController::AtEdge(Action action) {
    try {
        action();
    } catch (const std::exception& error) {
        // A run that ended here (the download's file could not be written)
        // still gets its line.
        if (started_ && !runLogged_) {
            downloadFailure_ = error.what();
            LogEarlyEnd("failed");
        }
        view_.ShowError(error.what());
    }
}

void TUpdateController::FormCreate() {
    AtEdge([this] {
        if (!ProgramFolderUsable()) {
            view_.SetWindowCaption(kWindowCaption);
            return;
        }
        // What others planted in the updater's folder goes out of its way
        // first; then a run killed in the middle of a swap is undone (or
        // finished) before anything else looks at the program folder. What
        // cannot be put right leaves nothing to start or to update.
        const bool secured = SecureUpdateFolder(*installFiles_, TUpdateFolder{programFolder_}).safe;
        const auto recovery = secured ? TUpdateTransaction(*installFiles_, programFolder_).Recover()
                                      : TUpdateTransaction::Recovery::Failed;
        if (recovery == TUpdateTransaction::Recovery::Failed || recovery == TUpdateTransaction::Recovery::Damaged) {
            folderRefused_ = true;
            view_.SetVisible(TUpdaterControl::lblBytes, false);
            ShowRunEnded(TUpdaterControl::labDown, kRecoveryFailedText, false);
            view_.SetWindowCaption(kWindowCaption);
            return;
        }
        started_ = false;
        if (IsProcessRunning(kCompanionProcess)) KillProcessByName(kCompanionProcess);
        view_.SetWindowCaption(kWindowCaption);
    });
}

// A folder the updater cannot write (one that needs administrator rights)
// would fail the update after the companion was stopped: it is found out
// first, and the companion keeps running. A missing folder has its own text
// once the archive is there.
bool TUpdateController::ProgramFolderUsable() {
    if (!platform::DirectoryExists(programFolder_)) return true;
    switch (CheckProgramFolder(*folderAccess_, programFolder_, elevatedRun_)) {
        case TFolderCheck::Writable: return true;
        case TFolderCheck::RestartedElevated:
            folderRefused_ = true;
            view_.RequestTermination();
            return false;
        case TFolderCheck::NotWritable: break;
    }
    folderRefused_ = true;
    // Logged only where the updater's folder is already: nothing may be
    // made in a folder the user could not write.
    if (installFiles_->FolderExists(TUpdateFolder{programFolder_}.Root())) LogEarlyEnd("folder not writable", "check");
    view_.SetVisible(TUpdaterControl::lblBytes, false);
    ShowRunEnded(TUpdaterControl::labDown, kFolderNotWritableText, false);
    return false;
}

void TUpdateController::FormResize() {
    AtEdge([this] {
        const TControlBounds button = view_.Bounds(TUpdaterControl::btnCancel);
        TControlBounds bevel = view_.Bounds(TUpdaterControl::Bevel2);
        bevel.left = 0;
        bevel.top = button.top - 18;
        bevel.width = view_.Bounds(TUpdaterControl::pnlRight).width;
        view_.SetBounds(TUpdaterControl::Bevel2, bevel);

        EmptyItemsUnlessRunning();
        StartStep();
    });
}

void TUpdateController::FormCloseQuery(bool& canClose) {
    btnCloseClick();
    canClose = true;
}

void TUpdateController::btnCancelClick() {
    AtEdge([this] {
        view_.SetCaption(TUpdaterControl::labDown, kCancelPressedText);
        view_.Repaint(TUpdaterControl::labDown);
        view_.SetVisible(TUpdaterControl::labUnzip, false);
        RequestStop();
        view_.SetEnabled(TUpdaterControl::btnCancel, false);
        view_.SetEnabled(TUpdaterControl::btnRedown, true);
    });
}

void TUpdateController::btnRedownClick() {
    AtEdge([this] {
        // Both clicks can arrive in one pump of a running download: the
        // cancelled run must unwind before a new one may start, as the
        // component cannot run twice at once. The button stays enabled.
        if (runActive_) return;
        view_.SetCaption(TUpdaterControl::labDown, kDownloadingText);
        view_.Repaint(TUpdaterControl::labDown);
        view_.SetVisible(TUpdaterControl::labUnzip, false);
        cancelled_ = false;
        started_ = false;
        view_.SetEnabled(TUpdaterControl::btnCancel, true);
        view_.SetEnabled(TUpdaterControl::btnRedown, false);
        EmptyItemsUnlessRunning();
        StartStep();
    });
}

void TUpdateController::btnCloseClick() {
    AtEdge([this] {
        RequestStop();
        view_.RequestTermination();
    });
}

// Cancel and Close stop the run at once, not at the next progress event (a
// stalled server sends none), whichever component is running: the download,
// or the extraction inside its end event, whose stage is then abandoned.
void TUpdateController::RequestStop() {
    cancelled_ = true;
    download_.Stop();
    if (extracting_) unzip_.SetCancel(true);
}

void TUpdateController::WinHTTPDownloadDownloadEnd(TObject* /*sender*/) { StartStep(); }

void TUpdateController::WinHTTPDownloadItemGetHeader(TObject* /*sender*/, TDownLoadItem* item) {
    // What cannot be the file asked for (an error page, a manifest or a
    // signature larger than any, a server filling the disk, an archive of
    // another length than its manifest's) is not stored at all: the item
    // ends without a file.
    if (IsManifestItem(*item)) {
        if (item->StatusCode() / 100 != 2 || static_cast<uint64_t>(item->FileSize()) > release::kMaxManifestBytes)
            item->SetFileSize(0);
    } else if (IsManifestSignatureItem(*item)) {
        if (item->StatusCode() / 100 != 2 ||
            item->FileSize() > static_cast<int32_t>(platform::TSignatureVerifier::kMaxSignatureSize))
            item->SetFileSize(0);
    } else if (manifest_ && item->StatusCode() / 100 != 2) {
        // An error answer: retried or failed by its status, as without a manifest.
        item->SetFileSize(0);
    } else if (item->ByteRange()) {
        // Bytes of another archive than the manifest's are not stored.
        if (!differential_ || !differential_->AnsweredAsAsked(*item)) item->SetFileSize(0);
    } else if (manifest_ && static_cast<uint64_t>(item->FileSize()) != manifest_->archive.length) {
        archiveOffManifest_ = true;
        item->SetFileSize(0);
    }
}

void TUpdateController::WinHTTPDownloadItemDownloadBegin(TObject* /*sender*/, TDownLoadItem* item) {
    itemBytesArrived_ = 0;
    bytesShown_ = item->ResumedFrom();
    progressDisplay_.Restart();
    // The manifest and its signature are a moment's work: the window shows the archive only.
    if (!started_ || !IsArchiveItem(*item)) return;
    // The ranges of the changed entries count as one file.
    if (item->ByteRange() && item->Index() > 0) {
        bytesShown_ = rangesArrived_;
        return;
    }
    const int64_t total = FetchTotal(*item);
    view_.SetVisible(TUpdaterControl::labUnzip, false);
    view_.SetMaximum(TUpdaterControl::pBar, static_cast<int>(total));
    // A continued file counts from the bytes it already holds.
    view_.SetPosition(TUpdaterControl::pBar, item->ResumedFrom());
    view_.SetCaption(TUpdaterControl::lblBytes, KBytes(item->ResumedFrom()) + " / " + KBytes(total) + " KBytes");
    view_.SetVisible(TUpdaterControl::lblBytes, true);
    // An archive the volume cannot hold is not fetched at all.
    // A continued file already holds its first bytes.
    if (!HasSpaceFor(static_cast<uint64_t>(total - item->ResumedFrom()) + kSpaceMarginBytes)) {
        spaceShort_ = true;
        download_.Stop();
        ShowNoSpace(TUpdaterControl::labDown, item->FileName());
    }
    platform::ProcessMessages();
}

void TUpdateController::WinHTTPDownloadItemDownloadProgress(TObject* /*sender*/, TDownLoadItem* item,
                                                            int currentBytes, int /*totalBytes*/) {
    itemBytesArrived_ = currentBytes;
    if (cancelled_) {
        RequestStop();
        return;
    }
    if (!started_) return;
    if (IsArchiveItem(*item)) {
        const int64_t fetched = rangesArrived_ + currentBytes;
        const int64_t total = FetchTotal(*item);
        if (progressDisplay_.Due(fetched >= total)) ShowProgress(fetched, total);
    }
    // Pumped for every chunk all the same: Cancel and Close act at once.
    platform::ProcessMessages();
}

void TUpdateController::ShowProgress(int64_t bytes, int64_t total) {
    bytesShown_ = bytes;
    view_.SetEnabled(TUpdaterControl::btnCancel, true);
    view_.SetPosition(TUpdaterControl::pBar, static_cast<int>(bytes));
    view_.SetCaption(TUpdaterControl::lblBytes, KBytes(bytes) + " / " + KBytes(total) + " KBytes");
}

int64_t TUpdateController::FetchTotal(const TDownLoadItem& item) const {
    return item.ByteRange() && differential_ ? static_cast<int64_t>(differential_->BytesToFetch()) : item.FileSize();
}

void TUpdateController::WinHTTPDownloadItemDownloadEnd(TObject* /*sender*/, TDownLoadItem* item) {
    if (!started_ || cancelled_) return;
    // An item that ended short still shows where it ended.
    if (IsArchiveItem(*item) && itemBytesArrived_ > 0 && rangesArrived_ + itemBytesArrived_ != bytesShown_)
        ShowProgress(rangesArrived_ + itemBytesArrived_, FetchTotal(*item));
    // The window names the archive, whichever way it is fetched.
    const std::string fileName = item->ByteRange() ? ArchiveFileName() : item->FileName();
    if (spaceShort_) {
        platform::RemoveFile(item->FullFileName());
        LogEarlyEnd("no space");
        return;
    }
    // A file that could not be fetched, or stopped short of its size, would
    // overwrite the program with part of an update.
    const bool arrivedWhole = item->FileSize() > 0 && itemBytesArrived_ == item->FileSize();
    const int64_t bytesArrived = itemBytesArrived_;
    bytesReceived_ += std::max<int64_t>(0, bytesArrived - item->ResumedFrom());
    itemBytesArrived_ = 0;
    // A refused certificate and a proxy asking for credentials are no
    // passing trouble, and say so.
    if (item->CertificateRefused() || item->StatusCode() == 407) {
        download_.Stop();
        RemoveManifestFiles();
        LogEarlyEnd(item->CertificateRefused() ? "certificate refused" : "proxy authentication required");
        ShowDownloadFailed(fileName, item->CertificateRefused() ? kCertificateRefusedText : kProxyAuthenticationText);
        return;
    }
    // An archive of another length than its manifest's is no passing trouble either.
    if (IsArchiveItem(*item) && archiveOffManifest_) {
        LogEarlyEnd("archive off its manifest");
        RejectSignature(fileName);
        return;
    }
    // The server ignored the range, or answered with bytes of another file.
    if (item->ByteRange() && (item->RangeRefused() || (item->StatusCode() == 206 && item->FileSize() <= 0)))
        return FetchWholeInstead(item->RangeRefused() ? "range answered with status " + std::to_string(item->StatusCode())
                                                      : "range of another archive");
    if (ScheduleRetry(*item, bytesArrived)) return;
    // The network failed the manifest or its signature after every retry:
    // the run ends as a failed download of the archive does.
    if (!IsArchiveItem(*item) && !arrivedWhole && TDownloadRetry::IsTransient(*item, bytesArrived)) {
        download_.Stop();
        RemoveManifestFiles();
        downloadFailure_ = item->FailureName();
        LogEarlyEnd("download failed", "manifest");
        ShowDownloadFailed(ArchiveFileName(), DownloadFailedText(ArchiveFileName(), *item));
    } else if (IsManifestItem(*item)) {
        ManifestEnded(*item, arrivedWhole);
    } else if (IsManifestSignatureItem(*item)) {
        ManifestSignatureEnded(arrivedWhole);
    } else if (!arrivedWhole) {
        if (item->ByteRange()) platform::RemoveFile(item->FullFileName());
        downloadFailure_ = item->FailureName();
        LogEarlyEnd("download failed");
        ShowDownloadFailed(fileName, DownloadFailedText(fileName, *item));
    } else if (item->ByteRange()) {
        RangeEnded(*item);
    } else if (manifest_ && !ArchiveMatchesManifest(fileName)) {
        LogEarlyEnd("archive off its manifest");
        RejectSignature(fileName);
    } else {
        ExtractArchive(programFolder_ + fileName, fileName);
    }
    platform::ProcessMessages();
}

// The manifest has arrived, or the server has none: it answers 404, or
// refuses it with another 4xx (some hosts answer 403 for a missing file).
// That is an update without a manifest, unless the build has keys: then the
// manifest is what makes the archive trusted at all.
void TUpdateController::ManifestEnded(const TDownLoadItem& item, bool arrivedWhole) {
    manifestArrivedWhole_ = arrivedWhole;
    const bool absent = item.StatusCode() / 100 == 4;
    if (!Signed() && absent) return RemoveManifestFiles();
    if (!arrivedWhole) return RefuseManifest(kManifestRefusedText, "manifest refused");
    // With keys, the decision waits for the signature.
    if (!Signed()) DecideByManifest();
}

void TUpdateController::ManifestSignatureEnded(bool arrivedWhole) {
    if (!arrivedWhole || !manifestArrivedWhole_) return RefuseManifest(kManifestRefusedText, "manifest refused");
    const std::string manifest = programFolder_ + ArchiveFileName() + kManifestSuffix;
    if (!platform::TSignatureVerifier(publicKeysPem_).Verifies(manifest, manifest + kSignatureSuffix))
        return RefuseManifest(kManifestRefusedText, "manifest refused");
    DecideByManifest();
}

// A manifest taken (signed, or offered without keys) decides whether the
// archive is fetched: not when it is another product's or expired, not when
// it would take the program back below a release it had, and not when it is
// the release installed already. Without keys, what does not read as a
// manifest at all (a host's page answering any address with 200) is no
// manifest: the archive goes alone, as from a server without one.
void TUpdateController::DecideByManifest() {
    const std::string path = programFolder_ + ArchiveFileName() + kManifestSuffix;
    const std::optional<std::string> bytes = installFiles_->ReadFile(path, release::kMaxManifestBytes);
    RemoveManifestFiles();
    std::optional<release::ReleaseManifest> manifest;
    if (bytes) manifest = release::ReadManifest(*bytes).manifest;
    if (manifest) {
        manifestBytes_ = *bytes;
        offeredRelease_ = manifest->version.Text();
        // Nothing is fetched unless the plan below says how.
        fetchWay_.clear();
    }
    if (!manifest && !Signed()) return LogEarlyEnd("no manifest read", "manifest");
    if (!manifest || manifest->product != kProduct || manifest->archive.name != ArchiveFileName())
        return RefuseManifest(kManifestRefusedText, "manifest refused");
    const int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    if (now > manifest->expires.UnixSeconds() + kClockToleranceSeconds)
        return RefuseManifest(kManifestExpiredText, "manifest expired");
    const release::InstalledRelease installed =
        LoadInstalledRelease(*installFiles_, TUpdateFolder{programFolder_});
    if (installed.highest && manifest->version < *installed.highest) {
        refusedRelease_ = manifest->version.Text();
        return RefuseManifest(kOlderReleaseText, "older release");
    }
    if (installed.version && manifest->version == *installed.version) return ShowAlreadyInstalled();
    manifest_ = std::move(manifest);
    PlanFetch();
}

void TUpdateController::PlanFetch() {
    differential_.emplace(*installFiles_, TUpdateFolder{programFolder_}, *manifest_);
    if (!differential_->Fallback().empty()) {
        fetchWay_ = "whole (" + differential_->Fallback() + ")";
        differential_.reset();
        return;
    }
    fetchWay_ = "entries (" + differential_->Summary() + ")";
    // The archive queued after the manifest is not fetched.
    download_.Stop();
    if (differential_->NothingToFetch()) return InstallUnchangedRelease();
    nextFetch_ = TNextFetch::Ranges;
}

// Set up for the next run of the download component, once this one has
// stopped: the archive whole, with the manifest already taken.
void TUpdateController::FetchWholeInstead(const std::string& reason) {
    download_.Stop();
    if (differential_) platform::RemoveFile(differential_->ArchivePath());
    differential_.reset();
    rangesArrived_ = 0;
    fetchWay_ = "whole (" + reason + ")";
    nextFetch_ = TNextFetch::Whole;
}

// Once the last range is in, its file becomes the archive of the changed
// entries, unless its bytes are not the entries the manifest describes.
void TUpdateController::RangeEnded(const TDownLoadItem& item) {
    rangesArrived_ += item.FileSize();
    if (item.Index() + 1 < item.Collection()->Count()) return;
    if (const std::string error = differential_->CompleteArchive(); !error.empty())
        return FetchWholeInstead("fetched entries: " + error);
    ExtractArchive(differential_->ArchivePath(), ArchiveFileName());
}

void TUpdateController::InstallUnchangedRelease() {
    view_.SetEnabled(TUpdaterControl::btnCancel, false);
    const std::set<std::string> dropped = FilesTheReleaseDrops();
    if (dropped.empty()) {
        LogEarlyEnd("installed", "");
    } else {
        // Only files to take away: a transaction of an empty stage.
        TUpdateTransaction transaction(*installFiles_, programFolder_);
        transaction.SetRun(RunRecord());
        runLogged_ = true;
        if (!transaction.PrepareStage()) {
            transaction.Abandon(transaction.Failure());
            return ShowExtractionFailed(ArchiveFileName());
        }
        if (transaction.Install(AskRetry(), dropped) != TUpdateTransaction::Result::Installed)
            return ShowExtractionFailed(ArchiveFileName());
    }
    RememberInstalledEntries();
    RecordInstalledRelease();
    FinishInstall();
}

// Files the installed release had, the offered one lacks and the user left
// as they were. Known only when both releases came with a manifest.
std::set<std::string> TUpdateController::FilesTheReleaseDrops() {
    if (!manifest_) return {};
    const TUpdateFolder folder{programFolder_};
    const std::optional<release::ReleaseManifest> installed =
        LoadInstalledManifest(*installFiles_, folder, LoadInstalledRelease(*installFiles_, folder));
    if (!installed) return {};
    TInstalledFileHashes hashes(*installFiles_, folder);
    return DroppedFiles(hashes, *installed, *manifest_);
}

TUpdateTransaction::TRetryQuestion TUpdateController::AskRetry() {
    return [this](const std::string& path) { return view_.AskRetry(std::string(kFileInUseText) + path); };
}

// Nothing more is fetched; the user may try again later, or close.
void TUpdateController::RefuseManifest(const std::string& text, const std::string& result) {
    download_.Stop();
    RemoveManifestFiles();
    LogEarlyEnd(result, "manifest");
    ShowRunRefused(text);
}

// The release offered is the one in place: the program starts as after an
// update, without a byte of the archive fetched.
void TUpdateController::ShowAlreadyInstalled() {
    download_.Stop();
    LogEarlyEnd("up to date", "");
    view_.SetEnabled(TUpdaterControl::btnCancel, false);
    SayThenStartProgram(TUpdaterControl::labDown, kUpToDateText);
}

bool TUpdateController::ArchiveMatchesManifest(const std::string& fileName) const {
    const std::optional<platform::Sha256Digest> digest = platform::Sha256OfFile(programFolder_ + fileName);
    return digest && *digest == manifest_->archive.sha256;
}

// Once the install has committed: a record written before could name a
// release that a crash then rolled back. The manifest goes first, so that a
// crash between the two leaves a manifest of another version than the
// record's, which is not believed.
void TUpdateController::RecordInstalledRelease() {
    const TUpdateFolder folder{programFolder_};
    std::optional<release::ReleaseVersion> version;
    if (manifest_) {
        version = manifest_->version;
        SaveInstalledManifest(*installFiles_, folder, manifestBytes_);
    } else {
        ForgetInstalledManifest(*installFiles_, folder);
    }
    SaveInstalledRelease(*installFiles_, folder, LoadInstalledRelease(*installFiles_, folder).After(version));
}

void TUpdateController::RemoveManifestFiles() {
    const std::string manifest = programFolder_ + ArchiveFileName() + kManifestSuffix;
    for (const std::string& file : {manifest, manifest + kSignatureSuffix}) {
        platform::RemoveFile(file);
        platform::RemoveFile(TResumeState::SideFileName(file));
    }
}

std::string TUpdateController::ArchiveFileName() const {
    TDownLoadItem item;
    item.SetURL(updateUrl_);
    return item.FileName();
}

bool TUpdateController::IsManifestItem(const TDownLoadItem& item) { return item.URL().ends_with(kManifestSuffix); }

bool TUpdateController::IsManifestSignatureItem(const TDownLoadItem& item) {
    return item.URL().ends_with(std::string(kManifestSuffix) + kSignatureSuffix);
}

bool TUpdateController::IsArchiveItem(const TDownLoadItem& item) {
    return !IsManifestItem(item) && !IsManifestSignatureItem(item);
}

// A failure the network may mend is tried again after a wait, unless the
// run's retries are spent; the items after it wait for that attempt.
bool TUpdateController::ScheduleRetry(const TDownLoadItem& item, int64_t bytesArrived) {
    if (!TDownloadRetry::IsTransient(item, bytesArrived)) return false;
    // Progress is file bytes beyond any attempt's before, not an error
    // page's, nor the same part of the file once more: a server that always
    // breaks at the same byte would otherwise be tried for ever. Nor is a
    // trickle below the floor rate, however far it got.
    const std::string key = item.ByteRange() ? item.URL() + "#" + std::to_string(item.ByteRange()->first) : item.URL();
    int64_t& furthest = furthest_[key];
    const bool madeProgress = item.StatusCode() / 100 == 2 &&
                              bytesArrived > std::max<int64_t>(item.ResumedFrom(), furthest) &&
                              item.Failure() != TDownLoadItem::TFailure::TooSlow;
    if (item.StatusCode() / 100 == 2) furthest = std::max(furthest, bytesArrived);
    retryDelay_ = retry_.Next(madeProgress, item.RetryAfter());
    if (!retryDelay_) return false;
    download_.Stop();
    return true;
}

// Pumps the window's messages until the delay is over; false when the user
// cancelled or closed meanwhile.
bool TUpdateController::WaitForRetry(std::chrono::milliseconds delay) {
    view_.SetCaption(TUpdaterControl::labDown, std::string(kRetryingText) + " (" + std::to_string(retry_.Count()) +
                                                   "/" + std::to_string(retry_.Max()) + ")");
    view_.Repaint(TUpdaterControl::labDown);
    view_.SetEnabled(TUpdaterControl::btnCancel, true);
    const auto until = std::chrono::steady_clock::now() + delay;
    for (auto now = std::chrono::steady_clock::now(); !cancelled_ && now < until; now = std::chrono::steady_clock::now()) {
        platform::ProcessMessages();
        const auto step = std::min(std::chrono::duration_cast<std::chrono::milliseconds>(until - now), kRetryWaitStep);
        if (!cancelled_) platform::Sleep(static_cast<uint32_t>(step.count()));
    }
    if (cancelled_) return false;
    view_.SetCaption(TUpdaterControl::labDown, kDownloadingText);
    view_.Repaint(TUpdaterControl::labDown);
    return true;
}

// An archive that is not the one its manifest describes could be anyone's
// program: none of it may reach the program folder, nor stay on the disk
// (nor be continued by a later attempt).
void TUpdateController::RejectSignature(const std::string& fileName) {
    const std::string archive = programFolder_ + fileName;
    platform::RemoveFile(archive);
    platform::RemoveFile(TResumeState::SideFileName(archive));
    ShowRunRefused(fileName + kSignatureRejectedText);
}

void TUpdateController::ShowRunRefused(const std::string& text) {
    view_.SetVisible(TUpdaterControl::lblBytes, false);
    ShowRunEnded(TUpdaterControl::labDown, text);
}

// Nothing runs any more: the text stays, Cancel has nothing to stop, and the
// user may try again (unless trying again cannot help) or close.
void TUpdateController::ShowRunEnded(TUpdaterControl label, const std::string& text, bool canRestart) {
    view_.SetCaption(label, text);
    view_.Repaint(label);
    view_.SetEnabled(TUpdaterControl::btnCancel, false);
    view_.SetEnabled(TUpdaterControl::btnRedown, canRestart);
    view_.SetEnabled(TUpdaterControl::btnClose, true);
}

void TUpdateController::LogEarlyEnd(const std::string& result, const std::string& step) {
    TUpdateTransaction transaction(*installFiles_, programFolder_);
    transaction.SetRun(RunRecord());
    transaction.Log(result, {step, "", 0});
    runLogged_ = true;
}

// What every line of this run says besides its outcome.
TUpdateRunRecord TUpdateController::RunRecord() const {
    TUpdateRunRecord record;
    record.url = updateUrl_;
    record.bytesReceived = bytesReceived_;
    record.fetch = fetchWay_;
    record.installedRelease = installedRelease_;
    record.offeredRelease = offeredRelease_;
    record.refusedRelease = refusedRelease_;
    record.downloadFailure = downloadFailure_;
    return record;
}

void TUpdateController::ExtractArchive(const std::string& archive, const std::string& fileName) {
    view_.SetEnabled(TUpdaterControl::btnCancel, false);
    view_.SetCaption(TUpdaterControl::labDown, fileName + kDownloadedText);
    view_.Repaint(TUpdaterControl::labDown);
    view_.SetVisible(TUpdaterControl::lblBytes, false);
    view_.SetPosition(TUpdaterControl::Gauge1, 0);
    view_.SetPosition(TUpdaterControl::Gauge2, 0);
    view_.SetVisible(TUpdaterControl::labUnzip, true);
    view_.SetCaption(TUpdaterControl::labUnzip, fileName + kExtractingText);
    view_.Repaint(TUpdaterControl::labUnzip);

    TUpdateTransaction transaction(*installFiles_, programFolder_);
    transaction.SetRun(RunRecord());
    runLogged_ = true;
    unzip_.SetArchiveFile(archive);
    unzip_.SetConfirmOverwrites(false);
    unzip_.SetOverwriteMode(omOverwrite);
    unzip_.FileSpec().clear();
    unzip_.FileSpec().push_back("*.*");
    unzip_.SetExtractDir(transaction.Folder().Stage());

    if (!platform::DirectoryExists(programFolder_)) {
        view_.SetCaption(TUpdaterControl::labDown, programFolder_ + kNoProgramFolderText);
        view_.Repaint(TUpdaterControl::labDown);
        LogEarlyEnd("no program folder", "extract");
        platform::RemoveFile(archive);
        platform::Sleep(kNoProgramFolderPauseMs);
        return;
    }
    TInstallFailure failure;
    bool installed = false;
    if (ExtractIntoStage(transaction, failure)) {
        const auto result = transaction.Install(AskRetry(), FilesTheReleaseDrops());
        installed = result == TUpdateTransaction::Result::Installed;
        if (installed) {
            RememberInstalledEntries();
            RecordInstalledRelease();
            FinishInstall();
        }
    } else if (failure.step == "space") {
        transaction.Abandon(failure);
        ShowNoSpace(TUpdaterControl::labUnzip, fileName);
    } else {
        transaction.Abandon(failure);
    }
    platform::Sleep(kAfterExtractionPauseMs);
    platform::RemoveFile(archive);
    if (!installed && failure.step != "space") ShowExtractionFailed(fileName);
}

// Every entry must come out whole into the stage, and the volume must hold
// them all before the first one is written.
bool TUpdateController::ExtractIntoStage(TUpdateTransaction& transaction, TInstallFailure& failure) {
    if (!IsZipArchive(unzip_.ArcType())) {
        failure = {"extract", "", 0};
        return false;
    }
    if (!transaction.PrepareStage()) {
        failure = transaction.Failure();
        return false;
    }
    entryFailure_ = {};
    const TUnBaseHeaderObj entries = unzip_.ListEntries();
    uint64_t needed = kSpaceMarginBytes;
    for (const TUnBaseHeader& entry : entries) needed += entry.UnpackedSize + kSpaceMarginPerEntry;
    if (!entryFailure_.step.empty()) {
        failure = entryFailure_;
        return false;
    }
    if (!HasSpaceFor(needed)) {
        failure = {"space", "", static_cast<int64_t>(needed)};
        return false;
    }
    extractionEnded_ = false;
    gaugesBehind_ = false;
    gaugeDisplay_.Restart();
    stageFolder_ = transaction.Folder().Stage();
    {
        TFlagScope extracting(extracting_);
        unzip_.ExtractFiles();
    }
    stageFolder_.clear();
    if (!entryFailure_.step.empty()) {
        failure = entryFailure_;
        return false;
    }
    if (!extractionEnded_) {
        failure = {"extract", "", 0};
        return false;
    }
    // What the swap puts in place must be the manifest's entries, byte for
    // byte: the archive's digest proves it the publisher's, not each entry.
    if (differential_) return differential_->StageMatchesManifest(transaction.Folder().Stage(), failure);
    if (!manifest_ || manifest_->entries.empty()) return true;
    wholeStageCheck_.emplace(*installFiles_);
    return wholeStageCheck_->Holds(transaction.Folder().Stage(), manifest_->entries, failure);
}

// The digests of the entries just put in place, as the stage check read
// them; an install checked by no manifest leaves no cache to trust.
void TUpdateController::RememberInstalledEntries() {
    const TUpdateFolder folder{programFolder_};
    if (differential_) {
        differential_->RememberInstalled();
    } else if (wholeStageCheck_) {
        TInstalledFileHashes hashes(*installFiles_, folder);
        wholeStageCheck_->RememberInstalled(hashes);
        hashes.Save();
    } else {
        TInstalledFileHashes::Clear(*installFiles_, folder);
    }
}

bool TUpdateController::HasSpaceFor(uint64_t bytes) const {
    const int64_t free = installFiles_->FreeSpace(programFolder_);
    return free < 0 || static_cast<uint64_t>(free) >= bytes;
}

// Nothing was written: the user may make room and try again, or close.
void TUpdateController::ShowNoSpace(TUpdaterControl label, const std::string& fileName) {
    ShowRunEnded(label, fileName + kNoSpaceText);
}

void TUpdateController::ShowDownloadFailed(const std::string& fileName, const std::string& text) {
    // A partial archive the next attempt can continue stays, with its note.
    const std::string archive = programFolder_ + fileName;
    if (!platform::FileExists(TResumeState::SideFileName(archive))) platform::RemoveFile(archive);
    ShowRunRefused(text);
}

// The window must not go on saying it is extracting, and the user may try again.
void TUpdateController::ShowExtractionFailed(const std::string& fileName) {
    ShowRunEnded(TUpdaterControl::labUnzip, fileName + kExtractFailedText);
}

void TUpdateController::UnZip1Begin(TObject* /*sender*/, const std::string& fileName, int32_t /*count*/,
                                    bool& extract) {
    view_.SetEnabled(TUpdaterControl::btnCancel, false);
    view_.SetEnabled(TUpdaterControl::btnRedown, false);
    view_.SetEnabled(TUpdaterControl::btnClose, false);
    // The updater's own folder is reserved: an entry there could forge a
    // journal or the log.
    const std::string reserved = stageFolder_ + kUpdateFolderName;
    if (!stageFolder_.empty() && fileName.size() > reserved.size() &&
        platform::EqualsIgnoringAsciiCase(std::string_view(fileName).substr(0, reserved.size()), reserved) &&
        (fileName[reserved.size()] == '/' || fileName[reserved.size()] == platform::kPathSeparator)) {
        extract = false;
        if (entryFailure_.step.empty()) entryFailure_ = {"refused", fileName.substr(stageFolder_.size()), 0};
    }
}

void TUpdateController::UnZip1Error(TObject* /*sender*/, const std::string& fileName, const std::string& /*extendedMsg*/,
                                    const std::string& /*volumeID*/, int32_t eCode) {
    if (entryFailure_.step.empty()) entryFailure_ = {"extract", RelativeTo(stageFolder_, fileName), eCode};
}

void TUpdateController::UnZip1End(TObject* /*sender*/, const std::string& fileName, bool crcPass) {
    if (!crcPass && entryFailure_.step.empty()) entryFailure_ = {"crc", RelativeTo(stageFolder_, fileName), 0};
}

// The extractor reports every block and pumps the messages itself; painting
// both gauges as often would cost more than the extraction, so they follow
// at most once an interval, and always at the archive's end.
void TUpdateController::UnZip1Progress(TObject* /*sender*/, uint8_t progressByFile, uint8_t progressByArchive) {
    filePercent_ = progressByFile;
    archivePercent_ = progressByArchive;
    gaugesBehind_ = true;
    if (!gaugeDisplay_.Due(progressByArchive >= 100)) return;
    ShowGauges();
    platform::ProcessMessages();
}

void TUpdateController::ShowGauges() {
    gaugesBehind_ = false;
    view_.SetPosition(TUpdaterControl::Gauge1, filePercent_);
    view_.SetPosition(TUpdaterControl::Gauge2, archivePercent_);
}

// The run has ended; the program starts once the swap put it in place.
void TUpdateController::UnZip1Deactivate(TObject* /*sender*/) {
    extractionEnded_ = true;
    if (gaugesBehind_) ShowGauges();
}

void TUpdateController::FinishInstall() { SayThenStartProgram(TUpdaterControl::labUnzip, kExtractedText); }

// The text stays in view for the pause before the program starts and the
// updater ends.
void TUpdateController::SayThenStartProgram(TUpdaterControl label, const char* text) {
    view_.SetCaption(label, text);
    view_.Repaint(label);
    platform::Sleep(kBeforeLaunchPauseMs);
    const std::string program = programFolder_ + kProgram;
    if (!platform::FileExists(program)) return;
    platform::ShellOpen(program);
    view_.RequestTermination();
}

// The start step when called without a sender (resize, restart), the end
// step when the component's run ends.
void TUpdateController::StartStep() {
    if (folderRefused_) return;
    if (cancelled_) {
        if (started_ && !runLogged_) LogEarlyEnd("cancelled", "");
        // Changed entries fetched so far are of no use to a later run.
        platform::RemoveFile(TUpdateFolder{programFolder_}.FetchedEntries());
        WriteIniValue("Vkr", "Update", "Work", "False");
        view_.SetCaption(TUpdaterControl::labDown, kCancelledRunEndedText);
        view_.Repaint(TUpdaterControl::labDown);
        platform::Sleep(kCancelledRunPauseMs);
    }
    if (cancelled_ || started_) return;
    // The manifest comes first: it decides whether the archive is fetched.
    view_.AddQueueRow(updateUrl_ + kManifestSuffix);
    if (Signed()) view_.AddQueueRow(updateUrl_ + kManifestSuffix + kSignatureSuffix);
    view_.AddQueueRow(updateUrl_);
    started_ = true;
    if (view_.QueueRowCount() > 0) StartDownload();
}

void TUpdateController::StartDownload() {
    view_.SetVisible(TUpdaterControl::labUnzip, false);
    if (view_.QueueRowCount() == 0) return;
    retry_.Reset();
    furthest_.clear();
    spaceShort_ = false;
    bytesReceived_ = 0;
    runLogged_ = false;
    offeredRelease_.clear();
    refusedRelease_.clear();
    downloadFailure_.clear();
    const release::InstalledRelease installed = LoadInstalledRelease(*installFiles_, TUpdateFolder{programFolder_});
    installedRelease_ = installed.version ? installed.version->Text() : std::string();
    TFlagScope running(runActive_);
    for (;;) {
        QueueRows();
        itemBytesArrived_ = 0;
        manifestArrivedWhole_ = false;
        manifest_.reset();
        manifestBytes_.clear();
        archiveOffManifest_ = false;
        differential_.reset();
        wholeStageCheck_.reset();
        fetchWay_ = "whole (no manifest)";
        rangesArrived_ = 0;
        retryDelay_.reset();
        download_.Start();
        // A run stopped to fetch the changed entries, or the whole archive
        // after all, goes on with them.
        while (nextFetch_ != TNextFetch::None && !retryDelay_ && !cancelled_) {
            QueueNextFetch();
            download_.Start();
        }
        nextFetch_ = TNextFetch::None;
        if (!retryDelay_ || cancelled_) return;
        // Cancelled or closed while waiting: the run ends as a cancelled one.
        if (!WaitForRetry(*retryDelay_)) return StartStep();
    }
}

void TUpdateController::QueueRows() {
    auto& items = download_.DownLoadItems();
    items.Clear();
    // A restart queues the same URL again; it is fetched once per run.
    for (int row = 0; row < view_.QueueRowCount(); ++row) {
        const std::string url = view_.QueueRowCaption(row);
        bool queuedBefore = false;
        for (int earlier = 0; earlier < row; ++earlier) queuedBefore |= view_.QueueRowCaption(earlier) == url;
        if (queuedBefore) continue;
        TDownLoadItem* item = items.Add();
        item->SetURL(url);
        item->Data = view_.QueueRow(row);
        item->SetLocalDir(programFolder_);
    }
}

void TUpdateController::QueueNextFetch() {
    const TNextFetch next = std::exchange(nextFetch_, TNextFetch::None);
    auto& items = download_.DownLoadItems();
    void* archiveRow = nullptr;
    for (int row = 0; row < view_.QueueRowCount(); ++row)
        if (view_.QueueRowCaption(row) == updateUrl_) archiveRow = view_.QueueRow(row);
    if (next == TNextFetch::Ranges) return differential_->QueueRanges(items, updateUrl_, archiveRow);
    items.Clear();
    TDownLoadItem* item = items.Add();
    item->SetURL(updateUrl_);
    item->Data = archiveRow;
    item->SetLocalDir(programFolder_);
}

// A resize can arrive while the component is still using its current item, so
// the collection is only emptied between runs.
void TUpdateController::EmptyItemsUnlessRunning() {
    if (!runActive_) download_.DownLoadItems().Clear();
}

std::string TUpdateController::KBytes(int64_t bytes) const { return FormatKBytes(bytes, view_.ThousandsSeparator()); }
