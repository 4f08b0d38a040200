#include "archive/format/archive_exceptions.h"

namespace {
std::string SystemErrorText(int errorCode) {
    return "System Error.  Code: " + std::to_string(errorCode) + ".\r\n" + platform::ErrorText(errorCode);
}
}  // namespace

EOSError::EOSError(int errorCode) : std::runtime_error(SystemErrorText(errorCode)), errorCode_(errorCode) {}
