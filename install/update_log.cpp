#include "install/update_log.h"

#include <cstdio>

#include "install/install_file_system.h"
#include "platform/local_time.h"

namespace {

// Line breaks inside a value would split the record.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

}  // namespace

std::string TUpdateLog::Line(const TUpdateRunRecord& record) {
    const platform::LocalDateTime now = platform::CurrentLocalTime();
    char time[32];
    std::snprintf(time, sizeof time, "%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day, now.hour,
                  now.minute, now.second);
    std::string line = std::string(time) + " url=" + OneLine(record.url) +
                       " bytes=" + std::to_string(record.bytesReceived) + " result=" + OneLine(record.result);
    if (!record.step.empty()) line += " step=" + OneLine(record.step);
    if (!record.entry.empty()) line += " entry=" + OneLine(record.entry);
    if (record.errorCode != 0) line += " code=" + std::to_string(record.errorCode);
    // Last, as its reason may hold spaces.
    if (!record.fetch.empty()) line += " fetch=" + OneLine(record.fetch);
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
