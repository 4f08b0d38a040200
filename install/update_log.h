#pragma once

#include <cstdint>
#include <string>

class TInstallFileSystem;

// What one update run did, for support staff: appended to the log file of
// the updater's folder as one UTF-8 line, the file kept to its last 256 KiB.
struct TUpdateRunRecord {
    std::string url;
    int64_t bytesReceived = 0;
    std::string result;  // "installed", "failed", "recovered" ...
    // For a failure: where it happened, the entry or file, the error code.
    std::string step;
    std::string entry;
    int64_t errorCode = 0;
    // How the release was fetched and why: the whole archive, or only the
    // entries that changed. Empty when nothing was to be fetched.
    std::string fetch;
};

class TUpdateLog {
public:
    static constexpr size_t kMaxBytes = 256 * 1024;

    TUpdateLog(TInstallFileSystem& files, std::string path) : files_(files), path_(std::move(path)) {}

    // False when the log could not be written; an update never fails for it.
    bool Append(const TUpdateRunRecord& record);
    static std::string Line(const TUpdateRunRecord& record);

private:
    TInstallFileSystem& files_;
    const std::string path_;
};
