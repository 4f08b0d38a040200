#pragma once

#include "download/download_item.h"
#include "download/file_writer.h"
#include "download/http_transfer.h"
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
// thread. Problems are reported in ErrorMsg; only a local file that cannot be
// created or written raises (EInOutError) out of Start.
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
    // open or the read counts as failed. Not a published property: tests
    // shorten it.
    void SetTimeouts(THttpTimeouts timeouts) { timeouts_ = timeouts; }

private:
    void DownloadItem(THttpSession& session, TDownLoadItem& item);
    void TransferItem(THttpSession& session, TDownLoadItem& item, std::unique_ptr<THttpRequest>& request,
                      TFileWriter& file);
    static std::string QueryHeader(const THttpRequest& request, const char* name);
    static void Store(TFileWriter& file, const char* data, int64_t count);

    std::string version_;
    bool stopRequested_;
    std::string agent_;
    std::string errorMsg_;
    std::unique_ptr<TDownLoadItems> downLoadItems_;
    THttpTimeouts timeouts_;
};
