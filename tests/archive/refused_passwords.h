#pragma once

// Traditional encryption checks a password against one byte of a random
// header, so one wrong password in 256 passes. Tests that expect a wrong
// password to be refused first check that their made archive refuses it in
// every enciphered entry (if not, make the archive again).

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/streams/file_stream32.h"
#include "archive/testable_unzip.h"

inline bool PasswordsRefusedByEveryEntry(const std::string& zipPath, const std::vector<std::string>& passwords) {
    TUnZip lister;
    lister.SetArchiveFile(zipPath);
    lister.SetFileSpec({"*"});
    std::ifstream in(zipPath, std::ios::binary);
    const std::string zip{std::istreambuf_iterator<char>(in), {}};
    for (const TUnBaseHeader& entry : lister.ListEntries()) {
        if (!(entry.Flags & 1)) continue;
        const size_t at = static_cast<size_t>(entry.Record.LocalPosition);
        if (at + 30 > zip.size()) return false;
        auto le16 = [&](size_t i) { return static_cast<uint8_t>(zip[i]) | static_cast<uint8_t>(zip[i + 1]) << 8; };
        TestableUnZip probe;
        probe.SetArcTypeDirectly(atZip);
        probe.SetLocalHeader(zip.substr(at, 30));
        probe.SetPasswordAttempts(0);
        TFileStream32 stream(zipPath, fmOpenRead | fmShareDenyWrite);
        stream.Seek(static_cast<int64_t>(at + 30 + le16(at + 26) + le16(at + 28)), TSeekOrigin::soBeginning);
        probe.CheckPassword(stream);  // loads the raw encryption header
        for (const std::string& password : passwords)
            if (probe.TestPassword(password)) return false;
    }
    return true;
}
