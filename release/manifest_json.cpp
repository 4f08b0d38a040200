#include "release/manifest_json.h"

#include <algorithm>
#include <limits>
#include <set>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

namespace release {

namespace {

using nlohmann::json;

// Thrown inside the reader only, with the message ReadManifest returns.
struct ManifestError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const json& Field(const json& object, const char* key, const std::string& where) {
    const auto found = object.find(key);
    if (found == object.end()) throw ManifestError(where + key + " is missing");
    return *found;
}

std::string String(const json& object, const char* key, const std::string& where) {
    const json& value = Field(object, key, where);
    if (!value.is_string()) throw ManifestError(where + key + " is not a string");
    std::string text = value.get<std::string>();
    if (text.empty()) throw ManifestError(where + key + " is empty");
    return text;
}

// A field a manifest of an earlier publisher may lack: 0 then.
uint64_t OptionalNumber(const json& object, const char* key, const std::string& where, uint64_t maximum) {
    if (!object.contains(key)) return 0;
    const json& value = object.at(key);
    if (!value.is_number_unsigned()) throw ManifestError(where + key + " is not a non-negative integer");
    const uint64_t number = value.get<uint64_t>();
    if (number > maximum) throw ManifestError(where + key + " is too large");
    return number;
}

uint64_t Number(const json& object, const char* key, const std::string& where) {
    const json& value = Field(object, key, where);
    // The parser gives a non-negative integer literal as unsigned; a negative
    // one as signed, a fraction or one past 2^64 as floating point.
    if (!value.is_number_unsigned()) throw ManifestError(where + key + " is not a non-negative integer");
    const uint64_t number = value.get<uint64_t>();
    if (number > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        throw ManifestError(where + key + " is too large");
    }
    return number;
}

// The value of hex digits, exactly digits of them, either case.
std::vector<uint8_t> HexBytes(const std::string& text, size_t digits, const std::string& what) {
    if (text.size() != digits) throw ManifestError(what + " is not " + std::to_string(digits) + " hex digits");
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < digits; i += 2) {
        int value = 0;
        for (size_t j = i; j < i + 2; ++j) {
            const char c = text[j];
            int digit;
            if (c >= '0' && c <= '9') digit = c - '0';
            else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
            else throw ManifestError(what + " is not " + std::to_string(digits) + " hex digits");
            value = value * 16 + digit;
        }
        bytes.push_back(static_cast<uint8_t>(value));
    }
    return bytes;
}

Sha256Digest Sha256(const json& object, const std::string& where) {
    const std::vector<uint8_t> bytes = HexBytes(String(object, "sha256", where), 64, where + "sha256");
    Sha256Digest digest;
    std::copy(bytes.begin(), bytes.end(), digest.begin());
    return digest;
}

uint32_t Crc32(const json& object, const std::string& where) {
    uint32_t crc = 0;
    for (const uint8_t byte : HexBytes(String(object, "crc32", where), 8, where + "crc32")) crc = crc << 8 | byte;
    return crc;
}

UtcTime Time(const json& object, const char* key) {
    const std::optional<UtcTime> time = UtcTime::Parse(String(object, key, ""));
    if (!time) throw ManifestError(std::string(key) + " is not a UTC time YYYY-MM-DDTHH:MM:SSZ");
    return *time;
}

const json& Object(const json& object, const char* key, const std::string& where) {
    const json& value = Field(object, key, where);
    if (!value.is_object()) throw ManifestError(where + key + " is not an object");
    return value;
}

ReleaseManifest Parse(const json& root) {
    if (!root.is_object()) throw ManifestError("the manifest is not a JSON object");
    const std::optional<ReleaseVersion> version = ReleaseVersion::Parse(String(root, "version", ""));
    if (!version) throw ManifestError("version is not dotted integers");

    const json& archiveJson = Object(root, "archive", "");
    ManifestArchive archive{String(archiveJson, "name", "archive."), Number(archiveJson, "length", "archive."),
                            Sha256(archiveJson, "archive.")};

    const json& entriesJson = Field(root, "entries", "");
    if (!entriesJson.is_array()) throw ManifestError("entries is not an array");
    std::vector<ManifestEntry> entries;
    std::set<std::string> names;
    for (size_t i = 0; i < entriesJson.size(); ++i) {
        const json& entry = entriesJson[i];
        const std::string where = "entries[" + std::to_string(i) + "].";
        if (!entry.is_object()) throw ManifestError("entries[" + std::to_string(i) + "] is not an object");
        ManifestEntry parsed{String(entry, "name", where), Number(entry, "size", where), Crc32(entry, where),
                             Sha256(entry, where),         Number(entry, "offset", where),
                             Number(entry, "length", where),
                             static_cast<uint16_t>(OptionalNumber(entry, "made_by", where, 0xFFFF)),
                             static_cast<uint32_t>(OptionalNumber(entry, "attributes", where, 0xFFFFFFFF))};
        if (!names.insert(parsed.name).second) throw ManifestError("entry " + parsed.name + " is listed twice");
        entries.push_back(std::move(parsed));
    }
    return ReleaseManifest{String(root, "product", ""), *version,          Time(root, "published"),
                           Time(root, "expires"),       std::move(archive), std::move(entries)};
}

std::string Hex(const uint8_t* bytes, size_t count) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 15];
    }
    return text;
}

}  // namespace

ManifestReadResult ReadManifest(std::string_view bytes) {
    if (bytes.size() > kMaxManifestBytes) return {std::nullopt, "the manifest is larger than 16 MiB"};
    const json root = json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (root.is_discarded()) return {std::nullopt, "the manifest is not valid JSON"};
    try {
        return {Parse(root), ""};
    } catch (const ManifestError& error) {
        return {std::nullopt, error.what()};
    }
}

std::string WriteManifest(const ReleaseManifest& manifest) {
    json entries = json::array();
    for (const ManifestEntry& entry : manifest.entries) {
        const uint8_t crc[4] = {static_cast<uint8_t>(entry.crc32 >> 24), static_cast<uint8_t>(entry.crc32 >> 16),
                                static_cast<uint8_t>(entry.crc32 >> 8), static_cast<uint8_t>(entry.crc32)};
        entries.push_back(json{{"name", entry.name},
                               {"size", entry.size},
                               {"crc32", Hex(crc, 4)},
                               {"sha256", Hex(entry.sha256.data(), entry.sha256.size())},
                               {"offset", entry.offset},
                               {"length", entry.length},
                               {"made_by", entry.versionMadeBy},
                               {"attributes", entry.externalAttributes}});
    }
    const json root{{"product", manifest.product},
                    {"version", manifest.version.Text()},
                    {"published", manifest.published.Text()},
                    {"expires", manifest.expires.Text()},
                    {"archive",
                     {{"name", manifest.archive.name},
                      {"length", manifest.archive.length},
                      {"sha256", Hex(manifest.archive.sha256.data(), manifest.archive.sha256.size())}}},
                    {"entries", entries}};
    return root.dump(2) + "\n";
}

}  // namespace release
