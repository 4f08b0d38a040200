#pragma once

#include <cstdint>
#include <string>

#include "platform/local_time.h"

class TInstallFileSystem;

// What one update run did, for support staff: appended to the log file of
// the updater's folder as one UTF-8 line, the file kept to its last 256 KiB.
// Members after `fetch` came later; they stay last so that older brace
// initialisers keep their meaning.
struct TUpdateRunRecord {
    std::string url;
    int64_t bytesReceived = 0;  // as the caller counted them
    std::string result;  // "installed", "failed", "recovered" ...
    // For a failure: where it happened, the entry or file, the error code.
    std::string step;
    std::string entry;
    int64_t errorCode = 0;
    // How the release was fetched and why: the whole archive, or only the
    // entries that changed. Empty when nothing was to be fetched.
    std::string fetch;
    // Releases as their records name them, empty when unknown: the one
    // installed before the run, the one offered, and the one refused.
    std::string installedRelease;
    std::string offeredRelease;
    std::string refusedRelease;
    // Why a download failed, in a few words: "timed out", "refused", "cut
    // short", "status 503".
    std::string downloadFailure;
};

class TUpdateLog {
public:
    static constexpr size_t kMaxBytes = 256 * 1024;

    TUpdateLog(TInstallFileSystem& files, std::string path) : files_(files), path_(std::move(path)) {}

    // False when the log could not be written; an update never fails for it.
    bool Append(const TUpdateRunRecord& record);

    // One record, at the time given, with its zone:
    //   2026-12-11 14:03:22 +0900 url=U bytes=N result=R step=S entry=E code=C
    //   installed=V offered=V refused=V download=D fetch=F
    // (one line). url, bytes and result are always there, the others only
    // when they have a value; values may hold spaces, so a reader splits at
    // the known keys, and fetch= comes last. A control character in a value
    // (an entry name is the archive's) is written as \xHH, and a backslash
    // as \\, so that a record stays one line and a terminal showing it acts
    // on nothing; so is each byte of a C1 control or of text that is not
    // UTF-8.
    static std::string Line(const TUpdateRunRecord& record, const platform::ZonedLocalTime& time);
    static std::string Line(const TUpdateRunRecord& record) {
        return Line(record, platform::CurrentZonedLocalTime());
    }

private:
    TInstallFileSystem& files_;
    const std::string path_;
};
