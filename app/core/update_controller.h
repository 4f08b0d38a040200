#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "app/core/differential_fetch.h"
#include "app/core/download_retry.h"
#include "app/core/program_folder_access.h"
#include "app/core/progress_throttle.h"
#include "app/core/updater_view.h"
#include "install/install_file_system.h"
#include "install/stage_check.h"
#include "install/update_transaction.h"
#include "release/release_manifest.h"

class TObject;
class TDownLoadItem;
class TUnZip;
class TWinHTTPDownload;

// The logic behind the updater window: reacts to the window's notifications,
// its buttons and the events of the download and extraction components, and
// strings them into the update run: download, extract into the staging
// folder, swap the new files in all or nothing, start the program. It drives
// the window only through TUpdaterView.
//
// The entry points the window calls (Form*, btn*) are the edges where errors
// stop: an exception is shown in the view's error box and the window stays as
// it is. The download handlers run inside the component's Start, so their
// errors travel up to the edge that started the run.
class TUpdateController {
public:
    // `updateUrl` is queued as given (no scheme: the download item adds it);
    // `programFolder` ends in the path separator, receives the download and
    // the extracted files, and holds the program started at the end.
    // The release manifest is fetched first from beside the archive (the URL
    // plus ".manifest"): it decides whether the archive is fetched at all and
    // what it must be (its length and SHA-256). With publisher's keys (one or
    // more PEM blocks) the manifest's signature (".manifest.sig") must verify
    // with one of them, and a run without a manifest installs nothing;
    // without keys a manifest the server offers is taken as it is, and a
    // server without one gets the archive alone.
    TUpdateController(TUpdaterView& view, TWinHTTPDownload& download, TUnZip& unzip, std::string updateUrl,
                      std::string programFolder, std::string publicKeysPem = {});
    TUpdateController(const TUpdateController&) = delete;
    TUpdateController& operator=(const TUpdateController&) = delete;

    // Retries of a download that failed on the way (none unless set); set
    // before the first resize.
    void SetRetryPolicy(TRetryPolicy policy) { retry_ = TDownloadRetry(policy); }
    // The shortest time between two progress displays of an item (its last
    // bytes are always shown); 0 shows every progress event.
    // The same holds for the two extraction gauges, whose final state is
    // always shown.
    void SetProgressInterval(std::chrono::milliseconds interval) {
        progressDisplay_.SetInterval(interval);
        gaugeDisplay_.SetInterval(interval);
    }
    // The clock both intervals are measured on; tests set their own.
    void SetProgressClock(const TProgressThrottle::Clock& clock) {
        progressDisplay_.SetClock(clock);
        gaugeDisplay_.SetClock(clock);
    }

    // Window notifications.
    void FormCreate();
    void FormResize();
    void FormCloseQuery(bool& canClose);
    void btnCancelClick();
    void btnRedownClick();
    void btnCloseClick();

    // Download component events.
    void WinHTTPDownloadDownloadEnd(TObject* sender);
    void WinHTTPDownloadItemGetHeader(TObject* sender, TDownLoadItem* item);
    void WinHTTPDownloadItemDownloadBegin(TObject* sender, TDownLoadItem* item);
    void WinHTTPDownloadItemDownloadProgress(TObject* sender, TDownLoadItem* item, int currentBytes,
                                             int totalBytes);
    void WinHTTPDownloadItemDownloadEnd(TObject* sender, TDownLoadItem* item);

    // Extraction component events.
    void UnZip1Begin(TObject* sender, const std::string& fileName, int32_t count, bool& extract);
    void UnZip1Progress(TObject* sender, uint8_t progressByFile, uint8_t progressByArchive);
    void UnZip1Deactivate(TObject* sender);
    void UnZip1Error(TObject* sender, const std::string& fileName, const std::string& extendedMsg,
                     const std::string& volumeID, int32_t eCode);
    void UnZip1End(TObject* sender, const std::string& fileName, bool crcPass);

    // The file operations of the install; tests put faults in them.
    void SetInstallFileSystem(TInstallFileSystem& files) { installFiles_ = &files; }
    // The program folder's checks before anything is stopped; tests put a
    // fake in place. Both are set before FormCreate.
    void SetFolderAccess(TFolderAccess& access) { folderAccess_ = &access; }
    // This run was started with administrator rights already: it is not restarted again.
    void SetElevatedRun(bool elevatedRun) { elevatedRun_ = elevatedRun; }

    bool Started() const { return started_; }
    bool Cancelled() const { return cancelled_; }
    // True while the download component's Start is on the stack.
    bool RunActive() const { return runActive_; }

    static constexpr const char* kWindowCaption = "Quendal Design 설치하기";
    static constexpr const char* kDownloadingText = "설치 파일을 다운받고 있습니다";
    // Followed by " (n/max)".
    static constexpr const char* kRetryingText = "연결이 끊어져 다시 시도하고 있습니다";
    static constexpr const char* kProxyAuthenticationText = "프록시 인증이 필요합니다.";
    static constexpr const char* kCertificateRefusedText = "서버의 인증서를 확인할 수 없습니다.";
    static constexpr const char* kCancelPressedText = "다운로드가 중지되었습니다";
    static constexpr const char* kCancelledRunEndedText = "다운로드가 중지 되었습니다";
    static constexpr const char* kCompanionProcess = "QuendalM.exe";
    static constexpr const char* kProgram = "Quendal.exe";
    // Texts that follow the archive's file name.
    static constexpr const char* kDownloadedText = "을 다운받았습니다.";
    static constexpr const char* kDownloadFailedText = "을 다운받지 못했습니다.";
    // Follows kDownloadFailedText when the last attempt timed out or went below the floor rate.
    static constexpr const char* kServerSilentText = " 서버가 응답하지 않습니다.";
    static constexpr const char* kExtractingText = "의 압축을 풀고 있는 중입니다....";
    static constexpr const char* kExtractFailedText = "의 압축을 풀 수 없습니다.";
    static constexpr const char* kSignatureRejectedText = "의 서명을 확인할 수 없습니다.";
    // What the manifest may say instead of letting the archive be fetched.
    static constexpr const char* kManifestRefusedText = "업데이트 정보를 확인할 수 없습니다.";
    static constexpr const char* kManifestExpiredText = "업데이트 정보의 유효 기간이 지났습니다.";
    static constexpr const char* kOlderReleaseText = "설치된 버전보다 오래된 업데이트입니다.";
    static constexpr const char* kUpToDateText = "이미 최신 버전입니다.";
    static constexpr const char* kProduct = "Quendal";
    static constexpr const char* kManifestSuffix = ".manifest";
    static constexpr const char* kSignatureSuffix = ".sig";
    // A manifest that expired this long ago is still taken: the user's clock
    // may be somewhat off.
    static constexpr int64_t kClockToleranceSeconds = 3600;
    // Follows the program folder.
    static constexpr const char* kNoProgramFolderText = " 폴더가 존재하지 않아서 압축을 풀 수 없습니다....";
    static constexpr const char* kExtractedText = "압축을 풀었습니다. 설치를 진행합니다.";
    // Follows the archive's file name.
    static constexpr const char* kNoSpaceText = "을 설치할 공간이 부족합니다.";
    // Followed by the path of a file another program holds.
    static constexpr const char* kFileInUseText = "다음 파일을 사용 중인 프로그램을 닫은 뒤 다시 시도하세요:\n";
    static constexpr const char* kFolderNotWritableText =
        "프로그램 폴더에 쓸 수 없습니다. 관리자 권한으로 다시 실행하세요.";
    // A run killed in the middle of an install could not be undone: the
    // program folder may be mixed, so nothing is started or fetched.
    static constexpr const char* kRecoveryFailedText =
        "중단된 업데이트를 되돌리지 못했습니다. 프로그램을 다시 설치하세요.";

private:
    template <typename Action>
    void AtEdge(Action action);

    void StartStep();
    void StartDownload();
    // The manifest, its signature and the archive, as the queue lists them.
    void QueueRows();
    // What the manifest's items decided to fetch next, if not the archive
    // already queued after them.
    void QueueNextFetch();
    // Decides how the release is fetched: by its changed entries when the
    // manifest lists them and most of the archive is unchanged.
    void PlanFetch();
    // A range answer that is not what was asked, or bytes that are not the
    // entries: the archive is fetched whole after all.
    void FetchWholeInstead(const std::string& reason);
    void RangeEnded(const TDownLoadItem& item);
    // Every entry is in place already: nothing is fetched; files the release
    // drops are taken away, and the release is recorded.
    void InstallUnchangedRelease();
    std::set<std::string> FilesTheReleaseDrops();
    TUpdateTransaction::TRetryQuestion AskRetry();
    void EmptyItemsUnlessRunning();
    // Extracts `archive` into the stage and swaps its files in; `fileName`
    // is the archive's name as the window shows it.
    void ExtractArchive(const std::string& archive, const std::string& fileName);
    // Extracts into the stage; the failure, if an entry did not come out whole.
    bool ExtractIntoStage(TUpdateTransaction& transaction, TInstallFailure& failure);
    bool HasSpaceFor(uint64_t bytes) const;
    void RememberInstalledEntries();
    // Logs a run that ended before anything was extracted.
    void LogEarlyEnd(const std::string& result, const std::string& step = "download");
    TUpdateRunRecord RunRecord() const;
    void ShowNoSpace(TUpdaterControl label, const std::string& fileName);
    void FinishInstall();
    void SayThenStartProgram(TUpdaterControl label, const char* text);
    void RequestStop();
    void ShowProgress(int64_t bytes, int64_t total);
    // The bytes the window counts for this item: the archive's, or the
    // ranges' of the changed entries added up.
    int64_t FetchTotal(const TDownLoadItem& item) const;
    void ShowGauges();
    bool ScheduleRetry(const TDownLoadItem& item, int64_t bytesArrived);
    bool WaitForRetry(std::chrono::milliseconds delay);
    void ShowDownloadFailed(const std::string& fileName, const std::string& text);
    void ShowExtractionFailed(const std::string& fileName);
    // False when the run must not go on: the program folder cannot be written.
    bool ProgramFolderUsable();
    void RejectSignature(const std::string& fileName);
    // The manifest's items end; false when the run stops there.
    void ManifestEnded(const TDownLoadItem& item, bool arrivedWhole);
    void ManifestSignatureEnded(bool arrivedWhole);
    void DecideByManifest();
    void RefuseManifest(const std::string& text, const std::string& result);
    void ShowAlreadyInstalled();
    bool ArchiveMatchesManifest(const std::string& fileName) const;
    // Once an install committed: what the next run compares with (the
    // installed files' digests, the release's manifest), then the release.
    void RecordInstalledRelease();
    void RemoveManifestFiles();
    // In the download's label, with the byte counter hidden.
    void ShowRunRefused(const std::string& text);
    void ShowRunEnded(TUpdaterControl label, const std::string& text, bool canRestart = true);
    static bool IsManifestItem(const TDownLoadItem& item);
    static bool IsManifestSignatureItem(const TDownLoadItem& item);
    static bool IsArchiveItem(const TDownLoadItem& item);
    // The archive's file name, derived as the download item derives it.
    std::string ArchiveFileName() const;
    bool Signed() const { return !publicKeysPem_.empty(); }
    std::string KBytes(int64_t bytes) const;

    TUpdaterView& view_;
    TWinHTTPDownload& download_;
    TUnZip& unzip_;
    const std::string updateUrl_;
    const std::string programFolder_;
    const std::string publicKeysPem_;
    bool started_ = false;
    bool cancelled_ = false;
    bool runActive_ = false;
    bool extracting_ = false;  // the extractor's ExtractFiles is on the stack
    // The byte count of the item's latest progress event in this run: only
    // an item that arrived whole is extracted.
    int64_t itemBytesArrived_ = 0;
    // Set by the extractor's end-of-run event.
    bool extractionEnded_ = false;
    // Set when the volume cannot hold the archive announced in this run.
    bool spaceShort_ = false;
    // The first entry of the run that did not come out whole.
    TInstallFailure entryFailure_;
    std::string stageFolder_;  // of the running extraction
    TInstallFileSystem defaultInstallFiles_;
    TInstallFileSystem* installFiles_ = &defaultInstallFiles_;
    // Set at the manifest item's end of this run when it arrived whole.
    bool manifestArrivedWhole_ = false;
    // The manifest this attempt goes by, once it was taken: the archive must
    // be what it says.
    std::optional<release::ReleaseManifest> manifest_;
    // Its bytes, kept beside the installed release once it is in place.
    std::string manifestBytes_;
    // Set when the server announced an archive of another length than the
    // manifest's: none of it is read.
    bool archiveOffManifest_ = false;
    // The changed entries this attempt fetches by range, once planned.
    std::optional<TDifferentialFetch> differential_;
    // The whole archive's stage as checked against the manifest's entries.
    std::optional<TStageCheck> wholeStageCheck_;
    // How this attempt fetches the release and why, for the log.
    std::string fetchWay_;
    // The rest of the run's line in the log: the bytes received in all its
    // attempts, the releases installed, offered and refused, why the
    // download failed, and whether the line was written.
    int64_t bytesReceived_ = 0;
    std::string installedRelease_;
    std::string offeredRelease_;
    std::string refusedRelease_;
    std::string downloadFailure_;
    bool runLogged_ = false;
    enum class TNextFetch { None, Ranges, Whole };
    // Set inside a run that was stopped to fetch something else next.
    TNextFetch nextFetch_ = TNextFetch::None;
    // The bytes of the ranges that arrived before the current one.
    int64_t rangesArrived_ = 0;
    TDownloadRetry retry_;
    TFolderAccess defaultFolderAccess_;
    TFolderAccess* folderAccess_ = &defaultFolderAccess_;
    bool elevatedRun_ = false;
    // Set when the program folder cannot be written, or a killed install
    // could not be undone: nothing is fetched or started.
    bool folderRefused_ = false;
    TProgressThrottle progressDisplay_;
    int64_t bytesShown_ = 0;  // the byte count the window shows for the current item
    TProgressThrottle gaugeDisplay_;
    // The extractor's latest percentages, and whether the gauges show them.
    uint8_t filePercent_ = 0;
    uint8_t archivePercent_ = 0;
    bool gaugesBehind_ = false;
    // The furthest byte each URL's file reached in this run: an attempt made
    // progress only when it got beyond it.
    std::map<std::string, int64_t> furthest_;
    // Set by an item's end when the run is to be tried again after this wait.
    std::optional<std::chrono::milliseconds> retryDelay_;
};
