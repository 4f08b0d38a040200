#include "platform/process_list.h"

#include <windows.h>
#include <tlhelp32.h>

#include "platform/win32/wide_text.h"

namespace platform {

std::vector<ProcessEntry> SnapshotProcesses() {
    std::vector<ProcessEntry> entries;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return entries;
    PROCESSENTRY32W entry {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry))
        entries.push_back({static_cast<int>(entry.th32ProcessID), Narrow(entry.szExeFile)});
    ::CloseHandle(snapshot);
    return entries;
}

bool TerminateProcess(int id) {
    HANDLE process = ::OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(id));
    if (!process) return false;
    const bool ended = ::TerminateProcess(process, 0) != 0;
    ::CloseHandle(process);
    return ended;
}

}  // namespace platform
