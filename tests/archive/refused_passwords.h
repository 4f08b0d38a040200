#pragma once

// Traditional encryption checks a password against one byte of a random
// header, so one wrong password in 256 passes. Tests that expect a wrong
// password to be refused check that their archive refuses it in every
// enciphered entry; those that make it at run time make it again until it
// does, otherwise they would fail now and then.

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/reader/file_stream32.h"
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

// Runs `make` (a shell command writing zipPath) until the passwords are refused.
inline bool MakeArchiveRefusing(const std::string& make, const std::string& zipPath,
                                const std::vector<std::string>& passwords) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::remove(zipPath.c_str());
        if (std::system((make + " >/dev/null 2>&1").c_str()) != 0) return false;
        if (PasswordsRefusedByEveryEntry(zipPath, passwords)) return true;
    }
    return false;
}
