// The INI editor on any existing file. Writing a key must succeed, change one
// line or add up to two (a section and its key), keep every other line as it
// was, and writing the same key again must leave the file unchanged.
//
// Input: file text, section, key and value, separated by NUL bytes. Names and
// values that a profile file cannot hold (line breaks, brackets in a section,
// "=" in a key, surrounding blanks) are left out.

#include "fuzz_support.h"
#include "platform/ini_file.h"

#include <cstdio>
#include <cstdlib>

namespace {

bool Holds(const std::string& text, const char* bytes) { return text.find_first_of(bytes) != std::string::npos; }

bool Padded(const std::string& text) {
    const char* blanks = " \t";
    return text.empty() || Holds(text.substr(0, 1), blanks) || Holds(text.substr(text.size() - 1), blanks);
}

std::string WithoutCr(std::string text) {
    std::erase(text, '\r');
    return text;
}

[[noreturn]] void Fail(const char* what, const std::string& before, const std::string& after) {
    std::fprintf(stderr, "%s\n--- before (%zu bytes)\n%s\n--- after (%zu bytes)\n%s\n", what, before.size(),
                 before.c_str(), after.size(), after.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> fields = fuzz_support::Fields(data, size, '\0');
    if (fields.size() != 4) return 0;
    const std::string &text = fields[0], &section = fields[1], &key = fields[2], &value = fields[3];
    if (Padded(section) || Holds(section, "\r\n[]") || Padded(key) || Holds(key, "\r\n=[;") || Holds(value, "\r\n"))
        return 0;

    const auto path = fuzz_support::Scratch() / "profile.ini";
    fuzz_support::WriteWhole(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (!platform::WriteProfileString(section, key, value, path.string())) Fail("the write failed", text, "");
    const std::string once = fuzz_support::ReadWhole(path);

    // Every line but one stays, and at most a section line and the key line
    // (and the line end the old last line lacked) are added.
    const std::vector<std::string> before = fuzz_support::Fields(
        reinterpret_cast<const uint8_t*>(text.data()), text.size(), '\n');
    const std::vector<std::string> after = fuzz_support::Fields(
        reinterpret_cast<const uint8_t*>(once.data()), once.size(), '\n');
    size_t prefix = 0;
    while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix]) ++prefix;
    size_t suffix = 0;
    while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    if (prefix + suffix + 1 < before.size() || after.size() > before.size() + 3)
        Fail("lines other than the key's changed", text, once);
    if (once.find(key + "=" + value) == std::string::npos) Fail("the key line is missing", text, once);

    if (!platform::WriteProfileString(section, key, value, path.string())) Fail("the second write failed", once, "");
    // A last line ending in a lone CR becomes CR LF after the first write, which
    // turns the new lines of the second to CR LF as well: compare without CR.
    std::string twice = fuzz_support::ReadWhole(path);
    if (WithoutCr(twice) != WithoutCr(once)) Fail("writing the same key again changed the file", once, twice);
    return 0;
}
