#include "platform/guarded_folder.h"

#include <windows.h>

#include "platform/file_replace.h"
#include "platform/file_system.h"
#include "platform/win32/file_access.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win32_handle.h"

namespace platform {
namespace {

// Others may go on reading and writing, but can neither rename nor remove
// what is held this way.
constexpr DWORD kShareAllButDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kDeletion = DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

bool Fail(DWORD error) {
    ::SetLastError(error);
    return false;
}

void CloseKeepingError(HANDLE handle) {
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    ::SetLastError(error);
}

// Opens the entry at `path` itself: a symbolic link or a junction is opened
// as the reparse point it is, never followed.
HANDLE OpenEntry(const std::string& path, DWORD access, DWORD share) {
    return ::CreateFileW(Widen(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

EntryKind KindOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) return EntryKind::Missing;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::Link;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::Folder;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) return EntryKind::Other;
    return info.nNumberOfLinks > 1 ? EntryKind::SharedFile : EntryKind::File;
}

// Opens the regular file at `path`; anything else (a link, opened as itself,
// a folder, a device) is refused, and so is a file with other names unless
// `sharedAllowed`.
HANDLE OpenRegularFile(const std::string& path, DWORD access, DWORD share, DWORD disposition, bool sharedAllowed) {
    const HANDLE file = ::CreateFileW(Widen(path).c_str(), access, share, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    DWORD refusal = 0;
    switch (KindOfHandle(file)) {
        case EntryKind::File: break;
        case EntryKind::SharedFile: refusal = sharedAllowed ? 0 : ERROR_TOO_MANY_LINKS; break;
        case EntryKind::Link: refusal = ERROR_CANT_ACCESS_FILE; break;
        case EntryKind::Folder: refusal = ERROR_ACCESS_DENIED; break;
        case EntryKind::Other: refusal = ERROR_INVALID_FUNCTION; break;
        case EntryKind::Missing: refusal = ::GetLastError(); break;
    }
    if (refusal == 0) return file;
    ::CloseHandle(file);
    ::SetLastError(refusal);
    return INVALID_HANDLE_VALUE;
}

// Removes the entry open as `handle` (closed here): the entry itself, a
// link never followed, as the handle is the link's own.
bool DeleteAndClose(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    const bool marked = ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
    CloseKeepingError(handle);
    return marked;
}

// The names in the folder at `path`, read through a handle of its own rather
// than the system's search, which would not share the folder with the
// caller's handle that holds it for deletion.
std::optional<std::vector<std::wstring>> NamesIn(const std::string& path) {
    const HANDLE folder = OpenEntry(path, FILE_LIST_DIRECTORY | SYNCHRONIZE, kShareAll);
    if (folder == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<std::wstring> names;
    std::vector<LONGLONG> buffer(8192);  // 64 KiB, aligned as the records need
    FILE_INFO_BY_HANDLE_CLASS request = FileIdBothDirectoryRestartInfo;
    for (;;) {
        if (!::GetFileInformationByHandleEx(folder, request, buffer.data(),
                                            static_cast<DWORD>(buffer.size() * sizeof(LONGLONG)))) {
            const bool ended = ::GetLastError() == ERROR_NO_MORE_FILES;
            CloseKeepingError(folder);
            if (!ended) return std::nullopt;
            return names;
        }
        request = FileIdBothDirectoryInfo;
        const char* record = reinterpret_cast<const char*>(buffer.data());
        for (;;) {
            const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(record);
            const std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") names.push_back(name);
            if (info->NextEntryOffset == 0) break;
            record += info->NextEntryOffset;
        }
    }
}

// A folder is emptied while it is held without delete sharing, so that
// nobody can swap it for a link meanwhile; a link is removed as itself.
bool RemoveTreeAt(const std::string& path, int depth) {
    const HANDLE entry = OpenEntry(path, kDeletion, kShareAllButDelete);
    if (entry == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (KindOfHandle(entry) == EntryKind::Folder) {
        std::optional<std::vector<std::wstring>> names;
        if (depth < GuardedFolder::kMaxTreeDepth)
            names = NamesIn(path);
        else
            ::SetLastError(ERROR_CANT_RESOLVE_FILENAME);
        bool emptied = names.has_value();
        for (size_t i = 0; emptied && i < names->size(); ++i)
            emptied = RemoveTreeAt(path + kPathSeparator + Narrow((*names)[i]), depth + 1);
        if (!emptied) {
            CloseKeepingError(entry);
            return false;
        }
    }
    return DeleteAndClose(entry);
}

}  // namespace

GuardedFolder::~GuardedFolder() { Close(); }

void GuardedFolder::Close() {
    for (void* held : held_) CloseKeepingError(held);
    held_.clear();
    path_.clear();
}

bool GuardedFolder::Open(const std::string& trusted, const std::string& below) {
    Close();
    if (!trusted.empty() && !DirectoryExists(trusted)) return Fail(ERROR_PATH_NOT_FOUND);
    path_ = trusted;
    if (!path_.empty() && path_.find_last_of(kPathSeparators) != path_.size() - 1) path_ += kPathSeparator;
    size_t at = 0;
    while (at < below.size()) {
        size_t end = below.find_first_of(kPathSeparators, at);
        if (end == std::string::npos) end = below.size();
        const std::string part = below.substr(at, end - at);
        at = end + 1;
        if (part.empty()) continue;
        if (!IsSinglePart(part)) {
            Close();
            return Fail(ERROR_INVALID_NAME);  // ".." would climb out of the walk
        }
        path_ += part;
        const HANDLE folder = OpenEntry(path_, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShareAllButDelete);
        if (folder == INVALID_HANDLE_VALUE) {
            Close();
            return false;
        }
        held_.push_back(folder);
        const EntryKind kind = KindOfHandle(folder);
        if (kind != EntryKind::Folder) {
            Close();
            return Fail(kind == EntryKind::Link ? ERROR_CANT_ACCESS_FILE : ERROR_DIRECTORY);
        }
        path_ += kPathSeparator;
    }
    return true;
}

EntryKind GuardedFolder::KindOf(const std::string& name) const {
    if (!IsSinglePart(name)) return EntryKind::Missing;
    const HANDLE entry = OpenEntry(path_ + name, FILE_READ_ATTRIBUTES, kShareAll);
    if (entry == INVALID_HANDLE_VALUE) {
        // A file another program holds still shows its attributes.
        const DWORD attributes = ::GetFileAttributesW(Widen(path_ + name).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::Missing;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::Link;
        return attributes & FILE_ATTRIBUTE_DIRECTORY ? EntryKind::Folder : EntryKind::File;
    }
    const EntryKind kind = KindOfHandle(entry);
    ::CloseHandle(entry);
    return kind;
}

int GuardedFolder::OpenFile(const std::string& name, FileAccess access, FileOpening opening) const {
    if (!IsSinglePart(name)) {
        ::SetLastError(ERROR_INVALID_NAME);
        return -1;
    }
    const bool reading = access == FileAccess::Read;
    const HANDLE file = OpenRegularFile(path_ + name, DesiredAccess(access), reading ? kShareAllButDelete : FILE_SHARE_READ,
                                        opening == FileOpening::Existing ? OPEN_EXISTING : OPEN_ALWAYS, reading);
    if (file == INVALID_HANDLE_VALUE) return -1;
    // Emptied only once it is known to be this file alone.
    if (opening == FileOpening::CreateOrTruncate && !::SetEndOfFile(file)) {
        CloseKeepingError(file);
        return -1;
    }
    return ToIntHandle(file);
}

bool GuardedFolder::FlushFile(const std::string& name) const {
    if (!IsSinglePart(name)) return Fail(ERROR_INVALID_NAME);
    const HANDLE file = OpenRegularFile(path_ + name, GENERIC_WRITE, kShareAll, OPEN_EXISTING, true);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool flushed = ::FlushFileBuffers(file) != 0;
    CloseKeepingError(file);
    return flushed;
}

bool GuardedFolder::CreateFolder(const std::string& name) const {
    return IsSinglePart(name) ? ::CreateDirectoryW(Widen(path_ + name).c_str(), nullptr) != 0 : Fail(ERROR_INVALID_NAME);
}

bool GuardedFolder::RemoveFile(const std::string& name) const {
    if (!IsSinglePart(name)) return Fail(ERROR_INVALID_NAME);
    const HANDLE entry = OpenEntry(path_ + name, kDeletion, kShareAllButDelete);
    if (entry == INVALID_HANDLE_VALUE) return false;
    if (KindOfHandle(entry) == EntryKind::Folder) {
        ::CloseHandle(entry);
        return Fail(ERROR_ACCESS_DENIED);
    }
    return DeleteAndClose(entry);
}

bool GuardedFolder::RemoveEmptyFolder(const std::string& name) const {
    if (!IsSinglePart(name)) return Fail(ERROR_INVALID_NAME);
    const HANDLE entry = OpenEntry(path_ + name, kDeletion, kShareAllButDelete);
    if (entry == INVALID_HANDLE_VALUE) return false;
    if (KindOfHandle(entry) != EntryKind::Folder) {
        ::CloseHandle(entry);
        return Fail(ERROR_DIRECTORY);
    }
    return DeleteAndClose(entry);
}

bool GuardedFolder::RemoveTree(const std::string& name) const {
    return IsSinglePart(name) ? RemoveTreeAt(path_ + name, 0) : Fail(ERROR_INVALID_NAME);
}

// A rename moves a link or junction as itself.
bool GuardedFolder::Move(const std::string& name, const GuardedFolder& to, const std::string& newName) const {
    if (!IsSinglePart(name) || !IsSinglePart(newName)) return Fail(ERROR_INVALID_NAME);
    return MoveReplacing(path_ + name, to.path_ + newName);
}

std::optional<std::vector<FolderEntry>> GuardedFolder::List() const { return ListFolder(path_.empty() ? "." : path_); }

bool GuardedFolder::Flush() const { return DirectoryExists(path_.empty() ? "." : path_); }

}  // namespace platform
