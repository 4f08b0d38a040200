#pragma once

#include "download/download_item.h"
#include "download/file_writer.h"
#include "download/http_adapter.h"
#include "download/resume_state.h"
#include "platform/object.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

using TOnDownloadBegin = std::function<void(TObject* sender)>;
using TOnDownloadEnd = std::function<void(TObject* sender)>;
using TOnDownloadStop = std::function<void(TObject* sender)>;
using TOnItemDownloadBegin = std::function<void(TObject* sender, TDownLoadItem* item)>;
using TOnItemDownloadProgress =
    std::function<void(TObject* sender, TDownLoadItem* item, int32_t currentBytes, int32_t totalBytes)>;
using TOnItemDownloadEnd = std::function<void(TObject* sender, TDownLoadItem* item)>;
using TOnItemGetHeader = std::function<void(TObject* sender, TDownLoadItem* item)>;

// Fetches every item of DownLoadItems over HTTP into its local file, one after
// the other, synchronously: all events fire from inside Start on the caller's
// thread. Problems are reported in ErrorMsg, and each item tells why its
// transfer failed (TDownLoadItem::Failure); only a local file that cannot be
// created or written raises (EInOutError) out of Start. Items with a byte
// range ask for those bytes only and append them to their file; consecutive
// items share a connection the server keeps alive.
class TWinHTTPDownload : public TObject {
public:
    TWinHTTPDownload();
    ~TWinHTTPDownload() override;

    const std::string& Version() const { return version_; }
    const std::string& Agent() const { return agent_; }
    void SetAgent(const std::string& value) { agent_ = value; }
    const std::string& ErrorMsg() const { return errorMsg_; }
    TDownLoadItems& DownLoadItems() { return *downLoadItems_; }

    TOnDownloadBegin OnDownloadBegin;
    TOnDownloadEnd OnDownloadEnd;
    TOnItemDownloadBegin OnItemDownloadBegin;
    TOnItemDownloadProgress OnItemDownloadProgress;
    TOnItemDownloadEnd OnItemDownloadEnd;
    TOnItemGetHeader OnItemGetHeader;
    TOnDownloadStop OnDownloadStop;

    void Start();
    // Asks a running Start to stop at its next check: before each chunk,
    // before the last partial chunk, and after each item. A wait for the
    // network, which pumps messages, ends at once: that open or read fails.
    void Stop() { stopRequested_ = true; }

    // How long connecting, and waiting for any byte, may take before the
    // open or the read counts as failed, and the slowest a transfer may go
    // (see THttpTimeouts). Not a published property: tests shorten them.
    void SetTimeouts(THttpTimeouts timeouts) { timeouts_ = timeouts; }

    // With resuming on, a transfer that breaks or is stopped keeps its partial
    // file and notes beside it (TResumeState's side file) where it came from
    // and the server's validators; the next attempt asks only for the rest,
    // if the server still has that very file, and starts over otherwise.
    // Off by default: each attempt then starts from byte 0.
    // A PEM bundle of certificate authorities trusted in place of the
    // system's (libcurl builds; WinINet trusts the Windows store only). Not
    // a published property: tests trust a CA of their own.
    void SetCertificateAuthorityFile(const std::string& file) { caFile_ = file; }

    bool ResumePartialFiles() const { return resume_; }
    void SetResumePartialFiles(bool value) { resume_ = value; }

private:
    // How an item's transfer left its file, for the side file.
    struct TTransferOutcome {
        bool fileOpened = false;
        int64_t stored = 0;  // bytes in the file, a continued partial's included
        TResumeState state;  // url and validators of the response stored
    };

    void DownloadItem(THttpSession& session, TDownLoadItem& item);
    void TransferItem(THttpSession& session, TDownLoadItem& item, std::unique_ptr<THttpRequest>& request,
                      TFileWriter& file, TTransferOutcome& outcome);
    bool OpenWhole(THttpSession& session, TDownLoadItem& item, std::unique_ptr<THttpRequest>& request, int64_t& held);
    bool OpenRange(THttpSession& session, TDownLoadItem& item, std::unique_ptr<THttpRequest>& request);
    std::optional<TResumeState> UsablePartial(const TDownLoadItem& item) const;
    void RecordPartial(const TDownLoadItem& item, const TTransferOutcome& outcome, bool failed) const;
    void ReportOpenFailure(const THttpSession& session, TDownLoadItem& item);
    static bool ContinuesPartial(const THttpRequest& request, int64_t held);
    static std::string QueryHeader(const THttpRequest& request, const char* name);
    static void Store(TFileWriter& file, const char* data, int64_t count);

    std::string version_;
    bool stopRequested_;
    std::string agent_;
    std::string errorMsg_;
    std::unique_ptr<TDownLoadItems> downLoadItems_;
    THttpTimeouts timeouts_;
    bool resume_ = false;
    std::string caFile_;
};
