#include "tools/quendal_publish/release_entry_names.h"

#include <algorithm>
#include <map>
#include <string_view>

#include "install/install_journal.h"
#include "platform/ascii.h"
#include "platform/file_system.h"
#include "platform/windows_device_names.h"
#include "release/entry_name.h"

namespace {

std::string Entry(const std::string& name) { return "entry " + release::QuotedEntryName(name); }

// The name without a folder's trailing '/'.
std::string PathOf(const std::string& name) { return name.ends_with('/') ? name.substr(0, name.size() - 1) : name; }

// Why an updater would refuse this one name, or write it under another; empty
// when it takes the name as it stands. The updater's own checks, in the order
// its fetch, its extraction and its swap apply them.
std::string RefusedName(const TReleaseEntryName& entry) {
    const bool storedOtherwise = !entry.rawName.empty() && entry.rawName != entry.name;
    if (!release::IsPlainEntryName(entry.name) || (storedOtherwise && !release::IsPlainEntryName(entry.rawName))) {
        return Entry(entry.name) + (storedOtherwise ? " (stored as " + release::QuotedEntryName(entry.rawName) + ")" : "") +
               " is not a plain relative path below the program folder: a name may hold no control character, no "
               "\"\\\" and no \":\", no empty, \".\" or \"..\" part, may not start with \"/\" and may not lie in \"" +
               kUpdateFolderName + "/\"";
    }
    if (!TInstallJournal::IsSafeRelativePath(PathOf(entry.name)))
        return Entry(entry.name) + " is a path that the updater's install refuses to move";
    if (platform::NativeEntryName(entry.name) != entry.name)
        return Entry(entry.name) + " would be written under another name (a device name or a part of dots and spaces)";
    // Made here, installed on Windows: a part naming a device there is
    // refused wherever the release is published.
    for (size_t at = 0; at <= entry.name.size();) {
        const size_t slash = std::min(entry.name.find('/', at), entry.name.size());
        if (platform::IsWindowsDeviceName(std::string_view(entry.name).substr(at, slash - at)))
            return Entry(entry.name) + " names a device on Windows, where it would be written under another name";
        at = slash + 1;
    }
    return {};
}

// A file entry, and an entry that needs a folder of the same name.
std::string FileAndFolder(const std::string& file, const std::string& folderEntry) {
    return Entry(file) + " is a file, but " + Entry(folderEntry) + " makes a folder of that name" +
           (PathOf(folderEntry).starts_with(file) ? "" : " on Windows, where letter case does not tell names apart");
}

}  // namespace

std::string RefusedEntryNames(const std::vector<TReleaseEntryName>& entries) {
    for (const TReleaseEntryName& entry : entries)
        if (std::string why = RefusedName(entry); !why.empty()) return why;

    // Every name an entry takes, file or folder, by its letter-case key.
    struct Taken {
        std::string entry;  // the entry that took it
        bool file = false;
        bool listed = false;  // by an entry of its own, not only as a folder on an entry's path
    };
    std::map<std::string, Taken> taken;
    for (const TReleaseEntryName& entry : entries) {
        const std::string path = PathOf(entry.name);
        const bool file = path.size() == entry.name.size();
        for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
            const auto [at, added] = taken.try_emplace(platform::AsciiUpperCase(path.substr(0, slash)), Taken{entry.name, false, false});
            if (!added && at->second.file) return FileAndFolder(at->second.entry, entry.name);
        }
        const auto [at, added] = taken.try_emplace(platform::AsciiUpperCase(path), Taken{entry.name, file, true});
        if (added) continue;
        const Taken before = at->second;
        if (!before.listed) {  // a folder on an earlier entry's path
            if (file) return FileAndFolder(entry.name, before.entry);
            at->second = {entry.name, false, true};
        } else if (before.entry == entry.name) {
            return Entry(entry.name) + " is listed twice";
        } else if (before.file != file) {
            return before.file ? FileAndFolder(before.entry, entry.name) : FileAndFolder(entry.name, before.entry);
        } else {
            return Entry(before.entry) + " and " + Entry(entry.name) +
                   " differ only in letter case: they are one name on Windows";
        }
    }
    return {};
}
