// quendal-publish: writes ARCHIVE.manifest and ARCHIVE.manifest.sig beside
// an update archive, after reading the archive whole.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/format/path_names.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "release/manifest_json.h"
#include "tools/quendal_publish/archive_survey.h"
#include "tools/quendal_publish/manifest_signer.h"
#include "tools/quendal_publish/publish_options.h"
#include "platform/sha256.h"

namespace {

constexpr const char* kUsage =
    "usage: quendal-publish --key PRIVATE.pem --version 1.4.2 [--expires-days 30] [--product Quendal] ARCHIVE.zip\n";

int Fail(const std::string& message) {
    std::fprintf(stderr, "quendal-publish: %s\n", message.c_str());
    return 1;
}

bool WriteWhole(const std::string& path, const std::string& bytes) {
    platform::File file;
    return file.Open(path, platform::File::Mode::CreateAlways) &&
           file.Write(bytes.data(), bytes.size()) == static_cast<int64_t>(bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const std::optional<PublishOptions> options = ParsePublishOptions({argv + 1, argv + argc}, error);
    if (!options) {
        std::fprintf(stderr, "quendal-publish: %s\n%s", error.c_str(), kUsage);
        return 2;
    }
    std::string path = options->archive;
    if (!platform::IsAbsolutePath(path)) path = platform::CurrentDirectory() + path;
    if (!platform::FileExists(path)) return Fail("cannot find " + path);

    const auto entries = SurveyArchive(path, error);
    if (!entries) return Fail(path + " cannot be published: " + error);
    const std::optional<release::Sha256Digest> archiveDigest = platform::Sha256OfFile(path);
    platform::File archive;
    if (!archiveDigest || !archive.Open(path, platform::File::Mode::Read)) return Fail("cannot read " + path);

    const int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    const release::ReleaseManifest manifest{
        options->product,
        *release::ReleaseVersion::Parse(options->version),
        release::UtcTime::FromUnixSeconds(now),
        release::UtcTime::FromUnixSeconds(now + options->expiresDays * int64_t{86400}),
        {ExtractFileName(path), static_cast<uint64_t>(archive.Size()), *archiveDigest},
        *entries};
    std::string json;
    try {
        json = release::WriteManifest(manifest);
    } catch (const std::exception& e) {
        return Fail("an entry name is not UTF-8: " + std::string(e.what()));
    }
    // What is signed must be what every updater reads.
    if (const release::ManifestReadResult read = release::ReadManifest(json); !read.manifest)
        return Fail("the manifest would be refused: " + read.error);

    const std::optional<std::string> signature = SignWithPemKey(options->keyFile, json, error);
    if (!signature) return Fail(error);
    const std::string manifestPath = path + ".manifest";
    if (!WriteWhole(manifestPath, json) || !WriteWhole(manifestPath + ".sig", *signature)) {
        platform::RemoveFile(manifestPath);
        return Fail("cannot write " + manifestPath + " and its signature");
    }
    std::printf("%s: %zu entries, version %s, expires %s\n", manifestPath.c_str(), entries->size(),
                options->version.c_str(), manifest.expires.Text().c_str());
    return 0;
}
