#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "archive/unbase.h"

class TDiskSpannObj;

// The ZIP extraction component.
class TUnZip : public TUnBase {
public:
    TUnZip();
    ~TUnZip() override;

    // The header check for one candidate password against the current
    // entry's 12 raw header bytes; positions the entry key state on success.
    bool TestPassword(const std::string& password);

    // Reads the entry's 12-byte encryption header and finds its password:
    // the current one, then the Passwords list, then OnGetPassword up to
    // PasswordAttempts times. True when the key state is ready for the data.
    bool CheckPassword(TStream32& archive) override;

    TDiskSpannObj& DiskSpannObj() { return *diskSpannObj_; }

protected:
    // Bytes 12 to 23 keep the raw header as read, bytes 0 to 11 receive the
    // deciphered header of the latest test.
    std::array<uint8_t, 24> encryptionHeader_{};
    std::unique_ptr<TDiskSpannObj> diskSpannObj_;
};
