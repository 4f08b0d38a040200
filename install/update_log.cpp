#include "install/update_log.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "install/install_file_system.h"

namespace {

// The length of the well-formed UTF-8 sequence `text` starts with (RFC 3629:
// no overlong forms, no surrogates, nothing above U+10FFFF); 0 for none.
size_t Utf8SequenceLength(std::string_view text) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

// A value as the log shows it: see TUpdateLog::Line.
std::string Escaped(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    size_t at = 0;
    while (at < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        const size_t length = Utf8SequenceLength(text.substr(at));
        // C1 controls, U+0080 to U+009F, are C2 80 to C2 9F.
        const bool control = c < 0x20 || c == 0x7F ||
                             (c == 0xC2 && length == 2 && static_cast<unsigned char>(text[at + 1]) <= 0x9F);
        if (c == '\\') {
            shown += "\\\\";
            ++at;
        } else if (length == 0 || control) {
            for (const size_t end = at + (length == 0 ? 1 : length); at < end; ++at) {
                char hex[5];
                std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(text[at]));
                shown += hex;
            }
        } else {
            shown.append(text.substr(at, length));
            at += length;
        }
    }
    return shown;
}

}  // namespace

std::string TUpdateLog::Line(const TUpdateRunRecord& record, const platform::ZonedLocalTime& when) {
    const platform::LocalDateTime& t = when.time;
    const int offset = std::abs(when.utcOffsetMinutes);
    char time[48];
    std::snprintf(time, sizeof time, "%04d-%02d-%02d %02d:%02d:%02d %c%02d%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, when.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
    std::string line = std::string(time) + " url=" + Escaped(record.url) +
                       " bytes=" + std::to_string(record.bytesReceived) + " result=" + Escaped(record.result);
    const auto add = [&line](const char* key, const std::string& value) {
        if (!value.empty()) line += std::string(" ") + key + "=" + Escaped(value);
    };
    add("step", record.step);
    add("entry", record.entry);
    if (record.errorCode != 0) line += " code=" + std::to_string(record.errorCode);
    add("installed", record.installedRelease);
    add("offered", record.offeredRelease);
    add("refused", record.refusedRelease);
    add("download", record.downloadFailure);
    add("fetch", record.fetch);  // last, where older readers look for it
    return line + '\n';
}

bool TUpdateLog::Append(const TUpdateRunRecord& record) {
    const std::string line = Line(record);
    const std::optional<std::string> old = files_.ReadFile(path_, kMaxBytes);
    // A log that is there but cannot be read within its limit starts afresh.
    if (!old && !files_.FileExists(path_)) return files_.AppendFile(path_, line);
    if (old && old->size() + line.size() <= kMaxBytes) return files_.AppendFile(path_, line);
    // Over the limit: keep the newest whole lines, rewritten beside the log
    // and renamed over it so that a crash leaves one or the other.
    std::string kept = old.value_or("") + line;
    if (kept.size() > kMaxBytes) {
        const size_t lineStart = kept.find('\n', kept.size() - kMaxBytes);
        kept.erase(0, lineStart == std::string::npos ? kept.size() - line.size() : lineStart + 1);
    }
    const std::string fresh = path_ + ".new";
    return files_.WriteFile(fresh, kept) && files_.Move(fresh, path_);
}
