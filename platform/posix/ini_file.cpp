#include "platform/ini_file.h"

#include "platform/ascii.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <vector>

namespace platform {
namespace {

std::string Trim(const std::string& text) {
    const char* blanks = " \t\r";
    auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The section name of a "[name]" line, or nothing for any other line.
std::optional<std::string> SectionName(const std::string& line) {
    std::string trimmed = Trim(line);
    if (trimmed.size() < 2 || trimmed.front() != '[') return std::nullopt;
    auto close = trimmed.find(']');
    if (close == std::string::npos) return std::nullopt;
    return Trim(trimmed.substr(1, close - 1));
}

std::optional<std::string> KeyName(const std::string& line) {
    auto equals = line.find('=');
    if (equals == std::string::npos) return std::nullopt;
    std::string key = Trim(line.substr(0, equals));
    if (key.empty() || key[0] == ';') return std::nullopt;
    return key;
}

// Splits into lines without their "\n"; a "\r" before it stays part of the
// line so that untouched lines are written back exactly.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool WriteAtomically(const std::string& path, const std::string& content) {
    struct stat old {};
    const bool exists = ::stat(path.c_str(), &old) == 0;
    // The rename would replace a read-only file that refuses writes in place.
    if (exists && S_ISREG(old.st_mode) && (old.st_mode & 0222) == 0) return false;
    std::string temp = path + ".tmpXXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    ::fchmod(fd, exists ? (old.st_mode & 07777) : 0644);
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    bool ok = done == content.size() && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
    ::unlink(temp.c_str());
    return false;
}

}  // namespace

bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path) {
    std::string text;
    if (std::ifstream in{path, std::ios::binary}) {
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    // New lines follow the file's own line ends; a new file gets the INI
    // format's customary CR LF.
    const bool crlf = text.empty() || text.find("\r\n") != std::string::npos;
    const std::string cr = crlf ? "\r" : "";
    const std::string entry = key + "=" + value + cr;
    const bool endsWithNewline = text.empty() || text.back() == '\n';

    std::vector<std::string> lines = SplitLines(text);
    std::optional<size_t> sectionAt;
    for (size_t i = 0; i < lines.size() && !sectionAt; ++i) {
        auto name = SectionName(lines[i]);
        if (name && EqualsIgnoringAsciiCase(*name, section)) sectionAt = i;
    }

    bool lastLineChanged = false;
    if (!sectionAt) {
        lines.push_back("[" + section + "]" + cr);
        lines.push_back(entry);
        lastLineChanged = true;
    } else {
        size_t end = *sectionAt + 1;
        while (end < lines.size() && !SectionName(lines[end])) ++end;
        size_t insertAt = *sectionAt + 1;
        bool replaced = false;
        for (size_t i = *sectionAt + 1; i < end && !replaced; ++i) {
            auto name = KeyName(lines[i]);
            if (name && EqualsIgnoringAsciiCase(*name, key)) {
                lines[i] = entry;
                replaced = true;
                lastLineChanged = i + 1 == lines.size();
            }
            if (!Trim(lines[i]).empty()) insertAt = i + 1;
        }
        if (!replaced) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
            lastLineChanged = insertAt + 1 == lines.size();
        }
    }

    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        out += lines[i];
        if (i + 1 < lines.size() || endsWithNewline || lastLineChanged) out += '\n';
    }
    return WriteAtomically(path, out);
}

}  // namespace platform
