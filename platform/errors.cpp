#include "platform/errors.h"

EInOutError::EInOutError(int errorCode)
    : EInOutError(errorCode, platform::ErrorText(errorCode)) {}

EInOutError::EInOutError(int errorCode, const std::string& message)
    : std::runtime_error(message), errorCode_(errorCode) {}
