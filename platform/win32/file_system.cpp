#include "platform/file_system.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ascii.h"
#include "platform/win32/wide_text.h"
#include "platform/windows_device_names.h"

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

bool FolderWritable(const std::string& folder) {
    std::wstring probe = Widen(folder);
    if (!probe.empty() && probe.back() != L'\\' && probe.back() != L'/') probe += L'\\';
    probe += Widen(kWriteCheckPrefix) + std::to_wstring(::GetCurrentProcessId());
    // Removed as the handle closes, whatever happens in between.
    HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return true;
}

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

namespace {

bool HasDrivePrefix(const std::string& name) {
    return name.size() >= 2 && name[1] == ':' && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

bool OnlyDotsAndSpaces(std::string_view part) {
    return !part.empty() && part.find_first_not_of(". ") == std::string_view::npos;
}

// Calls `visit` with every part of `name` after a drive prefix, ":" already made "_".
template <class Visit>
void ForEachPart(const std::string& name, Visit&& visit) {
    size_t at = HasDrivePrefix(name) ? 2 : 0;
    while (at <= name.size()) {
        size_t end = name.find_first_of(kPathSeparators, at);
        if (end == std::string::npos) end = name.size();
        std::string part = name.substr(at, end - at);
        std::replace(part.begin(), part.end(), ':', '_');
        visit(part, end);
        at = end + 1;
    }
}

}  // namespace

std::string NativeEntryName(const std::string& name) {
    std::string native = name.substr(0, HasDrivePrefix(name) ? 2 : 0);
    ForEachPart(name, [&](std::string& part, size_t end) {
        if (IsWindowsDeviceName(part))
            part.insert(part.begin(), '_');
        else if (OnlyDotsAndSpaces(part) && part != ".")
            part = "..";
        native += part;
        if (end < name.size()) native += name[end];
    });
    return native;
}

bool NamesADevice(const std::string& name) {
    bool device = false;
    ForEachPart(name, [&](const std::string& part, size_t) { device = device || IsWindowsDeviceName(part); });
    return device;
}

}  // namespace platform
