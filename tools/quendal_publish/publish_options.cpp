#include "tools/quendal_publish/publish_options.h"

#include "release/release_version.h"

namespace {
constexpr int kMaxExpiresDays = 3650;
}

std::optional<PublishOptions> ParsePublishOptions(const std::vector<std::string>& arguments, std::string& error) {
    PublishOptions options;
    bool haveKey = false, haveVersion = false, haveArchive = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool takesValue =
            argument == "--key" || argument == "--version" || argument == "--expires-days" || argument == "--product";
        if (takesValue && i + 1 == arguments.size()) {
            error = argument + " needs a value";
            return std::nullopt;
        }
        if (argument == "--key") {
            options.keyFile = arguments[++i];
            haveKey = true;
        } else if (argument == "--version") {
            options.version = arguments[++i];
            if (!release::ReleaseVersion::Parse(options.version)) {
                error = "the version must be dotted integers (1.4.2): " + options.version;
                return std::nullopt;
            }
            haveVersion = true;
        } else if (argument == "--expires-days") {
            const std::string& days = arguments[++i];
            if (days.empty() || days.size() > 4 || days.find_first_not_of("0123456789") != std::string::npos ||
                std::stoi(days) < 1 || std::stoi(days) > kMaxExpiresDays) {
                error = "--expires-days takes a number of days from 1 to 3650: " + days;
                return std::nullopt;
            }
            options.expiresDays = std::stoi(days);
        } else if (argument == "--product") {
            options.product = arguments[++i];
            if (options.product.empty()) {
                error = "--product needs a name";
                return std::nullopt;
            }
        } else if (!argument.empty() && argument[0] == '-') {
            error = "unknown option " + argument;
            return std::nullopt;
        } else if (haveArchive) {
            error = "one archive only";
            return std::nullopt;
        } else {
            options.archive = argument;
            haveArchive = true;
        }
    }
    if (!haveKey || !haveVersion || !haveArchive) {
        error = "--key, --version and the archive are needed";
        return std::nullopt;
    }
    return options;
}
