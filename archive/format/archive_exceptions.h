#pragma once

#include <stdexcept>
#include <string>

#include "platform/errors.h"  // EInOutError, raised by the family as well

// Exceptions of the archive component family. Each is a plain exception with
// a message; RaiseError chooses the class by a thrower of this type.
class E_RAISE : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class EFOpenError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class EReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class EWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ERangeError : public std::runtime_error {
public:
    ERangeError() : std::runtime_error("Range check error") {}
};

// A failed operating-system call, worded as "System Error.  Code: %d.\r\n%s".
class EOSError : public std::runtime_error {
public:
    explicit EOSError(int errorCode);
    int ErrorCode() const { return errorCode_; }

private:
    int errorCode_;
};

// Names an exception class to RaiseError: a function that throws it with the
// message given.
using TExceptionClass = void (*)(const std::string& message);

template <class E>
[[noreturn]] void Raise(const std::string& message) {
    throw E(message);
}
