#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/archive_events.h"
#include "archive/format/archive_exceptions.h"
#include "archive/format/archive_types.h"
#include "archive/format/dos_date_time.h"
#include "archive/krv_timer.h"
#include "archive/register_krevo.h"

class TDiskManager;
class TFileStream32;
class TStream32;

// CRC kinds of ReadIn and WriteOut.
inline constexpr int kCrc16 = 16;  // ARC/LHA CRC-16, reflected polynomial 0xA001
inline constexpr int kCrc32 = 32;  // the ZIP CRC-32
inline constexpr int kNoCrc = 0;

// Whole-number percentage of done over total: halves round to even, the
// result is clamped to 0..100, and a total of 0 or less gives 0.
uint8_t Percent(int64_t done, int64_t total);

// State and services shared by every archive component: selection and
// passwords, output naming, overwrite and date policies, the events, error
// and progress reports, the cancel flag and the elapsed-time timer.
class TZipCommon : public TRegisterKrevo {
public:
    TZipCommon();
    ~TZipCommon() override;

    // ---- published properties
    const TStringList& FileSpec() const { return fileSpec_; }
    TStringList& FileSpec() { return fileSpec_; }  // the matcher may rewrite a line
    void SetFileSpec(const TStringList& lines) { fileSpec_ = lines; }

    const TStringList& Passwords() const { return passwords_; }
    void SetPasswords(const TStringList& lines) { passwords_ = lines; }
    int32_t PasswordAttempts() const { return passwordAttempts_; }
    void SetPasswordAttempts(int32_t attempts) { passwordAttempts_ = attempts; }

    // The target folder, always ending in the path separator once set; an
    // empty value takes the folder of ArchiveFile.
    const std::string& ExtractDir() const { return extractDir_; }
    void SetExtractDir(const std::string& folder);
    bool UseStoredDirs() const { return useStoredDirs_; }
    void SetUseStoredDirs(bool value) { useStoredDirs_ = value; }
    bool TranslateOemChar() const { return translateOemChar_; }
    void SetTranslateOemChar(bool value) { translateOemChar_ = value; }

    TOverwriteMode OverwriteMode() const { return overwriteMode_; }
    void SetOverwriteMode(TOverwriteMode mode) { overwriteMode_ = mode; }
    bool ConfirmOverwrites() const { return confirmOverwrites_; }
    void SetConfirmOverwrites(bool value) { confirmOverwrites_ = value; }
    TDateAttribute DateAttribute() const { return dateAttribute_; }
    void SetDateAttribute(TDateAttribute value) { dateAttribute_ = value; }

    // ---- events
    TNotifyEvent OnActivate;
    TNotifyEvent OnDeactivate;
    TOnBegin OnBegin;
    TOnEnd OnEnd;
    TOnError OnError;
    TOnGetPassword OnGetPassword;
    TOnNextVolume OnNextVolume;
    TOnGetZipFirstDisk OnGetZipFirstDisk;
    TOnGetZipNextDisk OnGetZipNextDisk;
    TOnGetZipLastDisk OnGetZipLastDisk;
    TUnBase_OnFileExists OnFileExists;
    TOnProgress OnProgress;
    TOnCorruptZipHeader OnCorruptZipHeader;
    TOnRenameFile OnRenameFile;
    TOnElapsedTime OnElapsedTime;

    // ---- run state
    const std::string& Password() const { return password_; }  // the current password
    void SetPassword(const std::string& password);
    const std::string& EntryName() const { return entryName_; }
    const std::string& OutputPath() const { return outputPath_; }
    int32_t FilesExtracted() const { return filesExtracted_; }
    uint64_t UnpackedTotal() const { return unpackedTotal_; }
    uint64_t PackedTotal() const { return packedTotal_; }
    int64_t BytesRemaining() const { return bytesRemaining_; }
    uint32_t NewestDate() const { return newestDate_; }
    uint8_t LastFilePercent() const { return lastFilePercent_; }
    uint8_t LastArchivePercent() const { return lastArchivePercent_; }
    uint32_t RunningCrc() const { return runningCrc_; }
    TkrvTimer& ElapsedTimer() { return elapsedTimer_; }
    TDiskManager& DiskManager() { return *diskManager_; }
    // The flag itself, shared with the streams and the disk-spanning object.
    bool& CancelFlag() { return cancelFlag_; }

    // ---- services for the extraction pipeline and the decoders
    // Clears the state of the previous run: the cancel flag (without a
    // report), the counts and totals, the newest date, the last archive
    // percentage, the password flags, the current password and OutputPath.
    virtual void ResetRunState();
    virtual bool IsCancelled() const { return cancelFlag_; }
    // Stores the flag; setting it reports 25443 with ArchiveFile and OutputPath.
    virtual void SetCancel(bool value);
    // Calendar date-time of a DOS date-time; 0 and values that do not convert
    // give 1980-01-01 00:01:00.
    virtual TDateTime DosToDateTime(uint32_t dosDateTime) const;
    // Writes count bytes after DecipherBlock, so that the CRC covers the plain bytes.
    virtual int32_t DecipherWriteOut(TStream32& target, void* buffer, int32_t count, bool updateCrc, int crcKind);
    // Reads up to count bytes (a failed read counts as 0), deciphers them when
    // encrypted, and updates the running CRC of crcKind over them.
    virtual int32_t ReadIn(TStream32& source, void* buffer, int32_t count, int crcKind, bool encrypted);
    // Sets OutputPath from an entry name under ExtractDir (stored folders kept
    // when UseStoredDirs, a leading drive prefix and root separators dropped).
    virtual void BuildOutputPath(const std::string& name);
    // Deciphers a block of the current entry in place with the entry key
    // state, when the entry is enciphered and the archive is of the ZIP family.
    virtual void DecipherBlock(void* buffer, int32_t count);
    // Reports and then raises exceptionClass with the code's message, unless
    // the run is cancelled.
    virtual void RaiseError(TExceptionClass exceptionClass, const std::string& fileName,
                            const std::string& extendedMsg, const std::string& volumeID, int32_t code);
    void RaiseError(const std::string& fileName, const std::string& extendedMsg, const std::string& volumeID,
                    int32_t code) {
        RaiseError(&Raise<E_RAISE>, fileName, extendedMsg, volumeID, code);
    }
    // Fires OnError (with 25443 once cancelled); never raises by itself.
    virtual void ReportError(const std::string& fileName, const std::string& extendedMsg,
                             const std::string& volumeID, int32_t code);

    // Writes count bytes; a short write reports 25136 (or raises 25160 when
    // the disk is full) and lowers FilesExtracted. A complete write updates
    // the running CRC of crcKind when updateCrc is set.
    int32_t WriteOut(TStream32& target, const void* buffer, int32_t count, bool updateCrc, int crcKind);
    // Stores both percentages, pumps pending messages and fires OnProgress;
    // swallows any exception.
    void ReportProgress(int64_t fileDone, int64_t fileSize, int64_t archiveTotal);
    // The DOS date-time given to an extracted file under DateAttribute.
    uint32_t EntryFileDate(uint32_t entryDate) const;
    // Creates a unique empty file with the prefix "krv" in folder, or in the
    // system's temporary folder when folder is not an existing directory.
    // Empty when no file could be made.
    std::string MakeTempFileName(const std::string& folder) const;
    // Adds bytes to the running CRC of the given kind.
    void UpdateRunningCrc(int crcKind, const void* buffer, size_t count);

    // ---- volumes
    // Spanned (atZipDS: removable disk labelled "PKBACK# ...") or split
    // (atZipMV); atNA when the drive of ArchiveFile cannot be queried.
    TArcType CheckSpannedDisk();
    // The file of split volume `index` (0-based): the current volume name with
    // the extension ".z" + index + 1 in two or more digits; ArchiveFile itself
    // from the last index on.
    virtual std::string VolumeName(int32_t index, int32_t lastIndex) const;
    // Asks OnNextVolume for volume `index` and opens it as the archive stream;
    // false when it is missing or the request was cancelled.
    virtual bool NextVolume(int32_t index, int32_t lastIndex, std::unique_ptr<TFileStream32>& archive);
    const std::string& CurrentVolumeName() const { return currentVolumeName_; }
    void SetCurrentVolumeName(const std::string& name) { currentVolumeName_ = name; }

protected:
    // Detection of every format the family recognises (the root recognises none).
    TArcType DetectArcType(TStream32& archive) override;

    TStringList fileSpec_;
    TStringList passwords_;
    int32_t passwordAttempts_ = 3;
    std::string password_;
    size_t passwordCursor_ = 0;  // next password character for the ARJ cipher

    std::string extractDir_;
    bool useStoredDirs_ = true;
    bool translateOemChar_ = true;
    TOverwriteMode overwriteMode_ = omOverwrite;
    bool confirmOverwrites_ = false;
    TDateAttribute dateAttribute_ = daFileDate;

    bool cancelFlag_ = false;
    std::string entryName_;
    std::string outputPath_;
    int32_t filesExtracted_ = 0;
    uint64_t unpackedTotal_ = 0;
    uint64_t packedTotal_ = 0;
    int64_t bytesRemaining_ = 0;
    uint32_t newestDate_ = 0;
    uint8_t lastFilePercent_ = 0;
    uint8_t lastArchivePercent_ = 0;

    // The current entry is enciphered (and is not a folder); its password check failed.
    bool entryEncrypted_ = false;
    bool passwordFailed_ = false;
    // CRC accumulator of the current entry, before its final inversion.
    uint32_t runningCrc_ = 0xFFFFFFFF;

    TkrvTimer elapsedTimer_;
    std::unique_ptr<TDiskManager> diskManager_;
    std::string currentVolumeName_;  // the split volume read now; the current volume number is volumeNumber_
};
