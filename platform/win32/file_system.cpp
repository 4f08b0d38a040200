#include "platform/file_system.h"

#include <windows.h>

#include <vector>

#include "platform/win32/wide_text.h"

namespace platform {
namespace {
DWORD AttributesOf(const std::string& path) { return ::GetFileAttributesW(Widen(path).c_str()); }
}  // namespace

bool FileExists(const std::string& path) {
    const DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
    const DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateDir(const std::string& path) { return ::CreateDirectoryW(Widen(path).c_str(), nullptr) != 0; }

bool RemoveFile(const std::string& path) { return ::DeleteFileW(Widen(path).c_str()) != 0; }

std::string CurrentDirectory() {
    const DWORD length = ::GetCurrentDirectoryW(0, nullptr);
    if (length == 0) return {};
    std::wstring buffer(length, L'\0');
    const DWORD written = ::GetCurrentDirectoryW(length, buffer.data());
    if (written == 0 || written >= length) return {};
    buffer.resize(written);
    std::string folder = Narrow(buffer);
    if (folder.back() != kPathSeparator) folder += kPathSeparator;
    return folder;
}

std::string ProgramFolder() {
    // The path may be longer than MAX_PATH; grow until it fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::string(1, kPathSeparator);
        if (length < buffer.size()) {
            const std::string exe = Narrow(std::wstring_view(buffer.data(), length));
            return exe.substr(0, exe.find_last_of("\\:") + 1);
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool IsAbsolutePath(const std::string& path) {
    auto isSeparator = [](char c) { return c == '\\' || c == '/'; };
    // A path from the root of the current drive ("\x") does not depend on the current folder either.
    if (!path.empty() && isSeparator(path[0])) return true;
    return path.size() >= 3 && path[1] == ':' && isSeparator(path[2]);
}

std::string NativeEntryName(const std::string& name) {
    std::string native = name;
    const bool drivePrefix = native.size() >= 2 && native[1] == ':' &&
                             ((native[0] >= 'A' && native[0] <= 'Z') || (native[0] >= 'a' && native[0] <= 'z'));
    for (size_t i = drivePrefix ? 2 : 0; i < native.size(); ++i)
        if (native[i] == ':') native[i] = '_';
    return native;
}

}  // namespace platform
