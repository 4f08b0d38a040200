#include "tools/quendal_publish/archive_survey.h"

#include <algorithm>
#include <map>
#include <set>

#include "archive/format/archive_types.h"
#include "archive/format/crc.h"
#include "archive/format/error_codes.h"
#include "archive/unzip.h"
#include "platform/file.h"
#include "platform/file_attributes.h"
#include "platform/file_system.h"
#include "platform/folder_listing.h"
#include "platform/safe_path.h"
#include "platform/sha256.h"
#include "platform/temp_files.h"
#include "release/entry_name.h"
#include "release/local_entry_extent.h"
#include "tools/quendal_publish/release_entry_names.h"

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
                // A link is removed itself, never entered; on Windows a link
                // to a folder goes as a folder does.
                if (entry.isFolder)
                    RemoveTree(path);
                else if (!platform::RemoveFile(path) && entry.isLink)
                    platform::RemoveEmptyFolder(path);
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

// A folder entry: its name ends with a separator, or it carries the folder
// attribute, as the extractor tells them.
bool IsFolderEntry(const TUnBaseHeader& entry) {
    return ManifestName(entry.Name).ends_with('/') || (entry.Record.Attributes & platform::kAttrDirectory) != 0;
}

// The manifest's record of an entry, all but its digest and extent: the
// directory's record, as the updater builds one like it for an entry
// fetched alone.
release::ManifestEntry DescribedEntry(const TUnBaseHeader& entry) {
    release::ManifestEntry described;
    described.name = ManifestName(entry.Name);
    described.size = entry.UnpackedSize;
    described.crc32 = entry.Crc32;
    described.offset = static_cast<uint64_t>(entry.Record.LocalPosition);
    described.versionMadeBy =
        entry.CentralCopy ? static_cast<uint16_t>((*entry.CentralCopy)[4] | (*entry.CentralCopy)[5] << 8) : 0;
    described.externalAttributes = entry.Record.Attributes;
    return described;
}

uint32_t Crc32Of(const std::string& bytes) { return UpdateCrc32(0xFFFFFFFF, bytes.data(), bytes.size()) ^ 0xFFFFFFFF; }

// The digest of an extracted entry: of the file's bytes, or for a symbolic
// link of its target text, which is the entry's data (what the link names is
// never read). Nothing, with the reason in error, when it cannot be had.
std::optional<release::Sha256Digest> DigestOf(const release::ManifestEntry& entry, const std::string& extracted,
                                              std::string& error) {
    if (!entry.IsSymbolicLink()) {
        const std::optional<release::Sha256Digest> digest = platform::Sha256OfFile(extracted);
        if (!digest) error = "entry " + release::QuotedEntryName(entry.name) + ": cannot hash it";
        return digest;
    }
    const std::optional<std::string> target = platform::ReadSymbolicLink(extracted);
    if (!target) {
        error = "entry " + release::QuotedEntryName(entry.name) + " is a symbolic link, but no link was made of it";
        return std::nullopt;
    }
    // What was made must be the entry's data, byte for byte.
    if (target->size() != entry.size || Crc32Of(*target) != entry.crc32) {
        error = "entry " + release::QuotedEntryName(entry.name) + ": the link made of it holds the target " +
                release::QuotedEntryName(*target) + ", not the entry's data";
        return std::nullopt;
    }
    const std::optional<release::Sha256Digest> digest = platform::Sha256OfBytes(*target);
    if (!digest) error = "entry " + release::QuotedEntryName(entry.name) + ": cannot hash its target";
    return digest;
}

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
    std::set<std::string> links;  // the names of the entries that are symbolic links
    unzip.OnError = [&](TObject*, const std::string& fileName, const std::string& extendedMsg, const std::string&,
                        int32_t code) {
        if (!firstError.empty()) return;
        if (code == ErrorCode::SkippedFile && links.contains(fileName)) {
            // The extractor makes no link whose target leads out of its
            // folder or through a link, and neither does any updater.
            firstError = "entry " + release::QuotedEntryName(ManifestName(fileName)) + " is a symbolic link " +
                         (extendedMsg.empty() ? std::string("with an empty or over-long target")
                                              : "to " + release::QuotedEntryName(extendedMsg) +
                                                    ", which leads outside the program folder or through another link") +
                         "; the updater refuses such a link";
            return;
        }
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
    // Names every updater would refuse are refused before anything is
    // extracted, folders' names too.
    std::vector<TReleaseEntryName> names;
    for (const TUnBaseHeader& entry : listed) {
        std::string name = ManifestName(entry.Name);
        if (IsFolderEntry(entry) && !name.ends_with('/')) name += '/';
        names.push_back({name, entry.RawName});
        if (!IsFolderEntry(entry) && DescribedEntry(entry).IsSymbolicLink()) links.insert(entry.Name);
    }
    if (std::string refused = RefusedEntryNames(names); !refused.empty()) {
        error = refused;
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
        release::ManifestEntry described = DescribedEntry(entry);
        const auto file = extracted.find(entry.Name);
        if (file == extracted.end()) {
            error = "entry " + release::QuotedEntryName(described.name) + " was not extracted";
            return std::nullopt;
        }
        const std::optional<release::Sha256Digest> digest = DigestOf(described, file->second, error);
        if (!digest) return std::nullopt;
        const std::optional<uint64_t> length =
            release::LocalEntryLength(archive, entry.Record.LocalPosition, entry.PackedSize);
        if (!length) {
            error = "entry " + release::QuotedEntryName(described.name) + ": its local header or data lies outside the archive";
            return std::nullopt;
        }
        described.sha256 = *digest;
        described.length = *length;
        entries.push_back(std::move(described));
    }
    return entries;
}
