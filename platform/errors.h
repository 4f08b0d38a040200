#pragma once

#include <stdexcept>
#include <string>

namespace platform {

// The calling thread's last operating-system error code (errno here).
int LastError();

// Sets the calling thread's last error code, so that a caller can tell a
// fresh failure from an old one.
void SetLastError(int code);

// The operating system's text for an error code.
std::string ErrorText(int code);

}  // namespace platform

// An input/output failure carrying the operating system's error code and its
// text, as a runtime library's I/O error would.
class EInOutError : public std::runtime_error {
public:
    explicit EInOutError(int errorCode);
    EInOutError(int errorCode, const std::string& message);
    int ErrorCode() const { return errorCode_; }

private:
    int errorCode_;
};
