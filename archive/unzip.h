#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <vector>

#include "archive/codec/inflate.h"
#include "archive/unbase.h"
#include "archive/reader/entry_extents.h"
#include "archive/extract/entry_state.h"
#include "archive/extract/output_path.h"
#include "archive/format/zip_records.h"
#include "archive/reader/disk_spann_obj.h"
#include "archive/reader/unbase_header_obj.h"
#include "platform/output_file.h"


// The ZIP extraction component.
class TUnZip : public TUnBase, private TDiskSpannHost {
public:
    TUnZip();
    ~TUnZip() override;

    // Opens ArchiveFile, walks its directory and extracts the selected
    // entries into ExtractDir, firing the events of a run; returns
    // FilesExtracted.
    int32_t ExtractFiles();
    // Entries the directory walk of the last run selected.
    int32_t EntriesSelected() const { return entriesSelected_; }
    // The declared uncompressed size of the entry being extracted.
    uint64_t EntrySize() const { return entryDescriptor_.unpackedSize; }

protected:
    // ---- the extraction run and the per-entry pipeline
    void ExtractArchive(std::unique_ptr<TFileStream32>& archive) override;
    void ExtractEntries(std::unique_ptr<TFileStream32>& archive, bool centralVariant);
    // One entry, its headers already read; the CRC verdict.
    bool ExtractEntry(std::unique_ptr<TFileStream32>& archive, std::unique_ptr<TFileStream32>& output,
                      const TZipLocalHeader& local, bool centralVariant, uint32_t attributes);
    // Ends an entry refused before anything is written: reported with code,
    // its data skipped when skipData, failed; the CRC verdict.
    bool RefuseEntry(int32_t code, const std::string& extendedMsg, bool skipData, uint32_t storedCrc);
    // Decodes the entry into its opened output file and closes it: put in
    // place when whole, dropped otherwise. A CRC the local header defers to a
    // data descriptor becomes the central header's in storedCrc.
    void WriteEntryFile(std::unique_ptr<TFileStream32>& archive, std::unique_ptr<TFileStream32>& output,
                        bool centralVariant, const TZipLocalHeader& local, uint32_t attributes, uint32_t& storedCrc);
    // The begin events and the overwrite decision; true to go on.
    bool BeginEntry(bool isDirectory);
    bool OpenOutput(std::unique_ptr<TFileStream32>& output);
    // Stamps and closes the output; a whole entry's file is put in place, a
    // failed one's is dropped, so that what stood there before stays.
    void CloseOutput(std::unique_ptr<TFileStream32>& output, const std::string& path, uint32_t attributes,
                     uint32_t dosDateTime, bool whole);
    // Progress for an entry that is not written.
    void SkipEntry();
    // Hands the entry's data to the decoder of its method; false only when a
    // needed volume could not be opened.
    bool DecodeEntry(std::unique_ptr<TFileStream32>& archive, TStream32& output);
    // Copies up to count stored bytes; the bytes not copied.
    uint64_t CopyStored(TStream32& archive, TStream32& output, uint64_t count);
    // The output buffer of the byte-wise decoders.
    void PutByte(uint8_t value);
    void FlushOutput();
    // The next volume of a split or spanned archive, for data that goes on there.
    bool OpenContinuationVolume(std::unique_ptr<TFileStream32>& archive);
    // Names that climb out of ExtractDir, and paths through symbolic links
    // below it, are never written. A link entry replaces a link standing at
    // its own name, so only its folders are looked at.
    bool EntryNameStaysInside() const;
    bool OutputPathFollowsNoLink(bool lastPartToo = true);
    // An entry made on Unix whose stored mode is a symbolic link.
    bool IsSymbolicLinkEntry(uint32_t attributes) const;
    // Makes the link, its folders first, when its target stays inside
    // ExtractDir; otherwise the entry is skipped with 26800 naming the target
    // (none when it is empty or too long).
    void ExtractSymbolicLink(std::unique_ptr<TFileStream32>& archive, uint32_t storedCrc);
    // Gives the folder entries of the run their stored times, once nothing
    // more is written inside them.
    void StampFolders();

    // ---- the Deflate and Deflate64 driver
    void ExtractDeflate(std::unique_ptr<TFileStream32>& archive, TStream32& output);
    void ExtractDeflate64(std::unique_ptr<TFileStream32>& archive, TStream32& output);
    void InflateEntry(std::unique_ptr<TFileStream32>& archive, TStream32& output, InflateVariant variant);

    struct FolderTime {
        std::string path;
        uint32_t dosDateTime = 0;
        std::optional<platform::UtcFileTime> modificationTime;
    };
    // The entry's stored sizes cannot describe a stored copy.
    bool StoredSizesDisagree() const;

    TEntryDescriptor entryDescriptor_;
    const TUnBaseHeader* currentEntry_ = nullptr;  // the list's record of the entry being extracted
    std::vector<FolderTime> folderTimes_;           // folder entries of the run, stamped at its end
    TEntryOutputState entryOutput_;
    TEntryExtents entryExtents_;  // of the entries of this run
    int32_t entriesSelected_ = 0;
    LinkFreeFolders linkFreeFolders_;  // of the outputs of this run
    platform::OutputFile outputFile_;  // how the current entry's file was opened

public:

    // The header check for one candidate password against the current
    // entry's 12 raw header bytes; positions the entry key state on success.
    bool TestPassword(const std::string& password);

    // Reads the entry's 12-byte encryption header and finds its password:
    // the current one, then the Passwords list, then OnGetPassword up to
    // PasswordAttempts times. True when the key state is ready for the data.
    bool CheckPassword(TStream32& archive) override;

    TDiskSpannObj& DiskSpannObj() { return *diskSpannObj_; }

    // The entries of ArchiveFile that FileSpec selects, as the directory walk
    // lists them (errors reach OnError as in a run); empty when the archive
    // cannot be opened.
    TUnBaseHeaderObj ListEntries();

protected:
    // The two directory walks; both fill entryList_ and the run totals.
    int ReadCentralDirectory(TStream32& archive);
    int ReadLocalHeaders(TStream32& archive);
    // Builds the entry list of a run: asks for the last disk of a spanned
    // archive first, then walks the local headers when detection found only
    // those and the central directory otherwise. The number of entries.
    int WalkDirectory(std::unique_ptr<TFileStream32>& archive);
    int WalkHeaders(TStream32& archive, bool localHeaders);

    // Bytes 12 to 23 keep the raw header as read, bytes 0 to 11 receive the
    // deciphered header of the latest test.
    std::array<uint8_t, 24> encryptionHeader_{};
    std::unique_ptr<TDiskSpannObj> diskSpannObj_;

private:
    // ---- what the disk-spanning object asks of the component
    std::string SpannedArchiveFile() const override { return ArchiveFile(); }
    TArcType SpannedArcType() const override { return ArcType(); }
    bool DetectSpannedDisk() override;
    void SpannedDiskOpened(int64_t archiveSize) override { archiveSize_ = archiveSize; }
    void CancelSpanned() override { cancelFlag_ = true; }
    bool DiskEventAssigned(uint16_t stage) const override;
    void AskForDisk(TObject* sender, uint16_t stage, bool& cancel) override;
    bool QuerySpannedDrive(TDiskManager& disk) override;
    TDiskManager& SpannedDiskManager() override { return DiskManager(); }
    void ReportSpannedError(const std::string& fileName, const std::string& extendedMsg, const std::string& volumeID,
                            int32_t code) override {
        ReportError(fileName, extendedMsg, volumeID, code);
    }
};
