#pragma once

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

namespace platform {

// An open CNG algorithm provider, closed with the object.
class TCngAlgorithm {
public:
    explicit TCngAlgorithm(LPCWSTR id) { ok_ = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle_, id, nullptr, 0)); }
    ~TCngAlgorithm() {
        if (ok_) BCryptCloseAlgorithmProvider(handle_, 0);
    }
    TCngAlgorithm(const TCngAlgorithm&) = delete;
    TCngAlgorithm& operator=(const TCngAlgorithm&) = delete;
    bool Ok() const { return ok_; }
    BCRYPT_ALG_HANDLE Handle() const { return handle_; }

private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
    bool ok_ = false;
};

}  // namespace platform
