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

// The SHA-256 of installed files, remembered in the updater's folder with
// each file's stamp (size and last-write time), so that a later run reads
// only the files whose stamp changed.
//
// What it may miss, by design: a file whose bytes changed while its size and
// write time stayed (or were set back) is believed unchanged. A file written
// within kSettleNs of being read is not remembered, since a second write in
// the same tick of a coarse clock would leave its stamp as it was.
//
// The file is one header line, then a line a file: the digest in hex, the
// size, the write time, and the name (spaces allowed, no control character).
class TInstalledFileHashes {
public:
    // A larger file is not read at all: it was not written by this class
    // for any release the manifest limit allows.
    static constexpr size_t kMaxBytes = 16 * 1024 * 1024;
    static constexpr int64_t kSettleNs = 2'000'000'000;  // FAT keeps write times to 2 s

    // Loads folder.Hashes(): missing, unreadable, garbled or over kMaxBytes,
    // it knows nothing. Malformed lines are skipped; no line is believed
    // unless the file's stamp matches it.
    TInstalledFileHashes(TInstallFileSystem& files, const TUpdateFolder& folder);

    // The digest of the regular file at the program folder + `name` (an
    // archive entry name, '/'-separated, a plain relative path), or nothing
    // when no regular file is there, it is reached through a linked folder,
    // it cannot be read or it changed while it was read. Taken from the cache
    // when the file's stamp is the one recorded; otherwise the file is read
    // and the result remembered with its stamp.
    std::optional<platform::Sha256Digest> DigestOf(const std::string& name);

    // Records `digest` for the file now at `name` with its current stamp,
    // without reading it: the caller has just checked its bytes. Nothing is
    // recorded when it has no stamp.
    void Remember(const std::string& name, const platform::Sha256Digest& digest);

    // Writes the names asked or remembered in this run (so files no longer in
    // a release drop out) as the installed-release record is written: a new
    // file, flushed, renamed over the old one, the folder flushed.
    bool Save();

private:
    struct Entry {
        platform::FileStamp stamp;
        platform::Sha256Digest digest{};
        bool used = false;
    };

    void Load(const std::string& text);
    // The stamp of the file `name` names, when that is a regular file of the
    // program folder itself.
    std::optional<platform::FileStamp> StampOf(const std::string& name);
    void Record(const std::string& name, const platform::FileStamp& stamp, const platform::Sha256Digest& digest);

    TInstallFileSystem& files_;
    const TUpdateFolder folder_;
    std::map<std::string, Entry> entries_;
};
