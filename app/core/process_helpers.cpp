#include "app/core/process_helpers.h"

#include "platform/ascii.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/process_list.h"

namespace {

// What follows the last folder separator or drive colon. In UTF-8 neither
// byte occurs inside a multi-byte character, so a byte scan is safe.
std::string FileNamePart(const std::string& text) {
    auto cut = text.find_last_of(std::string(1, platform::kPathSeparator) + ":");
    return cut == std::string::npos ? text : text.substr(cut + 1);
}

}  // namespace

bool IsProcessRunning(const std::string& exeName) {
    const std::string wanted = FileNamePart(exeName);
    for (const auto& process : platform::SnapshotProcesses()) {
        if (process.id != 0 && platform::EqualsIgnoringAsciiCase(wanted, process.exeName)) return true;
    }
    return false;
}

bool KillProcessByName(const std::string& exeName) {
    bool result = false;
    for (const auto& process : platform::SnapshotProcesses()) {
        if (platform::EqualsIgnoringAsciiCase(exeName, FileNamePart(process.exeName)) ||
            platform::EqualsIgnoringAsciiCase(exeName, process.exeName))
            result = platform::TerminateProcess(process.id);
    }
    return result;
}

std::string FlagFilePath(const std::string& fileName, const std::string& programFolder) {
    std::string path;
    if (fileName.empty())
        path = programFolder + "vkr.dat";
    else if (fileName.find_first_of(platform::kPathSeparators) == std::string::npos)
        path = programFolder + fileName;
    else
        path = fileName;
    const bool hasThreeCharExtension = path.size() >= 4 && path.rfind('.') == path.size() - 4;
    if (!hasThreeCharExtension) path += ".dat";
    return path;
}

bool WriteIniValue(const std::string& fileName, const std::string& section,
                   const std::string& key, const std::string& value) {
    return platform::WriteProfileString(section, key, value,
                                        FlagFilePath(fileName, platform::ProgramFolder()));
}
