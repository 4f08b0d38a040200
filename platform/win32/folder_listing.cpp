#include "platform/folder_listing.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace platform {

std::optional<std::vector<FolderEntry>> ListFolder(const std::string& folder) {
    std::wstring pattern = Widen(folder);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found{};
    const HANDLE search =
        ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<FolderEntry> entries;
    do {
        const std::wstring_view name(found.cFileName);
        if (name == L"." || name == L"..") continue;
        const bool isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        entries.push_back({Narrow(name), !isLink && (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0, isLink});
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return entries;
}

// The attributes of a link are its own, whatever it names.
bool EntryExists(const std::string& path) { return ::GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool RemoveEmptyFolder(const std::string& folder) { return ::RemoveDirectoryW(Widen(folder).c_str()) != 0; }

}  // namespace platform
