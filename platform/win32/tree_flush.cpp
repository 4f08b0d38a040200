#include "platform/tree_flush.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace platform {

namespace {

bool FlushFile(const std::wstring& path) {
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool flushed = ::FlushFileBuffers(file) != 0;
    ::CloseHandle(file);
    return flushed;
}

// Windows has no flush of a whole volume without administrator rights: each
// file is flushed by its own handle.
bool FlushTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return false;
    bool flushed = true;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
        flushed &= (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FlushTree(path) : FlushFile(path);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return flushed;
}

}  // namespace

bool FlushTreeToDisk(const std::string& folder) {
    std::wstring wide = Widen(folder);
    while (!wide.empty() && (wide.back() == L'\\' || wide.back() == L'/')) wide.pop_back();
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    return FlushTree(wide);
}

}  // namespace platform
