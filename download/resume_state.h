#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What is known of a partial download kept for a later attempt: where it came
// from, the server's validators of that file, and how many of its bytes are
// on the disk. Kept in a small side file beside the partial file.
struct TResumeState {
    std::string url;
    std::string etag;
    std::string lastModified;
    int64_t bytesHeld = 0;

    // The validator an If-Range carries (the ETag, else the date); empty
    // when the server gave none, and then the partial file is not trusted.
    const std::string& Validator() const { return etag.empty() ? lastModified : etag; }

    static std::string SideFileName(const std::string& fileName) { return fileName + ".resume"; }

    // Nothing when the side file is missing or is not one this code wrote
    // (a value too long or with control characters, a count out of range).
    static std::optional<TResumeState> Load(const std::string& sideFile);
    // False when the side file could not be written whole.
    bool Save(const std::string& sideFile) const;

    // Header values that may travel in a request line and in the side file.
    static bool IsUsableValue(const std::string& value);
};
