#include "platform/safe_path.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/file_system.h"
#include "platform/win32/reparse_data.h"
#include "platform/win32/wide_text.h"

// The system headers map this name to the wide variant of their own function.
#undef CreateSymbolicLink

namespace platform {
namespace {

// Where the folders of a path begin: after "C:\" or "\\server\share\".
size_t FirstFolderAt(const std::string& path) {
    auto isSeparator = [](char c) { return c == '\\' || c == '/'; };
    if (path.size() >= 2 && path[1] == ':') return path.size() > 2 && isSeparator(path[2]) ? 3 : 2;
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        const size_t server = path.find_first_of(kPathSeparators, 2);
        const size_t share = server == std::string::npos ? server : path.find_first_of(kPathSeparators, server + 1);
        return share == std::string::npos ? path.size() : share + 1;
    }
    return !path.empty() && isSeparator(path[0]) ? 1 : 0;
}

bool MakeFolder(const std::string& path) {
    return ::CreateDirectoryW(Widen(path).c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

bool ForceDirectories(const std::string& folder) {
    if (folder.empty()) return false;
    if (DirectoryExists(folder)) return true;  // the common case: one look instead of one per level
    for (size_t at = folder.find_first_of(kPathSeparators, FirstFolderAt(folder)); at != std::string::npos;
         at = folder.find_first_of(kPathSeparators, at + 1)) {
        if (!MakeFolder(folder.substr(0, at))) return false;
    }
    if (!MakeFolder(folder)) return false;
    return DirectoryExists(folder);
}

bool PathHasLinkBelow(const std::string& root, const std::string& path) {
    if (root.empty() || path.compare(0, root.size(), root) != 0) return false;
    size_t at = root.size();
    while (at < path.size()) {
        size_t end = path.find_first_of(kPathSeparators, at);
        if (end == std::string::npos) end = path.size();
        if (end > at) {
            // Symbolic links and junctions are both reparse points.
            const DWORD attributes = ::GetFileAttributesW(Widen(path.substr(0, end)).c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES) return false;  // nothing exists further down
            if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
        }
        at = end + 1;
    }
    return false;
}

bool CreateSymbolicLink(const std::string& target, const std::string& linkPath) {
    // The system follows only its own separator in a link's target.
    std::string native = target;
    std::replace(native.begin(), native.end(), '/', kPathSeparator);
    // Windows needs to know whether the link leads to a folder, which a
    // relative target names from the link's folder; without developer mode,
    // making links needs a privilege.
    const std::string seen = IsAbsolutePath(native) ? native : linkPath.substr(0, linkPath.find_last_of(kPathSeparators) + 1) + native;
    const DWORD attributes = ::GetFileAttributesW(Widen(seen).c_str());
    DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        flags |= SYMBOLIC_LINK_FLAG_DIRECTORY;
    return ::CreateSymbolicLinkW(Widen(linkPath).c_str(), Widen(native).c_str(), flags) != 0;
}

std::optional<std::string> ReadSymbolicLink(const std::string& path) {
    const HANDLE link = ::CreateFileW(Widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (link == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<char> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
    DWORD got = 0;
    const BOOL read = ::DeviceIoControl(link, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                                        static_cast<DWORD>(buffer.size()), &got, nullptr);
    ::CloseHandle(link);
    if (!read || got < sizeof(LinkReparseHeader)) return std::nullopt;
    LinkReparseHeader header{};
    std::memcpy(&header, buffer.data(), sizeof header);
    // A symbolic link has a flags word before its path buffer; a junction has none.
    size_t pathsAt = sizeof header;
    if (header.tag == IO_REPARSE_TAG_SYMLINK)
        pathsAt += sizeof(ULONG);
    else if (header.tag != IO_REPARSE_TAG_MOUNT_POINT)
        return std::nullopt;
    // The name as it was given is the print name; a junction may leave it empty.
    USHORT offset = header.printOffset, length = header.printLength;
    if (length == 0) offset = header.substituteOffset, length = header.substituteLength;
    if (pathsAt + offset + length > got || length % sizeof(wchar_t) != 0) return std::nullopt;
    std::wstring wide(length / sizeof(wchar_t), L'\0');
    std::memcpy(wide.data(), buffer.data() + pathsAt + offset, length);
    std::string target = Narrow(wide);
    std::replace(target.begin(), target.end(), '\\', '/');
    return target;
}

}  // namespace platform
