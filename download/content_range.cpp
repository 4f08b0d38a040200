#include "download/content_range.h"

namespace {

constexpr int64_t kMaxNumber = int64_t{1} << 53;

// Takes the leading digits of `text`; nothing when there are none or too many.
std::optional<int64_t> TakeNumber(std::string_view& text) {
    size_t digits = 0;
    int64_t value = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        value = value * 10 + (text[digits] - '0');
        if (value > kMaxNumber) return std::nullopt;
        ++digits;
    }
    if (digits == 0) return std::nullopt;
    text.remove_prefix(digits);
    return value;
}

bool TakeChar(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
}

}  // namespace

std::optional<TContentRange> TContentRange::Parse(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (!text.starts_with("bytes ")) return std::nullopt;
    text.remove_prefix(6);
    const std::optional<int64_t> first = TakeNumber(text);
    if (!first || !TakeChar(text, '-')) return std::nullopt;
    const std::optional<int64_t> last = TakeNumber(text);
    if (!last || !TakeChar(text, '/')) return std::nullopt;
    const std::optional<int64_t> total = TakeNumber(text);
    if (!total || !text.empty() || *first > *last || *last >= *total) return std::nullopt;
    return TContentRange{*first, *last, *total};
}
