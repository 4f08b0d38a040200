#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/format/archive_types.h"
#include "platform/object.h"

class TDiskManager;
class TFileStream32;

// What the disk-spanning object needs of the component it serves: the
// archive's name and type, detection run again on the disk in the drive, the
// disk events and the error reports.
class TDiskSpannHost {
public:
    virtual ~TDiskSpannHost() = default;

    virtual std::string SpannedArchiveFile() const = 0;
    virtual TArcType SpannedArcType() const = 0;
    // Detects the disk in the drive again, keeping the archive's name; true
    // when it holds the archive's ending records.
    virtual bool DetectSpannedDisk() = 0;
    // The size of the archive on the disk just opened.
    virtual void SpannedDiskOpened(int64_t archiveSize) = 0;
    // The disk did not come: the run is cancelled.
    virtual void CancelSpanned() = 0;
    // Whether the disk event of a stage (0 last, 1 first, 2 and more next) is
    // assigned, and the event itself, sent by `sender`.
    virtual bool DiskEventAssigned(uint16_t stage) const = 0;
    virtual void AskForDisk(TObject* sender, uint16_t stage, bool& cancel) = 0;
    // Queries the drive of the archive with the component's prompts.
    virtual bool QuerySpannedDrive(TDiskManager& disk) = 0;
    virtual TDiskManager& SpannedDiskManager() = 0;
    virtual void ReportSpannedError(const std::string& fileName, const std::string& extendedMsg,
                                    const std::string& volumeID, int32_t code) = 0;
};

// The disk-spanning object of a component: asks, through the component's disk
// events, for the disks of a spanned archive. The disk events receive this
// object as their sender. Its stage counter says which disk is wanted:
// 0 the last, 1 the first, 2 and more the next.
class TDiskSpannObj : public TObject {
public:
    explicit TDiskSpannObj(TDiskSpannHost& host) : host_(host) {}

    // Back to stage 0, for a new extraction.
    void Reset() { stage_ = 0; }
    uint16_t Stage() const { return stage_; }
    void SetStage(uint16_t stage) { stage_ = stage; }

    // Closes the archive, asks for the disk of the current stage until the
    // right one is in the drive, and opens the archive on it again. For the
    // first and next disks, `wantedHeader` is the position of the local header
    // wanted there, or -1 when the data goes on from the disk before. False
    // (with the component's cancel flag set) when the disk did not come.
    bool GetDisk(std::unique_ptr<TFileStream32>& archive, int64_t wantedHeader = -1);

    // Whether the disk in the drive holds the header wanted at `position`
    // (-1: whether it is the disk of the current stage, by its label).
    bool CheckDisk(int64_t position);

private:
    bool GetLastDisk();
    bool GetFirstOrNextDisk(int64_t wantedHeader);

    TDiskSpannHost& host_;
    uint16_t stage_ = 0;
};
