#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include <vector>

#include "archive/unbase.h"
#include "archive/unbase_header_obj.h"

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

    // The entries of ArchiveFile that FileSpec selects, as the directory walk
    // lists them (errors reach OnError as in a run); empty when the archive
    // cannot be opened.
    std::vector<TUnBaseHeader> ListEntries();

protected:
    friend class TDiskSpannObj;

    // The two directory walks; both fill entryList_ and the run totals.
    int ReadCentralDirectory(TStream32& archive);
    int ReadLocalHeaders(TStream32& archive);
    // Builds the entry list of a run: asks for the last disk of a spanned
    // archive first, then walks the local headers when detection found only
    // those and the central directory otherwise. The number of entries.
    int WalkDirectory(std::unique_ptr<TFileStream32>& archive);
    int WalkHeaders(TStream32& archive, bool localHeaders);

    // Bytes 12 to 23 keep the raw header as read, bytes 0 to 11 receive the
    // deciphered header of the latest test.
    std::array<uint8_t, 24> encryptionHeader_{};
    std::unique_ptr<TDiskSpannObj> diskSpannObj_;
};
