#pragma once

#include <cstdint>
#include <string>

#include "app/updater_view.h"

class TObject;
class TDownLoadItem;
class TWinHTTPDownload;

// The logic behind the updater window: reacts to the window's notifications,
// its buttons and the download component's events, and strings them into the
// update run. It drives the window only through TUpdaterView.
//
// The entry points the window calls (Form*, btn*) are the edges where errors
// stop: an exception is shown in the view's error box and the window stays as
// it is. The download handlers run inside the component's Start, so their
// errors travel up to the edge that started the run.
class TUpdateController {
public:
    // `updateUrl` is queued as given (no scheme: the download item adds it);
    // `programFolder` ends in the path separator and receives the download.
    TUpdateController(TUpdaterView& view, TWinHTTPDownload& download, std::string updateUrl,
                      std::string programFolder);
    TUpdateController(const TUpdateController&) = delete;
    TUpdateController& operator=(const TUpdateController&) = delete;

    // Window notifications.
    void FormCreate();
    void FormResize();
    void FormCloseQuery(bool& canClose);
    void btnCancelClick();
    void btnRedownClick();
    void btnCloseClick();

    // Download component events.
    void WinHTTPDownloadDownloadEnd(TObject* sender);
    void WinHTTPDownloadItemDownloadBegin(TObject* sender, TDownLoadItem* item);
    void WinHTTPDownloadItemDownloadProgress(TObject* sender, TDownLoadItem* item, int currentBytes,
                                             int totalBytes);

    bool Started() const { return started_; }
    bool Cancelled() const { return cancelled_; }
    // True while the download component's Start is on the stack.
    bool RunActive() const { return runActive_; }

    static constexpr const char* kWindowCaption = "Quendal Design 설치하기";
    static constexpr const char* kDownloadingText = "설치 파일을 다운받고 있습니다";
    static constexpr const char* kCancelPressedText = "다운로드가 중지되었습니다";
    static constexpr const char* kCancelledRunEndedText = "다운로드가 중지 되었습니다";
    static constexpr const char* kCompanionProcess = "QuendalM.exe";

private:
    template <typename Action>
    void AtEdge(Action action);

    void StartStep();
    void StartDownload();
    void EmptyItemsUnlessRunning();
    std::string KBytes(int64_t bytes) const;

    TUpdaterView& view_;
    TWinHTTPDownload& download_;
    const std::string updateUrl_;
    const std::string programFolder_;
    bool started_ = false;
    bool cancelled_ = false;
    bool runActive_ = false;
};
