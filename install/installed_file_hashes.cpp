#include "install/installed_file_hashes.h"

#include <charconv>
#include <string_view>

#include "install/entry_on_disk.h"
#include "install/install_journal.h"
#include "platform/file_system.h"

namespace {

// Files of earlier formats, keyed by what the extractor sets, are not believed.
constexpr std::string_view kHeader = "quendal installed-file hashes 2";

bool HasControlCharacter(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
    return false;
}

std::string Hex(const platform::Sha256Digest& digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0f];
    }
    return text;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<platform::Sha256Digest> DigestFromHex(std::string_view text) {
    platform::Sha256Digest digest;
    if (text.size() != digest.size() * 2) return std::nullopt;
    for (size_t i = 0; i < digest.size(); ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        digest[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return digest;
}

// A whole decimal field, nothing before or after it.
template <typename Number>
std::optional<Number> NumberFrom(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// Cuts the text before the next space off `rest`.
std::string_view NextField(std::string_view& rest) {
    const size_t space = rest.find(' ');
    if (space == std::string_view::npos) {
        const std::string_view field = rest;
        rest = {};
        return field;
    }
    const std::string_view field = rest.substr(0, space);
    rest.remove_prefix(space + 1);
    return field;
}

}  // namespace

TInstalledFileHashes::TInstalledFileHashes(TInstallFileSystem& files, const TUpdateFolder& folder)
    : files_(files), folder_(folder) {
    if (const std::optional<std::string> text = files_.ReadFile(folder_.Hashes(), kMaxBytes)) Load(*text);
}

void TInstalledFileHashes::Load(const std::string& text) {
    std::string_view rest = text;
    const size_t headerEnd = rest.find('\n');
    if (headerEnd == std::string_view::npos || rest.substr(0, headerEnd) != kHeader) return;
    rest.remove_prefix(headerEnd + 1);
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        // A last line without its end was cut off by a crash: skipped as any damage.
        if (end == std::string_view::npos) break;
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end + 1);
        const auto digest = DigestFromHex(NextField(line));
        const auto size = NumberFrom<uint64_t>(NextField(line));
        const auto writeTime = NumberFrom<int64_t>(NextField(line));
        const auto changeTime = NumberFrom<int64_t>(NextField(line));
        const auto volume = NumberFrom<uint64_t>(NextField(line));
        const auto fileId = NumberFrom<uint64_t>(NextField(line));
        const auto attributes = NumberFrom<uint32_t>(NextField(line));
        if (!digest || !size || !writeTime || !changeTime || !volume || !fileId || !attributes || line.empty() ||
            HasControlCharacter(line))
            continue;
        entries_[std::string(line)] = {{*size, *writeTime, *changeTime, *volume, *fileId, *attributes}, *digest, false};
    }
}

std::optional<std::string> TInstalledFileHashes::PathOf(const std::string& name) const {
    // A name the extractor would write under another name on this system
    // (a device, a ':') has no installed file of its own to compare.
    if (!TInstallJournal::IsSafeRelativePath(name) || platform::NativeEntryName(name) != name) return std::nullopt;
    const std::string path = folder_.program + NativeRelativePath(name);
    // Through a linked folder the file could lie anywhere.
    if (ReachedThroughLinkedFolder(folder_.program, path)) return std::nullopt;
    return path;
}

void TInstalledFileHashes::Record(const std::string& name, const platform::FileStamp& stamp,
                                  const platform::Sha256Digest& digest) {
    // Any later change moves the change time, and an ordinary write the write
    // time too; within the tick of both, a second write could keep the
    // stamp: such a file is read again next time.
    const int64_t settled = platform::CurrentFileTimeNs() - kSettleNs;
    if ((stamp.writeTimeNs > settled && stamp.changeTimeNs > settled) || HasControlCharacter(name)) {
        entries_.erase(name);
        return;
    }
    entries_[name] = {stamp, digest, true};
}

bool TInstalledFileHashes::Matches(const release::ManifestEntry& entry) {
    const std::optional<std::string> path = PathOf(entry.name);
    if (!path) return false;
    if (entry.IsSymbolicLink()) return LinkMatchesEntry(files_, *path, entry);
    // Of another size or mode, the file is changed without being read.
    const std::optional<platform::FileStamp> stamp = files_.Stamp(*path);
    if (!stamp || stamp->size != entry.size || !ModeMatchesEntry(*stamp, entry)) return false;
    return DigestOf(entry.name) == entry.sha256;
}

std::optional<platform::Sha256Digest> TInstalledFileHashes::DigestOf(const std::string& name) {
    const std::optional<std::string> path = PathOf(name);
    const std::optional<platform::FileStamp> stamp = path ? files_.Stamp(*path) : std::nullopt;
    const auto known = entries_.find(name);
    if (stamp && known != entries_.end() && known->second.stamp == *stamp) {
        known->second.used = true;
        return known->second.digest;
    }
    const std::optional<TReadFile> read = stamp ? ReadRegularFile(files_, *path) : std::nullopt;
    if (!read) {
        entries_.erase(name);
        return std::nullopt;
    }
    Record(name, read->stamp, read->digest);
    return read->digest;
}

void TInstalledFileHashes::Remember(const std::string& name, const platform::FileStamp& checked,
                                    const platform::Sha256Digest& digest) {
    const std::optional<std::string> path = PathOf(name);
    const std::optional<platform::FileStamp> now = path ? files_.Stamp(*path) : std::nullopt;
    if (now && now->volume == checked.volume && now->fileId == checked.fileId && now->size == checked.size &&
        now->writeTimeNs == checked.writeTimeNs)
        Record(name, *now, digest);
    else
        entries_.erase(name);
}

bool TInstalledFileHashes::Save() {
    std::string text = std::string(kHeader) + '\n';
    for (const auto& [name, entry] : entries_) {
        if (!entry.used) continue;
        const platform::FileStamp& stamp = entry.stamp;
        text += Hex(entry.digest) + ' ' + std::to_string(stamp.size) + ' ' + std::to_string(stamp.writeTimeNs) + ' ' +
                std::to_string(stamp.changeTimeNs) + ' ' + std::to_string(stamp.volume) + ' ' +
                std::to_string(stamp.fileId) + ' ' + std::to_string(stamp.attributes) + ' ' + name + '\n';
    }
    // Never written so large that the next run would refuse it.
    if (text.size() > kMaxBytes) return false;
    return files_.ReplaceFileWhole(folder_.Root(), folder_.Hashes(), text);
}

bool TInstalledFileHashes::Clear(TInstallFileSystem& files, const TUpdateFolder& folder) {
    return files.RemoveFile(folder.Hashes()) || !files.EntryExists(folder.Hashes());
}
