#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "install/install_file_system.h"
#include "install/update_folder.h"
#include "platform/file_times.h"
#include "platform/sha256.h"
#include "release/release_manifest.h"

// The SHA-256 of installed regular files, remembered in the updater's folder
// with each file's stamp (size, write time, change time, identity and
// attributes), so that a later run reads only the files whose stamp changed.
// Links are not kept: their target text is read each time, which costs one
// look.
//
// What it may miss, by design: a file whose bytes were changed in place with
// its size and write time put back, within one tick of the file system's
// clock after its last change (or with its change time set back too, which
// Windows lets a program do), is believed unchanged. A stamp whose write
// time and change time are both within kSettleNs of now is not remembered:
// a second write in the same tick of a coarse clock would leave it as it was.
//
// The file is one header line, then a line a file: the digest in hex, the
// size, the write time, the change time, the volume, the file id, the
// attributes, and the name (spaces allowed, no control character).
class TInstalledFileHashes {
public:
    // A larger file is not read at all: it was not written by this class
    // for any release the manifest limit allows.
    static constexpr size_t kMaxBytes = 16 * 1024 * 1024;
    static constexpr int64_t kSettleNs = 2'000'000'000;  // FAT keeps write times to 2 s

    // Loads folder.Hashes(): missing, unreadable, garbled, of another format
    // or over kMaxBytes, it knows nothing. Malformed lines are skipped; no
    // line is believed unless the file's stamp matches it.
    TInstalledFileHashes(TInstallFileSystem& files, const TUpdateFolder& folder);

    // True when what stands at the entry's name in the program folder is what
    // the entry lists: for a link entry a symbolic link (to a file, a folder
    // or nothing) whose target text has the entry's size and SHA-256; for any
    // other entry a regular file of its size, SHA-256 and mode (see
    // ModeMatchesEntry). Never through a linked folder, never for a name the
    // extractor would write under another name on this system.
    bool Matches(const release::ManifestEntry& entry);

    // The digest of the regular file at the program folder + `name` (an
    // archive entry name, '/'-separated, a plain relative path), or nothing
    // when no regular file is there, it is reached through a linked folder,
    // it cannot be read or it changed while it was read. Taken from the cache
    // when the file's stamp is the one recorded; otherwise the file is read
    // and the result remembered with its stamp.
    std::optional<platform::Sha256Digest> DigestOf(const std::string& name);

    // Records `digest` for the file now at `name` without reading it, when
    // that is still the file `checked` was taken of as the caller read it:
    // the same volume, file id, size and write time (its change time moves
    // when it is moved into place). Otherwise the name is forgotten.
    void Remember(const std::string& name, const platform::FileStamp& checked, const platform::Sha256Digest& digest);

    // Writes the names asked or remembered in this run (so files no longer in
    // a release drop out): a new file, flushed, renamed over the old one, the
    // folder flushed.
    bool Save();

    // Removes the cache, so that the next run reads every file: for an
    // install whose files' digests were not checked. True when none is left.
    static bool Clear(TInstallFileSystem& files, const TUpdateFolder& folder);

private:
    struct Entry {
        platform::FileStamp stamp;
        platform::Sha256Digest digest{};
        bool used = false;
    };

    void Load(const std::string& text);
    // The path of `name` when it names a place of the program folder itself:
    // a safe relative name, kept as it is by this system, and no linked
    // folder on the way.
    std::optional<std::string> PathOf(const std::string& name) const;
    void Record(const std::string& name, const platform::FileStamp& stamp, const platform::Sha256Digest& digest);

    TInstallFileSystem& files_;
    const TUpdateFolder folder_;
    std::map<std::string, Entry> entries_;
};
