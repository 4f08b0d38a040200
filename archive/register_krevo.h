#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "archive/archive_events.h"
#include "archive/format/archive_facts.h"
#include "archive/format/archive_types.h"
#include "platform/object.h"

class TStream32;

// Root of the archive component family: the archive's name, its detected type
// and the facts detection learns about the file.
class TRegisterKrevo : public TObject {
public:
    TRegisterKrevo();
    ~TRegisterKrevo() override;

    // Assigning runs detection at once; a name that is not an existing file
    // clears ArchiveFile and leaves atNA.
    virtual std::string ArchiveFile() const { return archiveFile_; }
    virtual void SetArchiveFile(const std::string& fileName);

    TArcType ArcType() const { return arcType_; }
    // Ignores the value given and detects the type of ArchiveFile again;
    // raises EFOpenError ("Error opening file") when the file cannot be opened.
    virtual void SetArcType(TArcType ignored);

    int32_t ZipCmntBufSize() const { return zipCmntBufSize_; }
    void SetZipCmntBufSize(int32_t size);  // clamped to 2000..32767; kept only

    // Archive facts left by the last detection.
    int64_t ArchiveSize() const { return archiveSize_; }
    int64_t ArchiveOffset() const { return archiveOffset_; }
    int64_t OffsetAdjust() const { return offsetAdjust_; }
    int64_t CommentStart() const { return commentStart_; }
    THeaderTypeState HeaderState() const { return headerState_; }
    uint32_t ArchiveDate() const { return archiveDate_; }
    int32_t VolumeNumber() const { return volumeNumber_; }
    char VolumeLetter() const { return volumeLetter_; }
    // The work areas as detection and the walks left them.
    const std::array<uint8_t, 30>& LocalHeaderArea() const { return localHeader_; }
    const std::array<uint8_t, 46>& CentralHeaderArea() const { return centralHeader_; }
    const std::array<uint8_t, 22>& EndRecordArea() const { return endRecord_; }
    const std::array<uint8_t, 56>& Zip64EndRecordArea() const { return zip64EndRecord_; }
    const std::array<uint8_t, 20>& Zip64LocatorArea() const { return zip64Locator_; }
    const std::array<uint8_t, 512>& TarHeaderArea() const { return tarHeader_; }

    // Prompts for the disk checks of spanned archives; no published property
    // sets them.
    TDrivePrompt OnDriveNotReady;
    TDrivePrompt OnDiskWriteProtected;

protected:
    // Detection proper: reads the open archive, fills the archive facts and
    // returns the type. The base resets the facts and recognises nothing; the
    // detection layer supplies the format tests.
    virtual TArcType DetectArcType(TStream32& archive);
    // Derives the volume number and letter from ArchiveFile once a type is
    // recognised. The ZIP family always starts at volume 0.
    virtual void ReadVolumeNumber();
    // Opens ArchiveFile for reading with writers denied and runs DetectArcType;
    // false when the file cannot be opened.
    bool DetectOpenedArchive();
    // The archive facts and work areas, for detection and the directory walks.
    ArchiveFacts Facts() {
        return {archiveSize_,  archiveOffset_, offsetAdjust_,    commentStart_,    headerState_, archiveDate_,
                localHeader_,  centralHeader_, endRecord_,       zip64EndRecord_,  zip64Locator_, tarHeader_};
    }

    std::string archiveFile_;
    TArcType arcType_ = atNA;
    int32_t zipCmntBufSize_ = 0;

    int64_t archiveSize_ = 0;
    int64_t archiveOffset_ = -1;
    int64_t offsetAdjust_ = 0;
    int64_t commentStart_ = 0;
    THeaderTypeState headerState_;
    uint32_t archiveDate_ = 0;
    int32_t volumeNumber_ = 0;
    char volumeLetter_ = '\0';

    // Work areas holding the last records read, as they stand in the file.
    std::array<uint8_t, 30> localHeader_{};
    std::array<uint8_t, 46> centralHeader_{};
    std::array<uint8_t, 22> endRecord_{};
    std::array<uint8_t, 56> zip64EndRecord_{};
    std::array<uint8_t, 20> zip64Locator_{};
    std::array<uint8_t, 512> tarHeader_{};
};
