#pragma once

#include <cstdint>
#include <string>

#include "archive/unzip.h"
#include "unzip_options.h"

// One invocation of quendal-unzip: sets up the component from the options,
// answers its events on the console and turns what happened into the exit
// status of the usual unzip tool.
class UnzipSession {
public:
    // Exit statuses.
    static constexpr int kOk = 0;
    static constexpr int kWarning = 1;        // entries skipped, or extracted with a warning
    static constexpr int kArchiveError = 2;   // a damaged archive or a CRC failure
    static constexpr int kNotFound = 9;       // the archive is missing or no ZIP file
    static constexpr int kNoMatch = 11;
    static constexpr int kDiskFull = 50;
    static constexpr int kInterrupted = 80;
    static constexpr int kUnsupported = 81;
    static constexpr int kBadPassword = 82;

    explicit UnzipSession(UnzipOptions options);
    int Run();

private:
    bool OpenArchive();
    int List();
    int Extract();
    void InstallHandlers();
    void PrintError(const std::string& fileName, const std::string& extendedMsg, int32_t code);
    void ShowProgress(uint8_t byFile, uint8_t byArchive);
    void ClearProgressLine();
    int ExitStatus() const;
    // The status when no entry was selected: errors first, then an empty
    // archive, then file specs that matched nothing.
    int NothingSelected();
    bool ArchiveIsEmpty();

    UnzipOptions options_;
    TUnZip unzip_;
    bool interactive_ = false;   // questions can be asked on a terminal
    bool progressBar_ = false;   // a progress bar is drawn on the terminal
    bool progressShown_ = false;
    uint8_t shownFile_ = 255, shownArchive_ = 255;
    std::string currentName_, shownName_;
    bool overwriteAll_ = false, overwriteNone_ = false;

    // What happened, for the exit status.
    bool archiveError_ = false;
    bool diskFull_ = false;
    bool interrupted_ = false;
    bool unsupported_ = false;
    bool badPassword_ = false;
    bool skipped_ = false;
    bool warned_ = false;
    bool errorSinceLastEnd_ = false;
};
