#include "download/resume_state.h"

#include "platform/file.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

constexpr const char* kMagic = "quendal-resume 1";
// Lines are short header values; anything longer is no side file of ours.
constexpr size_t kMaxValue = 1024;
constexpr size_t kMaxSideFile = 4 * kMaxValue;

std::optional<int64_t> ParseCount(const std::string& text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > INT32_MAX) return std::nullopt;
    return value;
}

}  // namespace

bool TResumeState::IsUsableValue(const std::string& value) {
    return value.size() <= kMaxValue &&
           std::none_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

std::optional<TResumeState> TResumeState::Load(const std::string& sideFile) {
    platform::File file;
    if (!file.Open(sideFile, platform::File::Mode::Read)) return std::nullopt;
    std::string text(kMaxSideFile + 1, '\0');
    size_t got = 0;
    for (int64_t n; got < text.size() && (n = file.Read(text.data() + got, text.size() - got)) > 0;)
        got += static_cast<size_t>(n);
    if (got > kMaxSideFile) return std::nullopt;
    text.resize(got);

    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) return std::nullopt;  // cut short
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (lines.size() != 5 || lines[0] != kMagic) return std::nullopt;
    TResumeState state{lines[1], lines[2], lines[3]};
    const std::optional<int64_t> held = ParseCount(lines[4]);
    if (!held || state.url.empty() ||
        !std::all_of(lines.begin() + 1, lines.begin() + 4, [](const std::string& v) { return IsUsableValue(v); }))
        return std::nullopt;
    state.bytesHeld = *held;
    return state;
}

bool TResumeState::Save(const std::string& sideFile) const {
    if (!IsUsableValue(url) || !IsUsableValue(etag) || !IsUsableValue(lastModified)) return false;
    const std::string text = std::string(kMagic) + "\n" + url + "\n" + etag + "\n" + lastModified + "\n" +
                             std::to_string(bytesHeld) + "\n";
    platform::File file;
    return file.Open(sideFile, platform::File::Mode::CreateAlways) &&
           file.Write(text.data(), text.size()) == static_cast<int64_t>(text.size());
}
