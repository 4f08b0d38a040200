#include "install/install_journal.h"

#include <string_view>

#include "platform/ascii.h"
#include "install/update_folder.h"

namespace {

constexpr std::string_view kHeader = "quendal-update-journal 2";
constexpr std::string_view kFirstHeader = "quendal-update-journal 1";
constexpr std::string_view kEnd = "end";

}  // namespace

std::string TInstallJournal::Text() const {
    std::string text(kHeader);
    text += '\n';
    for (const std::string& file : removed) text += "X " + file + '\n';
    for (const std::string& folder : prunedFolders) text += "P " + folder + '\n';
    for (const std::string& folder : folders) text += "D " + folder + '\n';
    for (const File& file : files) text += (file.kind == FileKind::Replacing ? "R " : "F ") + file.path + '\n';
    text += kEnd;
    text += '\n';
    return text;
}

bool TInstallJournal::IsSafeRelativePath(const std::string& path) {
    if (path.empty() || path.size() > 4096) return false;
    size_t start = 0;
    bool first = true;
    while (start <= path.size()) {
        const size_t slash = path.find('/', start);
        const std::string_view part =
            std::string_view(path).substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part.empty() || part == "." || part == "..") return false;
        if (first && platform::EqualsIgnoringAsciiCase(std::string(part), kUpdateFolderName)) return false;
        for (const char c : part) {
            if (static_cast<unsigned char>(c) < 0x20) return false;
#ifdef _WIN32
            if (c == '\\' || c == ':') return false;
#endif
        }
        first = false;
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return true;
}

TInstallJournal::ReadResult TInstallJournal::Parse(const std::string& text, TInstallJournal& journal) {
    journal = {};
    size_t at = 0;
    std::optional<bool> firstVersion;  // known once the header is read
    bool ended = false;
    while (at < text.size()) {
        const size_t newline = text.find('\n', at);
        // A last line without its newline was being written when the run stopped.
        if (newline == std::string::npos) return ended ? ReadResult::Complete : ReadResult::CutOff;
        const std::string line = text.substr(at, newline - at);
        at = newline + 1;
        if (!firstVersion) {
            if (line != kHeader && line != kFirstHeader) return ReadResult::Damaged;
            firstVersion = line == kFirstHeader;
            continue;
        }
        if (ended) {
            // Only the commit line may follow the list, and nothing after it.
            if (line + '\n' != kCommitLine || journal.committed) return ReadResult::Damaged;
            journal.committed = true;
            continue;
        }
        if (line == kEnd) {
            ended = true;
            continue;
        }
        if (line.size() <= 2 || line[1] != ' ' || !IsSafeRelativePath(line.substr(2))) return ReadResult::Damaged;
        std::string path = line.substr(2);
        switch (*firstVersion ? (line[0] == 'D' || line[0] == 'F' ? line[0] : '?') : line[0]) {
            case 'X': journal.removed.push_back(std::move(path)); break;
            case 'P': journal.prunedFolders.push_back(std::move(path)); break;
            case 'D': journal.folders.push_back(std::move(path)); break;
            case 'R': journal.files.push_back({std::move(path), FileKind::Replacing}); break;
            case 'F':
                journal.files.push_back({std::move(path), *firstVersion ? FileKind::Unknown : FileKind::New});
                break;
            default: return ReadResult::Damaged;
        }
    }
    return ended ? ReadResult::Complete : ReadResult::CutOff;
}
