#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "archive/format/archive_types.h"
#include "archive/reader/disk_manager.h"  // TDrivePrompt
#include "platform/object.h"

// Event types of the archive components. The first argument is the sender:
// the component, or the disk-spanning object for the three disk events.
// Reference arguments are read back after the handler returns.

using TNotifyEvent = std::function<void(TObject* sender)>;
using TOnBegin = std::function<void(TObject* sender, const std::string& fileName, int32_t count, bool& extract)>;
using TOnEnd = std::function<void(TObject* sender, const std::string& fileName, bool crcPass)>;
using TOnError = std::function<void(TObject* sender, const std::string& fileName, const std::string& extendedMsg,
                                    const std::string& volumeID, int32_t eCode)>;
using TOnGetPassword =
    std::function<void(TObject* sender, const std::string& fileName, std::string& password, bool& tryAgain)>;
using TOnProgress = std::function<void(TObject* sender, uint8_t progressByFile, uint8_t progressByArchive)>;
using TOnElapsedTime = std::function<void(TObject* sender, float elapsedTime)>;
using TOnCorruptZipHeader = std::function<void(TObject* sender, THeaderTypeState headFlag, bool& cancel)>;
using TUnBase_OnFileExists = std::function<void(TObject* sender, const std::string& fileName,
                                                std::string& newFileName, TOverwriteMode& overwriteMode)>;
using TOnRenameFile = std::function<void(TObject* sender, const std::string& fileName, std::string& newFileName)>;
using TOnNextVolume = std::function<void(TObject* sender, std::string& volumeName, const std::string& volumeID,
                                         bool fExists, bool& cancel)>;
using TOnGetZipFirstDisk = std::function<void(TObject* sender, bool& cancel)>;
using TOnGetZipNextDisk = std::function<void(TObject* sender, const std::string& volumeName, bool& cancel)>;
using TOnGetZipLastDisk = std::function<void(TObject* sender, bool& cancel)>;

