#pragma once

#include <string>
#include <vector>

// One entry of a release as the publisher lists it.
struct TReleaseEntryName {
    std::string name;     // as the manifest names it: '/'-separated, a folder with a trailing '/'
    std::string rawName;  // as the archive's directory stores it; empty when not known
};

// Why a release with these entries cannot be published under their names,
// naming the first entry at fault; empty when it can. A name is refused when
// an updater would refuse it or write it under another name: one that is not
// a plain relative path below the program folder (release::IsPlainEntryName,
// applied to the stored name too), one the swap would not move
// (TInstallJournal::IsSafeRelativePath), one the extractor renames on this
// system (platform::NativeEntryName: on Windows a device name, or a part of
// dots and spaces; elsewhere it renames nothing).
// And a set of names is refused when two entries have the same name, also
// in another ASCII letter case (one file on Windows), or when an entry is a
// file where another entry makes a folder.
std::string RefusedEntryNames(const std::vector<TReleaseEntryName>& entries);
