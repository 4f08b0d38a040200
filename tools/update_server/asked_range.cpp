#include "tools/update_server/asked_range.h"

#include <algorithm>
#include <optional>

namespace {

// A position of no more than 18 digits, so that it cannot overflow.
std::optional<size_t> ReadNumber(std::string_view text) {
    if (text.empty() || text.size() > 18 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    size_t value = 0;
    for (char c : text) value = value * 10 + static_cast<size_t>(c - '0');
    return value;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

}  // namespace

TAskedRange TAskedRange::Read(std::string_view header, size_t size) {
    constexpr std::string_view kUnit = "bytes=";
    header = Trim(header);
    if (!header.starts_with(kUnit)) return {};
    const std::string_view spec = Trim(header.substr(kUnit.size()));
    const size_t dash = spec.find('-');
    if (dash == std::string_view::npos || spec.find(',') != std::string_view::npos) return {};
    const std::string_view firstText = spec.substr(0, dash);
    const std::string_view lastText = spec.substr(dash + 1);
    if (firstText.empty()) {  // the last n bytes
        const std::optional<size_t> count = ReadNumber(lastText);
        if (!count) return {};
        if (*count == 0 || size == 0) return {Kind::Unsatisfiable};
        const size_t length = std::min(*count, size);
        return {Kind::Part, size - length, length};
    }
    const std::optional<size_t> first = ReadNumber(firstText);
    const std::optional<size_t> last = lastText.empty() ? std::optional<size_t>(SIZE_MAX) : ReadNumber(lastText);
    if (!first || !last || *first > *last) return {};
    if (*first >= size) return {Kind::Unsatisfiable};
    return {Kind::Part, *first, std::min(*last, size - 1) - *first + 1};
}
