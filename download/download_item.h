#pragma once

#include "platform/object.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

class TDownLoadItems;

// Raised when an object is asked to copy from an object it cannot copy from.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One file to fetch: where it comes from, where it goes, and what the server
// said about it.
class TDownLoadItem : public TObject {
public:
    // Items are made by TDownLoadItems::Add; a free-standing item has no collection.
    explicit TDownLoadItem(TDownLoadItems* collection = nullptr, int id = 0);

    // Free for the caller; never read by the item or the download component.
    void* Data = nullptr;

    const std::string& URL() const { return url_; }
    // Adds "http://" when the text has no "://" and derives FileName from what
    // follows the last "/".
    void SetURL(const std::string& value);

    const std::string& LocalDir() const { return localDir_; }
    // Makes the folder end in the path separator; an empty folder stays empty
    // and means the current folder.
    void SetLocalDir(const std::string& value);

    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& value) { fileName_ = value; }

    const std::string& ContentType() const { return contentType_; }
    void SetContentType(const std::string& value) { contentType_ = value; }

    int32_t FileSize() const { return fileSize_; }
    void SetFileSize(int32_t value) { fileSize_ = value; }

    std::string FullFileName() const { return localDir_ + fileName_; }

    // What the latest attempt's final response said: its status code (0
    // when none came), its Retry-After as given, and the byte the body
    // started at (0, or the size of a partial file that was continued).
    int StatusCode() const { return statusCode_; }
    void SetStatusCode(int value) { statusCode_ = value; }
    const std::string& RetryAfter() const { return retryAfter_; }
    void SetRetryAfter(const std::string& value) { retryAfter_ = value; }
    // The server's certificate did not verify: nothing was fetched.
    bool CertificateRefused() const { return certificateRefused_; }
    void SetCertificateRefused(bool value) { certificateRefused_ = value; }
    int32_t ResumedFrom() const { return resumedFrom_; }
    void SetResumedFrom(int32_t value) { resumedFrom_ = value; }

    // Why the latest attempt did not bring the file whole.
    enum class TFailure {
        None,      // nothing failed (an unsized answer, or a range answered with other bytes, stores nothing)
        Refused,   // no connection, or no usable answer: refused, unreachable, not HTTP, redirects, certificate
        TimedOut,  // no connection within the connect limit, or no byte within the stall limit
        TooSlow,   // the bytes came slower than the floor rate
        CutShort,  // the connection ended before the answer or its body did
        Status,    // the final answer's status is not 2xx (StatusCode says which)
        Stopped,   // the caller stopped the download
    };
    TFailure Failure() const { return failure_; }
    void SetFailure(TFailure value) { failure_ = value; }
    // The failure as a log names it: "none", "refused", "timed out", "too
    // slow", "cut short", "status 503", "stopped".
    std::string FailureName() const { return FailureName(failure_, statusCode_); }
    static std::string FailureName(TFailure failure, int statusCode);
    // The server did not answer, or stopped answering: the failure is
    // TimedOut or TooSlow.
    bool ServerSilent() const { return failure_ == TFailure::TimedOut || failure_ == TFailure::TooSlow; }

    // Bytes first..last of a file, both included.
    struct TByteRange {
        int64_t first = 0;
        int64_t last = 0;
        int64_t Length() const { return last - first + 1; }
    };
    // With a range, the item asks for those bytes only ("Range:
    // bytes=first-last") and appends them to its file, created when missing,
    // so that several items can fill one file in turn. Resuming never applies
    // to it (no side file is read or written). Not a published property.
    void SetByteRange(std::optional<TByteRange> range) { byteRange_ = range; }
    const std::optional<TByteRange>& ByteRange() const { return byteRange_; }
    // Set when the answer to a ranged request is not exactly the bytes asked
    // for (a 200 that ignored Range, a 206 naming other bytes or none, or
    // with a Content-Length that disagrees), and when the range itself
    // cannot be asked for (see TWinHTTPDownload). Nothing was stored and the
    // body was not read; StatusCode says which answer came (0: none).
    bool RangeRefused() const { return rangeRefused_; }
    void SetRangeRefused(bool value) { rangeRefused_ = value; }
    // The whole file's size as a matching 206's Content-Range gave it; 0 otherwise.
    int64_t RangeTotal() const { return rangeTotal_; }
    void SetRangeTotal(int64_t value) { rangeTotal_ = value; }

    // Copies URL, LocalDir, FileSize and FileName as they stand from another
    // item; anything else raises EConvertError.
    void Assign(const TObject* source);

    TDownLoadItems* Collection() const { return collection_; }
    int Index() const;  // position in the collection, -1 without one
    int ID() const { return id_; }

private:
    TDownLoadItems* collection_;
    int id_;
    std::string url_;
    std::string localDir_;
    std::string contentType_;
    int32_t fileSize_ = 0;
    std::string fileName_;
    int statusCode_ = 0;
    std::string retryAfter_;
    int32_t resumedFrom_ = 0;
    TFailure failure_ = TFailure::None;
    bool certificateRefused_ = false;
    std::optional<TByteRange> byteRange_;
    bool rangeRefused_ = false;
    int64_t rangeTotal_ = 0;
};

// The owned, ordered list of items of a download component.
class TDownLoadItems : public TObject {
public:
    TDownLoadItem* Add();
    // Raises std::out_of_range for an index outside 0 .. Count() - 1.
    TDownLoadItem* Items(int index) const;
    int Count() const { return static_cast<int>(items_.size()); }
    // Destroys every item.
    void Clear() { items_.clear(); }

private:
    friend class TDownLoadItem;
    std::vector<std::unique_ptr<TDownLoadItem>> items_;
    int nextId_ = 0;
};
