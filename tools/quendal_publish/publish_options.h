#pragma once

#include <optional>
#include <string>
#include <vector>

// The command line of quendal-publish.
struct PublishOptions {
    std::string keyFile;
    std::string version;
    int expiresDays = 30;
    std::string product = "Quendal";
    std::string archive;
};

// Nothing, with the reason in error, for a command line that is not
// --key FILE --version V [--expires-days N] [--product NAME] ARCHIVE.
std::optional<PublishOptions> ParsePublishOptions(const std::vector<std::string>& arguments, std::string& error);
