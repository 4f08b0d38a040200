#pragma once

#include <memory>

#include "archive/zip_common.h"

class TStream32;
class TFileStream32;
class TUnBaseHeaderObj;

// Extraction policies per file and the entry list of one run.
class TUnBase : public TZipCommon {
public:
    TUnBase();
    ~TUnBase() override;

    bool CreateStoredDirs() const { return createStoredDirs_; }
    void SetCreateStoredDirs(bool value) { createStoredDirs_ = value; }
    bool RestoreFileAttr() const { return restoreFileAttr_; }
    void SetRestoreFileAttr(bool value) { restoreFileAttr_ = value; }
    bool RecurseDirs() const { return recurseDirs_; }
    void SetRecurseDirs(bool value) { recurseDirs_ = value; }
    TCpuType CpuType() const { return cpuType_; }
    void SetCpuType(TCpuType value) { cpuType_ = value; }  // kept only

    // Also turns a CpuType of cpt80486 back into cptAuto.
    void ResetRunState() override;

protected:
    // Walks the archive and extracts the selected entries; the archive stream
    // may be replaced by another volume's. Nothing to do at this level.
    virtual void ExtractArchive(std::unique_ptr<TFileStream32>& /*archive*/) {}
    // Reads and tests the encryption header of the current entry; true when
    // the key state is ready for its data. No cipher at this level.
    virtual bool CheckPassword(TStream32& /*archive*/) { return false; }
    // Announces the end of an entry: OnEnd with the CRC verdict, or 25151
    // without an OnEnd handler. The verdict is false once cancelled or when
    // the entry failed before anything was written.
    virtual bool CheckEntryCrc(uint32_t storedCrc);
    // The verdict itself: the entry came out whole, its CRC matching.
    bool EntryPasses(uint32_t storedCrc) const;

    bool entryFailed_ = false;  // the current entry ended without being written

    bool createStoredDirs_ = false;
    bool restoreFileAttr_ = true;
    bool recurseDirs_ = true;
    TCpuType cpuType_ = cptAuto;
    std::unique_ptr<TUnBaseHeaderObj> entryList_;  // exists for the length of a run
};
