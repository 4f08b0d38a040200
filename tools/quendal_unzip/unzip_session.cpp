#include "unzip_session.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <utility>

#include "archive/format/dos_date_time.h"
#include "archive/format/error_codes.h"
#include "archive/format/path_names.h"
#include "platform/file_system.h"
#include "platform/safe_path.h"
#include "platform/temp_files.h"
#include "platform/terminal.h"
#include "printable_text.h"

namespace {

const char* MethodName(uint16_t method) {
    switch (method) {
        case 0: return "Stored";
        case 1: return "Shrunk";
        case 2: case 3: case 4: case 5: return "Reduced";
        case 6: return "Imploded";
        case 8: return "Defl";
        case 9: return "Defl64";
        default: return "Unknown";
    }
}

std::string DateText(uint32_t dosDateTime) {
    const platform::LocalDateTime t = DosDateTimeToLocal(dosDateTime);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", t.year, t.month, t.day, t.hour, t.minute);
    return text;
}

bool IsZipArchive(TArcType type) {
    return type == atZip || type == atZipExe || type == atZipDS || type == atZipMV || type == atJar ||
           type == atJarExe;
}

std::string Bar(uint8_t percent, int width) {
    const int filled = percent * width / 100;
    return std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(width - filled), '.');
}

}  // namespace

UnzipSession::UnzipSession(UnzipOptions options) : options_(std::move(options)) {
    interactive_ = platform::IsTerminal(platform::StandardStream::Input);
    progressBar_ = !options_.quiet && !options_.list && platform::IsTerminal(platform::StandardStream::Error);
}

int UnzipSession::Run() {
    if (!OpenArchive()) return kNotFound;
    return options_.list ? List() : Extract();
}

bool UnzipSession::OpenArchive() {
    std::string name = options_.archive;
    if (!platform::FileExists(name) && platform::FileExists(name + ".zip")) name += ".zip";
    if (!platform::FileExists(name)) {
        std::fprintf(stderr, "quendal-unzip: cannot find or open %s\n", Printable(options_.archive).c_str());
        return false;
    }
    if (!platform::IsAbsolutePath(name)) name = platform::CurrentDirectory() + name;
    unzip_.SetArchiveFile(name);
    if (!IsZipArchive(unzip_.ArcType())) {
        std::fprintf(stderr, "quendal-unzip: %s is not a ZIP archive (%s)\n", Printable(name).c_str(),
                     std::string(ArcTypeName(unzip_.ArcType())).c_str());
        return false;
    }
    // Data put in front of the archive (or cut from its start) without
    // adjusting its offsets.
    if (const int64_t shift = unzip_.OffsetAdjust(); shift != 0) {
        std::fprintf(stderr, "quendal-unzip: warning: %s: %lld %s at the beginning\n", Printable(name).c_str(),
                     static_cast<long long>(shift < 0 ? -shift : shift), shift < 0 ? "bytes missing" : "extra bytes");
        warned_ = true;
    }
    TStringList specs = options_.fileSpecs;
    if (specs.empty()) specs.push_back("*");
    unzip_.SetFileSpec(specs);
    InstallHandlers();
    return true;
}

void UnzipSession::InstallHandlers() {
    unzip_.OnError = [this](TObject*, const std::string& fileName, const std::string& extendedMsg,
                            const std::string&, int32_t code) {
        errorSinceLastEnd_ = true;
        switch (code) {
            case ErrorCode::DiskFull: diskFull_ = true; break;
            case ErrorCode::UserCanceled: break;
            case ErrorCode::UnsupportedMethod: unsupported_ = true; break;
            case ErrorCode::InvalidPassword: badPassword_ = true; break;
            case ErrorCode::SkippedFile:
                // A symbolic link whose target leads out of the target folder.
                warned_ = true;
                ClearProgressLine();
                if (extendedMsg.empty())
                    std::fprintf(stderr, "quendal-unzip: warning: skipped symbolic link %s (%s)\n",
                                 Printable(fileName).c_str(), unzip_.EntrySize() == 0 ? "empty target" : "target too long");
                else
                    std::fprintf(stderr, "quendal-unzip: warning: skipped symbolic link %s -> %s (leads outside %s)\n",
                                 Printable(fileName).c_str(), Printable(extendedMsg).c_str(),
                                 Printable(unzip_.ExtractDir()).c_str());
                return;
            case ErrorCode::InconsistentLocalHeader:
                // The entry is written under its directory name all the same.
                warned_ = true;
                ClearProgressLine();
                std::fprintf(stderr, "quendal-unzip: warning: %s: its local header names it %s\n",
                             Printable(fileName).c_str(), Printable(extendedMsg).c_str());
                return;
            case ErrorCode::EventNotAssigned:
                if (extendedMsg == "OnGetPassword") badPassword_ = true; else archiveError_ = true;
                break;
            default: archiveError_ = true; break;
        }
        PrintError(fileName, extendedMsg, code);
    };
    // The entries are still recovered from their local headers.
    unzip_.OnCorruptZipHeader = [this](TObject*, THeaderTypeState, bool& cancel) {
        warned_ = true;
        std::fprintf(stderr,
                     "quendal-unzip: warning: %s: the end of central directory record is missing or damaged; "
                     "entries found by their local headers\n",
                     Printable(unzip_.ArchiveFile()).c_str());
        cancel = false;
    };
    unzip_.OnBegin = [this](TObject*, const std::string& fileName, int32_t, bool&) {
        currentName_ = fileName;
        errorSinceLastEnd_ = false;  // errors of the directory walk belong to no entry
        if (platform::InterruptRequested() && !unzip_.IsCancelled()) {
            interrupted_ = true;
            unzip_.SetCancel(true);
        }
        if (!options_.quiet && !progressBar_) std::printf("  extracting: %s\n", Printable(fileName).c_str());
    };
    unzip_.OnEnd = [this](TObject*, const std::string& fileName, bool crcPass) {
        const size_t root = RootPrefixLength(unzip_.EntryName());
        if (root > 0 && !options_.junkPaths) {
            warned_ = true;
            ClearProgressLine();
            std::fprintf(stderr, "quendal-unzip: warning: removed \"%s\" from the start of %s\n",
                         Printable(unzip_.EntryName().substr(0, root)).c_str(), Printable(unzip_.EntryName()).c_str());
        }
        if (platform::NamesADevice(options_.junkPaths ? ExtractFileName(unzip_.EntryName()) : unzip_.EntryName())) {
            warned_ = true;
            ClearProgressLine();
            std::fprintf(stderr, "quendal-unzip: warning: %s names a device: renamed to %s\n",
                         Printable(unzip_.EntryName()).c_str(), Printable(fileName).c_str());
        }
        if (!crcPass && !errorSinceLastEnd_ && !unzip_.IsCancelled()) {
            if (badPassword_) {
                // Later enciphered entries are skipped silently once the password failed.
                ClearProgressLine();
                std::fprintf(stderr, "quendal-unzip: skipped %s (no valid password)\n", Printable(fileName).c_str());
            } else {
                archiveError_ = true;
                PrintError(fileName, "", ErrorCode::CrcFailed);
            }
        }
        errorSinceLastEnd_ = false;
    };
    unzip_.OnProgress = [this](TObject*, uint8_t byFile, uint8_t byArchive) {
        if (platform::InterruptRequested() && !unzip_.IsCancelled()) {
            interrupted_ = true;
            unzip_.SetCancel(true);
        }
        if (progressBar_) ShowProgress(byFile, byArchive);
    };
    unzip_.OnFileExists = [this](TObject*, const std::string& fileName, std::string& newFileName,
                                 TOverwriteMode& mode) {
        mode = omSkip;
        if (options_.overwrite == UnzipOptions::Overwrite::Always || overwriteAll_) {
            mode = omOverwrite;
            return;
        }
        if (options_.overwrite == UnzipOptions::Overwrite::Ask && !overwriteNone_ && interactive_) {
            ClearProgressLine();
            std::string answer;
            const std::string question = "replace " + Printable(fileName) + "? [y]es, [n]o, [A]ll, [N]one, [r]ename: ";
            if (platform::ReadTerminalLine(question, true, answer) && !answer.empty()) {
                switch (answer[0]) {
                    case 'y': mode = omOverwrite; break;
                    case 'A': mode = omOverwrite; overwriteAll_ = true; break;
                    case 'N': overwriteNone_ = true; break;
                    case 'r':
                        if (platform::ReadTerminalLine("new name: ", true, newFileName) && !newFileName.empty()) {
                            if (!platform::IsAbsolutePath(newFileName))
                                newFileName = unzip_.ExtractDir() + newFileName;
                            mode = omOverwrite;
                        }
                        break;
                    default: break;
                }
            }
        }
        if (mode == omSkip) {
            skipped_ = true;
            if (!options_.quiet) std::printf("  skipping: %s (exists)\n", Printable(fileName).c_str());
        }
    };
    unzip_.OnNextVolume = [this](TObject*, std::string& volumeName, const std::string& volumeID, bool fExists,
                                 bool& cancel) {
        if (fExists) return;
        std::string answer;
        ClearProgressLine();
        const std::string question =
            "volume " + volumeID + " (" + Printable(volumeName) + ") not found; its path, or nothing to stop: ";
        if (interactive_ && platform::ReadTerminalLine(question, true, answer) && !answer.empty()) {
            volumeName = answer;
            return;
        }
        if (interactive_) {
            interrupted_ = true;
        } else {
            archiveError_ = true;
            std::fprintf(stderr, "quendal-unzip: volume %s (%s) is missing\n", Printable(volumeID).c_str(),
                         Printable(volumeName).c_str());
        }
        cancel = true;
    };
    unzip_.OnGetPassword = [this](TObject*, const std::string& fileName, std::string& password, bool& tryAgain) {
        // A password given with -P has been tried already; ask only when none was given.
        if (options_.password || !interactive_) {
            tryAgain = false;
            return;
        }
        ClearProgressLine();
        if (!platform::ReadTerminalLine(Printable(fileName) + " password: ", false, password)) tryAgain = false;
    };
}

void UnzipSession::PrintError(const std::string& fileName, const std::string& extendedMsg, int32_t code) {
    ClearProgressLine();
    std::string line = "quendal-unzip: error " + std::to_string(code) + ": " + ErrorMessage(code);
    if (!fileName.empty()) line += ": " + fileName;
    if (!extendedMsg.empty() && extendedMsg != "0" && extendedMsg != fileName) line += " (" + extendedMsg + ")";
    std::fprintf(stderr, "%s\n", Printable(line).c_str());
}

void UnzipSession::ShowProgress(uint8_t byFile, uint8_t byArchive) {
    if (byFile == shownFile_ && byArchive == shownArchive_ && currentName_ == shownName_) return;
    shownName_ = currentName_;
    shownFile_ = byFile;
    shownArchive_ = byArchive;
    const int columns = platform::TerminalColumns();
    const int barWidth = std::clamp((columns - 40) / 2, 10, 30);
    std::string name = Printable(currentName_.substr(currentName_.find_last_of(platform::kPathSeparator) + 1));
    const size_t nameRoom = static_cast<size_t>(std::max(columns - 2 * barWidth - 20, 8));
    if (name.size() > nameRoom) name = name.substr(0, nameRoom - 3) + "...";
    std::fprintf(stderr, "\r%-*s [%s] %3u%% [%s] %3u%%", static_cast<int>(nameRoom), name.c_str(),
                 Bar(byFile, barWidth).c_str(), byFile, Bar(byArchive, barWidth).c_str(), byArchive);
    std::fflush(stderr);
    progressShown_ = true;
}

void UnzipSession::ClearProgressLine() {
    if (!progressShown_) return;
    std::fprintf(stderr, "\r%*s\r", platform::TerminalColumns() - 1, "");
    progressShown_ = false;
    shownFile_ = shownArchive_ = 255;
}

int UnzipSession::List() {
    const TUnBaseHeaderObj entries = unzip_.ListEntries();
    if (!options_.quiet) {
        std::printf("  Length     Size  Method   Date       Time   CRC-32    Name\n");
        std::printf("--------  -------  ------  ---------- -----  --------  ----\n");
    }
    uint64_t unpacked = 0, packed = 0;
    for (const TUnBaseHeader& e : entries) {
        std::printf("%8" PRIu64 " %8" PRIu64 "  %-6s  %s  %08x  %s\n", e.UnpackedSize, e.PackedSize,
                    MethodName(e.Method), DateText(e.DosDateTime).c_str(), e.Crc32, Printable(e.Name).c_str());
        unpacked += e.UnpackedSize;
        packed += e.PackedSize;
    }
    if (!options_.quiet) {
        std::printf("--------  -------                                      ----\n");
        std::printf("%8" PRIu64 " %8" PRIu64 "                                      %zu file%s\n", unpacked, packed,
                    entries.size(), entries.size() == 1 ? "" : "s");
    }
    if (entries.empty()) return NothingSelected();
    return ExitStatus();
}

int UnzipSession::Extract() {
    std::string folder = options_.extractDir.empty() ? platform::CurrentDirectory() : options_.extractDir;
    if (!platform::IsAbsolutePath(folder)) folder = platform::CurrentDirectory() + folder;
    if (!platform::ForceDirectories(folder)) {
        std::fprintf(stderr, "quendal-unzip: cannot create %s\n", Printable(folder).c_str());
        return kArchiveError;
    }
    unzip_.SetExtractDir(folder);
    unzip_.SetUseStoredDirs(!options_.junkPaths);
    // Folder entries are made too, so empty folders come out as they went in.
    unzip_.SetCreateStoredDirs(!options_.junkPaths);
    // Every selected entry is checked against an existing file; the handler
    // decides by -o, -n or the answer on the terminal.
    unzip_.SetConfirmOverwrites(true);
    unzip_.SetOverwriteMode(omOverwrite);
    if (options_.password) unzip_.SetPasswords({*options_.password});
    platform::CatchInterrupt();

    unzip_.ExtractFiles();
    ClearProgressLine();
    if (unzip_.EntriesSelected() == 0 && !unzip_.IsCancelled()) return NothingSelected();
    return ExitStatus();
}

int UnzipSession::NothingSelected() {
    // A damaged archive says more than an empty selection does.
    if (const int status = ExitStatus(); status != kOk && status != kWarning) return status;
    if (ArchiveIsEmpty()) {
        std::fprintf(stderr, "quendal-unzip: warning: %s: the archive is empty\n", Printable(unzip_.ArchiveFile()).c_str());
        return kWarning;
    }
    std::fprintf(stderr, "quendal-unzip: no entry of %s matched\n", Printable(unzip_.ArchiveFile()).c_str());
    return kNoMatch;
}

bool UnzipSession::ArchiveIsEmpty() {
    if (options_.fileSpecs.empty()) return true;  // "*" selected nothing
    // A component of its own, so that none of the handlers above hear the probe.
    TUnZip probe;
    probe.SetArchiveFile(unzip_.ArchiveFile());
    probe.SetFileSpec({"*"});
    return probe.ListEntries().empty();
}

int UnzipSession::ExitStatus() const {
    if (diskFull_) return kDiskFull;
    if (interrupted_) return kInterrupted;
    if (archiveError_) return kArchiveError;
    if (badPassword_) return kBadPassword;
    if (unsupported_) return kUnsupported;
    if (skipped_ || warned_) return kWarning;
    return kOk;
}
