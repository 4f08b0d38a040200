#pragma once

#include <cstdint>
#include <memory>

#include "platform/object.h"

class TFileStream32;
class TUnZip;

// The disk-spanning object of a component: asks, through the component's disk
// events, for the disks of a spanned archive. The disk events receive this
// object as their sender. Its stage counter says which disk is wanted:
// 0 the last, 1 the first, 2 and more the next.
class TDiskSpannObj : public TObject {
public:
    explicit TDiskSpannObj(TUnZip& owner) : owner_(owner) {}

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

    TUnZip& owner_;
    uint16_t stage_ = 0;
};
