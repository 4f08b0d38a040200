// The per-entry pipeline of TUnZip: begin events and overwrite policy, the
// output file, the dispatch to the decoder of the entry's method, the stored
// copy, the byte-wise output buffer, and date and attributes at the end.

#include <algorithm>
#include <string>
#include <vector>

#include "archive/codec/legacy_decoder.h"
#include "archive/reader/disk_spann_obj.h"
#include "archive/format/dos_date_time.h"
#include "archive/format/error_codes.h"
#include "archive/format/path_names.h"
#include "archive/reader/file_stream32.h"
#include "archive/unzip.h"
#include "archive/format/zip_records.h"
#include "archive/extract/link_target_stream.h"
#include "archive/extract/output_path.h"
#include "platform/ascii.h"
#include "platform/file_attributes.h"
#include "platform/file_replace.h"
#include "platform/file_system.h"
#include "platform/file_times.h"
#include "platform/safe_path.h"

namespace {

constexpr uint32_t kNormalFileAttributes = 0x20;
constexpr uint32_t kEncryptionHeaderSize = 12;
constexpr uint16_t kDataDescriptorFlag = 0x0008;
constexpr uint8_t kMadeOnUnix = 3;
constexpr uint32_t kUnixFileType = 0170000;
constexpr uint32_t kUnixSymbolicLink = 0120000;
constexpr uint64_t kMaxLinkTargetBytes = 4096;

// The error code the components report for a legacy decoder's fault.
int32_t LegacyFaultCode(LegacyFault fault) {
    switch (fault) {
        case LegacyFault::BadBlock: return ErrorCode::BadBlock;
        case LegacyFault::AmbiguousTree: return ErrorCode::AmbiguousTree;
        case LegacyFault::StackOverflow: return ErrorCode::StackOverflow;
        case LegacyFault::UnsupportedMethod: return ErrorCode::UnsupportedMethod;
        case LegacyFault::None: break;
    }
    return 0;
}

// Methods with a decoder: stored, Shrink, Reduce, Implode, Deflate, Deflate64.
bool IsSupportedMethod(uint32_t method) { return method <= 6 || method == 8 || method == 9; }

// Folders are named with a trailing separator, whatever attributes the tool
// that made the archive stored (many store none).
bool NamesAFolder(const std::string& name) { return !name.empty() && name.back() == platform::kPathSeparator; }

// Runs `finally` after `body`, also when body throws.
template <class Body, class Finally>
void WithFinally(Body&& body, Finally&& finally) {
    try {
        body();
    } catch (...) {
        finally();
        throw;
    }
    finally();
}

}  // namespace

bool TUnZip::EntryNameStaysInside() const { return OutputPathStaysInside(extractDir_, outputPath_); }

bool TUnZip::OutputPathFollowsNoLink(bool lastPartToo) {
    return linkFreeFolders_.FollowsNoLink(OutputRoot(extractDir_), outputPath_, lastPartToo);
}

bool TUnZip::ExtractEntry(std::unique_ptr<TFileStream32>& archive, std::unique_ptr<TFileStream32>& output,
                          const TZipLocalHeader& local, bool centralVariant, uint32_t attributes) {
    uint32_t storedCrc = local.crc32;
    // The local walk read the CRC of an entry that defers it to its data descriptor.
    if (!centralVariant && (local.flags & kDataDescriptorFlag) && currentEntry_) storedCrc = currentEntry_->Crc32;
    entryFailed_ = false;
    const bool isDirectory = (attributes & platform::kAttrDirectory) || NamesAFolder(entryName_);
    if (isDirectory) attributes |= platform::kAttrDirectory;
    const bool link = !isDirectory && centralVariant && IsSymbolicLinkEntry(attributes);

    if (!EntryNameStaysInside()) return RefuseEntry(ErrorCode::InvalidFileName, outputPath_, !isDirectory, storedCrc);
    // Known before anything is created, so that a file of that name stays as it is.
    if (!isDirectory && !IsSupportedMethod(entryDescriptor_.method))
        return RefuseEntry(ErrorCode::UnsupportedMethod, "", true, storedCrc);
    if (!isDirectory && StoredSizesDisagree()) return RefuseEntry(ErrorCode::CorruptInput, "", true, storedCrc);
    if (!BeginEntry(isDirectory)) {
        SkipEntry();
        return false;
    }
    entryEncrypted_ = !isDirectory && entryDescriptor_.Encrypted();
    if (entryEncrypted_ && !passwordFailed_ && !CheckPassword(*archive)) passwordFailed_ = true;
    if (arcType_ == atJar || arcType_ == atJarExe)
        attributes = ExtractFileName(outputPath_).empty() ? platform::kAttrDirectory : kNormalFileAttributes;

    try {
        if (attributes & platform::kAttrDirectory) {
            if (createStoredDirs_ && !OutputPathFollowsNoLink()) {
                ReportError(entryName_, outputPath_, "0", ErrorCode::InvalidFileName);
                entryFailed_ = true;
            } else if (createStoredDirs_ && !platform::ForceDirectories(outputPath_)) {
                entryFailed_ = true;
            } else {
                runningCrc_ = storedCrc;
                folderTimes_.push_back(
                    {outputPath_, local.dosDateTime, currentEntry_ ? currentEntry_->ModificationTime : std::nullopt});
            }
        } else if (!OutputPathFollowsNoLink(!link)) {
            ReportError(entryName_, outputPath_, "0", ErrorCode::InvalidFileName);
            SkipEntry();
            --filesExtracted_;
            entryFailed_ = true;
        } else if (link) {
            ExtractSymbolicLink(archive, storedCrc);
        } else if (!OpenOutput(output)) {
            ReportError(outputPath_, "", "0", ErrorCode::OpenError);
            SkipEntry();
            --filesExtracted_;
            entryFailed_ = true;
        } else {
            WriteEntryFile(archive, output, centralVariant, local, attributes, storedCrc);
        }
    } catch (...) {
        // A fatal data error ends this entry only.
    }
    return CheckEntryCrc(storedCrc);
}

bool TUnZip::RefuseEntry(int32_t code, const std::string& extendedMsg, bool skipData, uint32_t storedCrc) {
    ReportError(entryName_, extendedMsg, "0", code);
    if (skipData) SkipEntry();
    entryFailed_ = true;
    return CheckEntryCrc(storedCrc);
}

void TUnZip::WriteEntryFile(std::unique_ptr<TFileStream32>& archive, std::unique_ptr<TFileStream32>& output,
                            bool centralVariant, const TZipLocalHeader& local, uint32_t attributes,
                            uint32_t& storedCrc) {
    const bool skipped = entryEncrypted_ && passwordFailed_;
    bool decoded = false;
    WithFinally(
        [&] {
            if (skipped) {
                --filesExtracted_;
                SkipEntry();
                entryFailed_ = true;
                return;
            }
            // A CRC deferred to a data descriptor is taken from the central header.
            // Streamed enciphered entries keep other bytes in the local CRC
            // field, so the descriptor flag counts as well as a zero field.
            const TZipCentralHeader central = TZipCentralHeader::Parse(centralHeader_.data());
            const bool deferred = local.crc32 == 0 || (local.flags & kDataDescriptorFlag);
            if (centralVariant && central.compressedSize > 0 && deferred) storedCrc = central.crc32;
            DecodeEntry(archive, *output);
            runningCrc_ ^= 0xFFFFFFFF;
            // Data that ends before the declared size is damaged, whatever its CRC says.
            if (!entryFailed_ && !IsCancelled() &&
                static_cast<uint64_t>(output->Position()) < entryDescriptor_.unpackedSize) {
                ReportError(entryName_, "", "0", ErrorCode::UnexpectedEnd);
                entryFailed_ = true;
            }
            decoded = true;
        },
        [&] {
            if (skipped)
                outputPath_ = entryName_;
            else
                CloseOutput(output, outputPath_, attributes, local.dosDateTime, decoded && EntryPasses(storedCrc));
        });
}

bool TUnZip::IsSymbolicLinkEntry(uint32_t attributes) const {
    if (!currentEntry_ || !currentEntry_->CentralCopy) return false;
    const uint16_t madeBy = TZipCentralHeader::Parse(currentEntry_->CentralCopy->data()).versionMadeBy;
    return (madeBy >> 8) == kMadeOnUnix && ((attributes >> 16) & kUnixFileType) == kUnixSymbolicLink;
}

void TUnZip::ExtractSymbolicLink(std::unique_ptr<TFileStream32>& archive, uint32_t storedCrc) {
    auto refuse = [this](const std::string& target) {
        ReportError(entryName_, target, "0", ErrorCode::SkippedFile);
        --filesExtracted_;
        entryFailed_ = true;
    };
    if (entryEncrypted_ && passwordFailed_) {
        --filesExtracted_;
        SkipEntry();
        entryFailed_ = true;
        return;
    }
    if (entryDescriptor_.unpackedSize > kMaxLinkTargetBytes) {
        SkipEntry();
        refuse("");
        return;
    }
    TLinkTargetStream target;
    DecodeEntry(archive, target);
    runningCrc_ ^= 0xFFFFFFFF;
    if (runningCrc_ != storedCrc) return;  // the CRC check reports it; no link is made from damaged data
    if (target.Text().size() < entryDescriptor_.unpackedSize) {
        ReportError(entryName_, "", "0", ErrorCode::UnexpectedEnd);
        --filesExtracted_;
        entryFailed_ = true;
        return;
    }

    const std::string root = OutputRoot(extractDir_);
    const std::string folder = ExtractFilePath(outputPath_);
    if (target.Text().empty() || folder.compare(0, root.size(), root) != 0) {
        refuse(target.Text());
        return;
    }
    // The folders are made as a file's are; the target is then judged against them.
    if (!platform::ForceDirectories(folder)) {
        ReportError(outputPath_, "", "0", ErrorCode::OpenError);
        --filesExtracted_;
        entryFailed_ = true;
        return;
    }
    if (!LinkTargetStaysInside(root, folder, target.Text())) {
        refuse(target.Text());
        return;
    }
    // The overwrite decision is taken: what stands there goes, and a link
    // standing there is removed itself, never followed.
    platform::RemoveFile(outputPath_);
    if (!platform::CreateSymbolicLink(target.Text(), outputPath_)) {
        ReportError(outputPath_, "", "0", ErrorCode::OpenError);
        --filesExtracted_;
        entryFailed_ = true;
        return;
    }
    // Later entries must see the new link on their way.
    linkFreeFolders_.Forget();
}

void TUnZip::StampFolders() {
    // Deepest first is not needed: stamping a folder leaves its parent's time alone.
    for (const FolderTime& folder : folderTimes_) {
        if (!platform::DirectoryExists(folder.path) || platform::PathHasLinkBelow(OutputRoot(extractDir_), folder.path))
            continue;
        if (dateAttribute_ == daFileDate && folder.modificationTime)
            platform::SetPathWriteTimeUtc(folder.path, *folder.modificationTime);
        else
            platform::SetPathWriteTime(folder.path, DosDateTimeToLocal(EntryFileDate(folder.dosDateTime)));
    }
    folderTimes_.clear();
}

bool TUnZip::BeginEntry(bool isDirectory) {
    if (isDirectory) return true;
    TimerPause pause(elapsedTimer_);

    bool extract = true;
    if (OnBegin) {
        if (OnRenameFile) {
            std::string newFileName = outputPath_;
            OnRenameFile(this, outputPath_, newFileName);
            if (!newFileName.empty()) {
                // The name as built may lead through a link out of the target, which is
                // refused later: no folder is made through it before that.
                if (newFileName != outputPath_ || OutputPathFollowsNoLink())
                    platform::ForceDirectories(ExtractFilePath(newFileName));
                outputPath_ = newFileName;
            }
        }
        OnBegin(this, outputPath_, filesExtracted_ + 1, extract);
    }
    if (IsCancelled() || !extract) return false;

    if (!confirmOverwrites_) {
        if (overwriteMode_ != omOverwrite) return false;
        ++filesExtracted_;
        return true;
    }

    overwriteMode_ = omOverwrite;
    if (platform::FileExists(outputPath_)) {
        if (OnFileExists) {
            do {
                std::string newFileName;
                OnFileExists(this, outputPath_, newFileName, overwriteMode_);
                if (newFileName.empty()) newFileName = outputPath_;
                platform::ForceDirectories(ExtractFilePath(newFileName));
                if (overwriteMode_ == omOverwrite) {
                    if (platform::EqualsIgnoringAsciiCase(newFileName, outputPath_)) break;
                    outputPath_ = newFileName;
                }
            } while (!IsCancelled() && overwriteMode_ != omSkip &&
                     (platform::FileExists(outputPath_) || platform::DirectoryExists(outputPath_)));
            if (!IsCancelled() && overwriteMode_ != omSkip) {
                const int64_t existing = platform::GetFileAttributes(outputPath_);
                if (existing >= 0 && (existing & platform::kAttrReadOnly)) {
                    if (existing & (platform::kAttrSystem | platform::kAttrDirectory)) {
                        ReportError(outputPath_, "", "0", ErrorCode::WriteError);
                        return false;
                    }
                    // A link leading out of the target is refused later; what it points at stays untouched.
                    if (OutputPathFollowsNoLink()) platform::SetFileAttributes(outputPath_, platform::kAttrNormal);
                }
            }
        } else {
            ReportError(outputPath_, "OnFileExists", "0", ErrorCode::EventNotAssigned);
            overwriteMode_ = omSkip;
        }
    }
    const bool go = !IsCancelled() && overwriteMode_ == omOverwrite && !outputPath_.empty();
    if (go) ++filesExtracted_;
    return go;
}

bool TUnZip::OpenOutput(std::unique_ptr<TFileStream32>& output) {
    output.reset();
    if (entryEncrypted_ && passwordFailed_) return true;
    if (outputPath_.empty()) return false;
    // Entries mostly land in a folder that is already there: the folders are
    // made only when the file cannot be created without them.
    outputFile_ = platform::CreateOutputFile(outputPath_);
    if (outputFile_.handle < 0) {
        platform::ForceDirectories(ExtractFilePath(outputPath_));
        outputFile_ = platform::CreateOutputFile(outputPath_);
    }
    output = std::make_unique<TFileStream32>(outputFile_.handle);
    return output->Handle() >= 0;
}

void TUnZip::CloseOutput(std::unique_ptr<TFileStream32>& output, const std::string& path, uint32_t attributes,
                         uint32_t dosDateTime, bool whole) {
    if (!output) return;
    // The UTC time a Unix or NTFS tool stored is exact in any time zone; the
    // DOS date and time are local to wherever the archive was made.
    if (dateAttribute_ == daFileDate && currentEntry_ && currentEntry_->ModificationTime)
        platform::SetFileWriteTimeUtc(output->Handle(), *currentEntry_->ModificationTime);
    else
        platform::SetFileWriteTime(output->Handle(), DosDateTimeToLocal(EntryFileDate(dosDateTime)));
    if (!output->Close()) {
        ReportError(path, "", "0", ErrorCode::CloseError);
        entryFailed_ = true;
        whole = false;
    }
    output.reset();
    switch (outputFile_.kind) {
        case platform::OutputKind::InPlace: break;
        case platform::OutputKind::New:
            if (whole) break;
            platform::RemoveFile(path);
            return;
        case platform::OutputKind::Replacement:
            if (whole && platform::MoveReplacing(outputFile_.replacement, path)) break;
            platform::RemoveFile(outputFile_.replacement);
            if (whole) {
                ReportError(path, "", "0", ErrorCode::CloseError);
                --filesExtracted_;
                entryFailed_ = true;
            }
            return;
    }
    if (restoreFileAttr_ && attributes != kNormalFileAttributes) platform::SetFileAttributes(path, attributes);
}

bool TUnZip::StoredSizesDisagree() const {
    if (entryDescriptor_.method != 0) return false;
    const uint64_t header = entryDescriptor_.Encrypted() ? kEncryptionHeaderSize : 0;
    return entryDescriptor_.packedSize < header || entryDescriptor_.packedSize - header != entryDescriptor_.unpackedSize;
}

void TUnZip::SkipEntry() {
    const auto size = static_cast<int64_t>(entryDescriptor_.unpackedSize);
    bytesRemaining_ -= size;
    ReportProgress(size, size, static_cast<int64_t>(unpackedTotal_));
}

bool TUnZip::DecodeEntry(std::unique_ptr<TFileStream32>& archive, TStream32& output) {
    entryOutput_.fill = 0;
    entryOutput_.bytesPut = 0;
    entryOutput_.target = &output;
    runningCrc_ = 0xFFFFFFFF;
    if (entryDescriptor_.Encrypted())
        entryDescriptor_.packedSize -= std::min<uint64_t>(entryDescriptor_.packedSize, kEncryptionHeaderSize);
    entryOutput_.packedBytesLeft = entryDescriptor_.packedSize;
    entryOutput_.entryBytesLeft = entryDescriptor_.unpackedSize;

    bool volumesFound = true;
    WithFinally(
        [&] {
            try {
                switch (entryDescriptor_.method) {
                    case 0: {
                        uint64_t left = CopyStored(*archive, output, entryDescriptor_.unpackedSize);
                        while (left > 0 && !IsCancelled() && (arcType_ == atZipDS || arcType_ == atZipMV)) {
                            if (!OpenContinuationVolume(archive)) {
                                volumesFound = false;
                                break;
                            }
                            left = CopyStored(*archive, output, left);
                        }
                        break;
                    }
                    case 8: ExtractDeflate(archive, output); break;
                    case 9: ExtractDeflate64(archive, output); break;
                    default: {
                        if (!IsLegacyMethod(entryDescriptor_.method)) {
                            ReportError(outputPath_, "", "0", ErrorCode::UnsupportedMethod);
                            entryFailed_ = true;
                            break;
                        }
                        auto readPacked = [&](uint8_t* buffer, int32_t capacity) {
                            if (IsCancelled()) entryOutput_.packedBytesLeft = 0;
                            const auto want = static_cast<int32_t>(
                                std::min<uint64_t>(entryOutput_.packedBytesLeft, static_cast<uint64_t>(capacity)));
                            if (want == 0) return 0;
                            const int32_t got = ReadIn(*archive, buffer, want, kNoCrc, entryDescriptor_.Encrypted());
                            entryOutput_.packedBytesLeft -= static_cast<uint64_t>(got);
                            return got;
                        };
                        auto writePlain = [&](const uint8_t* data, int32_t count) {
                            std::copy_n(data, count, entryOutput_.buffer.begin());
                            entryOutput_.fill = count;
                            entryOutput_.bytesPut += static_cast<uint64_t>(count);
                            FlushOutput();
                            return !IsCancelled();
                        };
                        DecodeLegacyEntry(entryDescriptor_.method, entryDescriptor_.flags, entryDescriptor_.unpackedSize,
                                          readPacked, writePlain, [&](const LegacyResult& error) {
                                              entryFailed_ = true;
                                              const int32_t code = LegacyFaultCode(error.fault);
                                              if (error.raised)
                                                  RaiseError(outputPath_, "", "0", code);
                                              else
                                                  ReportError(outputPath_, "", "0", code);
                                          });
                        break;
                    }
                }
            } catch (...) {
                // A fatal data error of the decoder ends the entry; the CRC check reports it.
            }
        },
        [&] { FlushOutput(); });
    return volumesFound;
}

bool TUnZip::OpenContinuationVolume(std::unique_ptr<TFileStream32>& archive) {
    if (arcType_ == atZipDS) return diskSpannObj_->GetDisk(archive);
    const int32_t lastDisk = TZipEndRecord::Parse(endRecord_.data()).thisDisk;
    const std::string volumeRead = currentVolumeName_;
    if (!NextVolume(volumeNumber_, lastDisk, archive)) return false;
    // Past the last volume the name leads back to the file just read: going on
    // there would copy its bytes again as new data, without end.
    if (currentVolumeName_ != volumeRead) return true;
    ReportError(entryName_, currentVolumeName_, std::to_string(volumeNumber_), ErrorCode::VolumeOutOfSequence);
    entryFailed_ = true;
    return false;
}

uint64_t TUnZip::CopyStored(TStream32& archive, TStream32& output, uint64_t count) {
    const uint64_t size = entryDescriptor_.unpackedSize;
    auto& buffer = entryOutput_.buffer;
    while (count > 0 && entryOutput_.packedBytesLeft > 0) {
        const auto want = static_cast<int32_t>(
            std::min<uint64_t>({count, entryOutput_.packedBytesLeft, static_cast<uint64_t>(buffer.size())}));
        const int32_t got = ReadIn(archive, buffer.data(), want, kNoCrc, false);
        if (got <= 0) break;
        bytesRemaining_ -= got;
        DecipherWriteOut(output, buffer.data(), got, true, kCrc32);
        count -= static_cast<uint64_t>(got);
        entryOutput_.entryBytesLeft = count;
        entryOutput_.packedBytesLeft -= std::min<uint64_t>(entryOutput_.packedBytesLeft, static_cast<uint64_t>(got));
        ReportProgress(static_cast<int64_t>(size - count), static_cast<int64_t>(size),
                       static_cast<int64_t>(unpackedTotal_));
        if (IsCancelled()) break;
    }
    return count;
}

void TUnZip::PutByte(uint8_t value) {
    // Nothing beyond the declared size is written, whatever the data says.
    if (entryOutput_.bytesPut >= entryDescriptor_.unpackedSize) return;
    entryOutput_.buffer[static_cast<size_t>(entryOutput_.fill++)] = value;
    ++entryOutput_.bytesPut;
    if (entryOutput_.fill == TEntryOutputState::kBufferSize) FlushOutput();
}

void TUnZip::FlushOutput() {
    const int32_t count = entryOutput_.fill;
    if (count == 0 || !entryOutput_.target) return;
    entryOutput_.fill = 0;
    const int32_t written = WriteOut(*entryOutput_.target, entryOutput_.buffer.data(), count, true, kCrc32);
    if (written <= 0) RaiseError(outputPath_, "", "0", ErrorCode::WriteError);
    const auto size = entryDescriptor_.unpackedSize;
    bytesRemaining_ -= written;
    entryOutput_.entryBytesLeft -= std::min<uint64_t>(entryOutput_.entryBytesLeft, static_cast<uint64_t>(written));
    ReportProgress(static_cast<int64_t>(size - entryOutput_.entryBytesLeft), static_cast<int64_t>(size),
                   static_cast<int64_t>(unpackedTotal_));
}
