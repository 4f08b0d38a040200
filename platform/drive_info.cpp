#include "platform/drive_info.h"

#include <utility>

namespace platform {

DriveInfo& SystemDrives();  // in the platform's own folder

namespace {
DriveInfo*& Replacement() {
    static DriveInfo* replacement = nullptr;
    return replacement;
}
DriveNotAccessiblePrompt& Prompt() {
    static DriveNotAccessiblePrompt prompt;
    return prompt;
}
}  // namespace

DriveInfo& Drives() { return Replacement() ? *Replacement() : SystemDrives(); }
void SetDriveInfo(DriveInfo* replacement) { Replacement() = replacement; }

void SetDriveNotAccessiblePrompt(DriveNotAccessiblePrompt prompt) { Prompt() = std::move(prompt); }
bool AskRetryDriveNotAccessible(const std::string& text) { return Prompt() ? Prompt()(text) : false; }

}  // namespace platform
