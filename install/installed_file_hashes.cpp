#include "install/installed_file_hashes.h"

#include <charconv>
#include <string_view>

#include "install/install_journal.h"
#include "platform/file_system.h"
#include "platform/safe_path.h"

namespace {

constexpr std::string_view kHeader = "quendal installed-file hashes 1";

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
        if (!digest || !size || !writeTime || line.empty() || HasControlCharacter(line)) continue;
        entries_[std::string(line)] = {{*size, *writeTime}, *digest, false};
    }
}

std::optional<platform::FileStamp> TInstalledFileHashes::StampOf(const std::string& name) {
    // A name the extractor would write under another name on this system
    // (a device, a ':') has no installed file of its own to compare.
    if (!TInstallJournal::IsSafeRelativePath(name) || platform::NativeEntryName(name) != name) return std::nullopt;
    const std::string path = folder_.program + NativeRelativePath(name);
    // Through a linked folder the file could lie anywhere.
    if (platform::PathHasLinkBelow(folder_.program, path)) return std::nullopt;
    return files_.Stamp(path);
}

void TInstalledFileHashes::Record(const std::string& name, const platform::FileStamp& stamp,
                                  const platform::Sha256Digest& digest) {
    // A write in the same tick as the one seen would keep the stamp: such a
    // file is read again next time.
    if (stamp.writeTimeNs > platform::CurrentFileTimeNs() - kSettleNs || HasControlCharacter(name)) {
        entries_.erase(name);
        return;
    }
    entries_[name] = {stamp, digest, true};
}

std::optional<platform::Sha256Digest> TInstalledFileHashes::DigestOf(const std::string& name) {
    const std::optional<platform::FileStamp> before = StampOf(name);
    if (!before) {
        entries_.erase(name);
        return std::nullopt;
    }
    const auto known = entries_.find(name);
    if (known != entries_.end() && known->second.stamp == *before) {
        known->second.used = true;
        return known->second.digest;
    }
    const std::string path = folder_.program + NativeRelativePath(name);
    const std::optional<platform::Sha256Digest> digest = files_.Sha256(path);
    // Written to while it was read, the digest is of no whole version.
    if (!digest || files_.Stamp(path) != before) {
        entries_.erase(name);
        return std::nullopt;
    }
    Record(name, *before, *digest);
    return digest;
}

void TInstalledFileHashes::Remember(const std::string& name, const platform::Sha256Digest& digest) {
    const std::optional<platform::FileStamp> stamp = StampOf(name);
    if (stamp)
        Record(name, *stamp, digest);
    else
        entries_.erase(name);
}

bool TInstalledFileHashes::Save() {
    std::string text = std::string(kHeader) + '\n';
    for (const auto& [name, entry] : entries_) {
        if (!entry.used) continue;
        text += Hex(entry.digest) + ' ' + std::to_string(entry.stamp.size) + ' ' +
                std::to_string(entry.stamp.writeTimeNs) + ' ' + name + '\n';
    }
    // Never written so large that the next run would refuse it.
    if (text.size() > kMaxBytes) return false;
    return files_.ReplaceFileWhole(folder_.Root(), folder_.Hashes(), text);
}
