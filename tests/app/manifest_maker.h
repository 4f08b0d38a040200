#pragma once

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/sha256.h"
#include "release/manifest_json.h"
#include "support/file_bytes.h"

// A release manifest of an archive, as quendal-publish writes it but without
// entries (the updater reads the archive's line only): published now,
// expiring `expiresIn` from now (negative: in the past).
inline std::string ManifestOf(const std::string& archive, const std::filesystem::path& work, const std::string& version,
                              std::chrono::seconds expiresIn = std::chrono::hours(24 * 30),
                              const std::string& product = "Quendal") {
    const std::filesystem::path file = work / "manifest-of.bin";
    test_files::WriteFile(file, archive);
    const auto digest = platform::Sha256OfFile(file.string());
    std::filesystem::remove(file);
    const int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    return release::WriteManifest({product,
                                   *release::ReleaseVersion::Parse(version),
                                   release::UtcTime::FromUnixSeconds(now),
                                   release::UtcTime::FromUnixSeconds(now + expiresIn.count()),
                                   {"Quendal.zip", archive.size(), *digest},
                                   {}});
}
