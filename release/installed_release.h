#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "release/release_version.h"

namespace release {

// What the updater records of the installed program, as INI text:
//
//   [Release]
//   Version=1.4.2          (the release in place; absent when it came without a manifest)
//   HighestVersion=1.4.2   (the highest ever installed: nothing below it is taken again)
struct InstalledRelease {
    std::optional<ReleaseVersion> version;
    std::optional<ReleaseVersion> highest;

    // The record anyone could have edited, read as untrusted: a value that is
    // not a version counts as absent, and the highest is never below the
    // installed version.
    static InstalledRelease Parse(std::string_view text);
    std::string Text() const;

    // The record once `installed` is in place (nothing: a release that came
    // without a manifest, whose version is unknown).
    InstalledRelease After(const std::optional<ReleaseVersion>& installed) const;

    // A record is a few lines; a larger file was not written by the updater.
    static constexpr size_t kMaxBytes = 4096;
};

}  // namespace release
