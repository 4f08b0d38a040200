#include "tools/quendal_publish/archive_survey.h"

#include <algorithm>
#include <map>

#include "archive/format/archive_types.h"
#include "archive/format/error_codes.h"
#include "archive/unzip.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/folder_listing.h"
#include "platform/safe_path.h"
#include "platform/temp_files.h"
#include "release/local_entry_extent.h"
#include "platform/sha256.h"

namespace {

// A folder of its own below the system's temporary folder, removed with all
// it holds when the survey ends.
class ScratchFolder {
public:
    ScratchFolder() {
        marker_ = platform::CreateTempFile(platform::TempFolder(), "quendal-publish-");
        // The marker's name is unique, so the folder beside it is ours too.
        if (!marker_.empty() && platform::CreateDir(marker_ + ".d")) path_ = marker_ + ".d";
    }
    ~ScratchFolder() {
        if (!path_.empty()) RemoveTree(path_);
        if (!marker_.empty()) platform::RemoveFile(marker_);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path_; }  // empty when it could not be made

private:
    static void RemoveTree(const std::string& folder) {
        if (const auto entries = platform::ListFolder(folder)) {
            for (const platform::FolderEntry& entry : *entries) {
                const std::string path = folder + platform::kPathSeparator + entry.name;
                entry.isFolder ? RemoveTree(path) : static_cast<void>(platform::RemoveFile(path));
            }
        }
        platform::RemoveEmptyFolder(folder);
    }

    std::string marker_;
    std::string path_;
};

// The extractor names entries with this system's separator; a manifest
// names them with '/' wherever it was made.
std::string ManifestName(std::string name) {
    std::replace(name.begin(), name.end(), platform::kPathSeparator, '/');
    return name;
}

bool IsFolderEntry(const TUnBaseHeader& entry) { return ManifestName(entry.Name).ends_with('/'); }

}  // namespace

std::optional<std::vector<release::ManifestEntry>> SurveyArchive(const std::string& archivePath, std::string& error) {
    TUnZip unzip;
    unzip.SetArchiveFile(archivePath);
    // One plain ZIP file: the offsets of a split or prefixed archive would
    // not be positions in the file the updater downloads.
    if (unzip.ArcType() != atZip || unzip.OffsetAdjust() != 0) {
        error = archivePath + " is not a single-file ZIP archive (" + std::string(ArcTypeName(unzip.ArcType())) + ")";
        return std::nullopt;
    }
    std::string firstError;
    unzip.OnError = [&](TObject*, const std::string& fileName, const std::string& extendedMsg, const std::string&,
                        int32_t code) {
        if (firstError.empty())
            firstError = fileName + ": " + ErrorMessage(code) + (extendedMsg.empty() ? "" : " (" + extendedMsg + ")");
    };
    unzip.OnCorruptZipHeader = [&](TObject*, THeaderTypeState, bool& cancel) {
        if (firstError.empty()) firstError = "the central directory is missing or damaged";
        cancel = true;
    };
    unzip.FileSpec() = {"*"};
    const TUnBaseHeaderObj listed = unzip.ListEntries();
    if (!firstError.empty() || listed.empty()) {
        error = listed.empty() && firstError.empty() ? "the archive holds no entries" : firstError;
        return std::nullopt;
    }

    ScratchFolder scratch;
    if (scratch.Path().empty()) {
        error = "cannot make a temporary folder";
        return std::nullopt;
    }
    std::map<std::string, std::string> extracted;  // entry name: its file
    std::string failedCrc;
    unzip.OnEnd = [&](TObject*, const std::string& fileName, bool crcPass) {
        if (!crcPass && failedCrc.empty()) failedCrc = unzip.EntryName();
        extracted[unzip.EntryName()] = fileName;
    };
    unzip.SetConfirmOverwrites(false);
    unzip.SetOverwriteMode(omOverwrite);
    unzip.SetUseStoredDirs(true);
    unzip.SetExtractDir(scratch.Path() + platform::kPathSeparator);
    unzip.ExtractFiles();
    if (!firstError.empty() || !failedCrc.empty()) {
        error = !firstError.empty() ? firstError : failedCrc + ": CRC mismatch";
        return std::nullopt;
    }

    platform::File archive;
    if (!archive.Open(archivePath, platform::File::Mode::Read)) {
        error = "cannot open " + archivePath;
        return std::nullopt;
    }
    std::vector<release::ManifestEntry> entries;
    for (const TUnBaseHeader& entry : listed) {
        if (IsFolderEntry(entry)) continue;
        const auto file = extracted.find(entry.Name);
        if (file == extracted.end()) {
            error = entry.Name + " was not extracted";
            return std::nullopt;
        }
        // A link is listed as a link: its digest is its target text's, never followed.
        const std::optional<std::string> linkTarget = platform::ReadSymbolicLink(file->second);
        const std::optional<release::Sha256Digest> digest =
            linkTarget ? platform::Sha256OfBytes(*linkTarget) : platform::Sha256OfFile(file->second);
        const std::optional<uint64_t> length =
            release::LocalEntryLength(archive, entry.Record.LocalPosition, entry.PackedSize);
        if (!digest || !length) {
            error = entry.Name + (digest ? ": its local header or data lies outside the archive" : ": cannot hash it");
            return std::nullopt;
        }
        // The directory's record: the updater builds one like it for an entry fetched alone.
        const uint16_t madeBy = entry.CentralCopy ? static_cast<uint16_t>((*entry.CentralCopy)[4] |
                                                                          (*entry.CentralCopy)[5] << 8)
                                                  : 0;
        entries.push_back({ManifestName(entry.Name), entry.UnpackedSize, entry.Crc32, *digest,
                           static_cast<uint64_t>(entry.Record.LocalPosition), *length, madeBy,
                           entry.Record.Attributes});
    }
    return entries;
}
