#include "download/download_component.h"

#include "download/content_range.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/file_system.h"

#include <algorithm>
#include <string_view>

namespace {

// The body moves through a buffer of this size, and progress is reported after each.
constexpr int32_t kChunkSize = 255;
// Header values are read into a buffer of this size, terminator included;
// a longer value counts as absent.
constexpr size_t kHeaderBufferSize = 260;

// The Content-Length as a size: 0 when it is missing, not a 32-bit number, or
// negative (which is no size at all).
int32_t ParseContentLength(std::string_view text) {
    auto isPadding = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && isPadding(text.front())) text.remove_prefix(1);
    while (!text.empty() && isPadding(text.back())) text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return 0;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
        if (value > INT32_MAX) return 0;
    }
    return negative ? 0 : static_cast<int32_t>(value);
}

// A size a handler may have set, made safe to count with.
int32_t UsableSize(int32_t size) { return std::max(size, 0); }

using TFailure = TDownLoadItem::TFailure;

// The item's failure for the transfer's; `unexplained` when the transfer
// gives no reason.
TFailure ItemFailure(THttpFailure failure, TFailure unexplained) {
    switch (failure) {
        case THttpFailure::None:
            return unexplained;
        case THttpFailure::Refused:
            return TFailure::Refused;
        case THttpFailure::TimedOut:
            return TFailure::TimedOut;
        case THttpFailure::TooSlow:
            return TFailure::TooSlow;
        case THttpFailure::Broken:
            return TFailure::CutShort;
        case THttpFailure::Stopped:
            return TFailure::Stopped;
    }
    return unexplained;
}

// The final answer's status; one that is not 2xx is the attempt's failure.
void NoteStatus(TDownLoadItem& item, int status) {
    item.SetStatusCode(status);
    if (status / 100 != 2) item.SetFailure(TFailure::Status);
}

}  // namespace

TWinHTTPDownload::TWinHTTPDownload()
    : version_("v1.0"),
      stopRequested_(false),
      agent_("TWinHTTPDownload"),
      downLoadItems_(std::make_unique<TDownLoadItems>()) {}

TWinHTTPDownload::~TWinHTTPDownload() = default;

void TWinHTTPDownload::Start() {
    if (OnDownloadBegin) OnDownloadBegin(this);
    if (downLoadItems_->Count() == 0) {
        errorMsg_ = "아이템을 찾을 수 없습니다";
        if (OnDownloadEnd) OnDownloadEnd(this);
        return;
    }
    stopRequested_ = false;
    THttpSession session(agent_, timeouts_, [this] { return stopRequested_; }, caFile_);
    if (!session.IsOpen()) {
        errorMsg_ = "인터넷을 열 수 없습니다";
        return;
    }
    const int count = downLoadItems_->Count();
    for (int i = 0; i < count; ++i) {
        DownloadItem(session, *downLoadItems_->Items(i));
        if (stopRequested_) {
            stopRequested_ = false;
            if (OnDownloadStop) OnDownloadStop(this);
            break;
        }
    }
    if (OnDownloadEnd) OnDownloadEnd(this);
}

void TWinHTTPDownload::DownloadItem(THttpSession& session, TDownLoadItem& item) {
    std::unique_ptr<THttpRequest> request;
    TFileWriter file;
    TTransferOutcome outcome;
    // However the transfer ends, the item is closed and reported ended before
    // any error travels on.
    std::exception_ptr failure;
    try {
        TransferItem(session, item, request, file, outcome);
    } catch (...) {
        failure = std::current_exception();
    }
    request.reset();
    if (!file.Close() && !failure) failure = std::make_exception_ptr(EInOutError(file.ErrorCode()));
    if (resume_ && !item.ByteRange()) RecordPartial(item, outcome, failure != nullptr);
    if (OnItemDownloadEnd) OnItemDownloadEnd(this, &item);
    if (failure) std::rethrow_exception(failure);
}

void TWinHTTPDownload::TransferItem(THttpSession& session, TDownLoadItem& item,
                                    std::unique_ptr<THttpRequest>& request, TFileWriter& file,
                                    TTransferOutcome& outcome) {
    item.SetStatusCode(0);
    item.SetFailure(TFailure::None);
    item.SetCertificateRefused(false);
    item.SetRetryAfter({});
    item.SetResumedFrom(0);
    item.SetRangeRefused(false);
    item.SetRangeTotal(0);
    // A copy: the event handlers below may change the item's range.
    const std::optional<TDownLoadItem::TByteRange> range = item.ByteRange();
    int64_t held = 0;
    if (!(range ? OpenRange(session, item, request) : OpenWhole(session, item, request, held))) return;
    const int status = request->Status();
    const int32_t length =
        range ? static_cast<int32_t>(range->Length()) : ParseContentLength(QueryHeader(*request, "Content-Length"));
    item.SetFileSize(held > 0 ? static_cast<int32_t>(held + length) : length);
    if (item.FileSize() == 0) return;
    item.SetContentType(QueryHeader(*request, "Content-Type"));
    if (OnItemGetHeader) OnItemGetHeader(this, &item);
    if (item.FileSize() <= 0) {
        errorMsg_ = "(" + item.URL() + ") 파일 크기가 0입니다.";
        return;
    }
    item.SetResumedFrom(static_cast<int32_t>(held));
    if (OnItemDownloadBegin) OnItemDownloadBegin(this, &item);

    // One level only; if this fails, creating the file below reports it.
    if (!item.LocalDir().empty() && !platform::DirectoryExists(item.LocalDir())) platform::CreateDir(item.LocalDir());
    const bool opened = range      ? file.Append(item.FullFileName())
                        : held > 0 ? file.OpenAt(item.FullFileName(), held)
                                   : file.Create(item.FullFileName());
    if (!opened) throw EInOutError(file.ErrorCode());
    outcome.fileOpened = true;
    outcome.stored = held;
    // Only the file itself is worth continuing, not an error page.
    if (status == 200 || status == 206)
        outcome.state = {item.URL(), QueryHeader(*request, "ETag"), QueryHeader(*request, "Last-Modified")};

    char chunk[kChunkSize];
    int64_t stored = held;  // wider than the events' count: a handler may move FileSize
    const int64_t remaining = std::max<int64_t>(UsableSize(item.FileSize()) - held, 0);
    const int64_t fullChunks = remaining / kChunkSize;
    for (int64_t i = 0; i < fullChunks && !stopRequested_; ++i) {
        int64_t got = request->Read(chunk, kChunkSize);
        // A body that ended short of its announced size (a chunked body with a
        // Content-Length, say) would otherwise spin through up to 2^31 / 255
        // empty reads and progress events.
        if (got <= 0) break;
        Store(file, chunk, got);
        outcome.stored = stored += got;
        if (OnItemDownloadProgress) OnItemDownloadProgress(this, &item, static_cast<int32_t>(stored), item.FileSize());
    }
    if (!stopRequested_) {
        // The tail read happens even when it asks for nothing, so a complete
        // item always ends with a progress event at its full size.
        int64_t got = request->Read(chunk, static_cast<size_t>(remaining % kChunkSize));
        if (got >= 0) {
            Store(file, chunk, got);
            outcome.stored = stored += got;
            if (OnItemDownloadProgress)
                OnItemDownloadProgress(this, &item, static_cast<int32_t>(stored), item.FileSize());
        }
    }
    // A body that ended short without a reason from the transfer was cut
    // short by the server (WinINet reads that as an ended body).
    if (stored - held < remaining && item.Failure() == TFailure::None)
        item.SetFailure(stopRequested_ ? TFailure::Stopped : ItemFailure(request->Failure(), TFailure::CutShort));
}

// Opens an item without a range: the rest of a usable partial file (`held`
// its bytes) or the whole file. False when there is nothing to store.
bool TWinHTTPDownload::OpenWhole(THttpSession& session, TDownLoadItem& item, std::unique_ptr<THttpRequest>& request,
                                 int64_t& held) {
    if (const std::optional<TResumeState> partial = resume_ ? UsablePartial(item) : std::nullopt) {
        request = session.OpenUrl(item.URL(), {"Range: bytes=" + std::to_string(partial->bytesHeld) + "-",
                                               "If-Range: " + partial->Validator()});
        if (!request) {
            ReportOpenFailure(session, item);
            return false;
        }
        const int status = request->Status();
        if (status == 206 && ContinuesPartial(*request, partial->bytesHeld)) {
            held = partial->bytesHeld;
        } else if (status == 206 || status == 416) {
            // Not the rest of that file: the whole file once more.
            request.reset();
        } else if (status != 200) {
            // An error answer: the partial file stays for a later attempt.
            NoteStatus(item, status);
            item.SetRetryAfter(QueryHeader(*request, "Retry-After"));
            return false;
        }
    }
    if (!request) {
        request = session.OpenUrl(item.URL());
        if (!request) {
            ReportOpenFailure(session, item);
            return false;
        }
    }
    NoteStatus(item, request->Status());
    item.SetRetryAfter(QueryHeader(*request, "Retry-After"));
    return true;
}

// Opens a ranged item. False when there is nothing to store: the range cannot
// be asked for, the open failed, or the answer is an error or other bytes than
// those asked for (RangeRefused).
bool TWinHTTPDownload::OpenRange(THttpSession& session, TDownLoadItem& item, std::unique_ptr<THttpRequest>& request) {
    const TDownLoadItem::TByteRange range = *item.ByteRange();
    // FileSize and the progress events count in 32 bits: a longer range is
    // the caller's to split, and is refused rather than counted wrong.
    if (range.first < 0 || range.last < range.first || range.Length() > INT32_MAX) {
        item.SetRangeRefused(true);
        return false;
    }
    request = session.OpenUrl(item.URL(),
                              {"Range: bytes=" + std::to_string(range.first) + "-" + std::to_string(range.last)});
    if (!request) {
        ReportOpenFailure(session, item);
        return false;
    }
    const int status = request->Status();
    NoteStatus(item, status);
    item.SetRetryAfter(QueryHeader(*request, "Retry-After"));
    // An error page must never be appended to the file the ranges fill.
    if (status >= 400) return false;
    const std::optional<TContentRange> answered = TContentRange::Parse(QueryHeader(*request, "Content-Range"));
    // A missing Content-Length (a chunked body) does not disagree; the body is read to the range's length.
    const std::string length = QueryHeader(*request, "Content-Length");
    const bool exact = status == 206 && answered && answered->first == range.first && answered->last == range.last &&
                       (length.empty() || ParseContentLength(length) == range.Length());
    if (!exact) {
        item.SetRangeRefused(true);
        return false;
    }
    item.SetRangeTotal(answered->total);
    return true;
}

void TWinHTTPDownload::ReportOpenFailure(const THttpSession& session, TDownLoadItem& item) {
    item.SetCertificateRefused(session.CertificateRefused());
    item.SetFailure(stopRequested_ ? TFailure::Stopped : ItemFailure(session.OpenFailure(), TFailure::Refused));
    // An open the caller stopped did not fail: the stop is reported instead.
    if (!stopRequested_) errorMsg_ = "다음을 열 수 없습니다 [" + item.URL() + "]";
}

// A 206 continues the partial file only when it holds exactly the rest of a
// file whose size a progress event can count.
bool TWinHTTPDownload::ContinuesPartial(const THttpRequest& request, int64_t held) {
    const std::optional<TContentRange> range = TContentRange::Parse(QueryHeader(request, "Content-Range"));
    const int32_t length = ParseContentLength(QueryHeader(request, "Content-Length"));
    return range && range->first == held && range->last + 1 == range->total && range->total <= INT32_MAX &&
           length == range->total - held;
}

// A partial file is trusted only with its side file, written for this very
// URL with a validator, and when it holds just the bytes noted there.
std::optional<TResumeState> TWinHTTPDownload::UsablePartial(const TDownLoadItem& item) const {
    std::optional<TResumeState> state = TResumeState::Load(TResumeState::SideFileName(item.FullFileName()));
    if (!state || state->url != item.URL() || state->Validator().empty() || state->bytesHeld <= 0) return std::nullopt;
    platform::File partial;
    if (!partial.Open(item.FullFileName(), platform::File::Mode::Read) || partial.Size() != state->bytesHeld)
        return std::nullopt;
    return state;
}

// The side file follows the file: written while a continuable file is
// incomplete, removed once it is whole or cannot be continued.
void TWinHTTPDownload::RecordPartial(const TDownLoadItem& item, const TTransferOutcome& outcome, bool failed) const {
    if (!outcome.fileOpened) return;  // the file, if any, is as the side file says
    const std::string sideFile = TResumeState::SideFileName(item.FullFileName());
    TResumeState state = outcome.state;
    state.bytesHeld = outcome.stored;
    const bool continuable = !failed && !state.url.empty() && !state.Validator().empty() && outcome.stored > 0 &&
                             outcome.stored < item.FileSize();
    if (!continuable || !state.Save(sideFile)) platform::RemoveFile(sideFile);
}

std::string TWinHTTPDownload::QueryHeader(const THttpRequest& request, const char* name) {
    std::optional<std::string> value = request.Header(name);
    if (!value || value->size() >= kHeaderBufferSize) return {};
    return *value;
}

void TWinHTTPDownload::Store(TFileWriter& file, const char* data, int64_t count) {
    if (!file.Write(data, static_cast<size_t>(count))) throw EInOutError(file.ErrorCode());
}
