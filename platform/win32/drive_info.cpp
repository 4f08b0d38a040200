#include "platform/drive_info.h"

#include <windows.h>

#include <vector>

#include "platform/win32/wide_text.h"

namespace platform {
namespace {

// Probing a drive without a medium must not pop up the system's
// critical-error dialog; the caller reports the failure itself.
class QuietErrors {
public:
    QuietErrors() { ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &saved_); }
    ~QuietErrors() { ::SetThreadErrorMode(saved_, nullptr); }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

private:
    DWORD saved_ = 0;
};

class Win32DriveInfo final : public DriveInfo {
public:
    std::string RootOf(const std::string& path) override {
        const std::wstring wide = Widen(path.empty() ? "." : path);
        std::vector<wchar_t> root(wide.size() + MAX_PATH + 1);
        if (!::GetVolumePathNameW(wide.c_str(), root.data(), static_cast<DWORD>(root.size()))) return "\\";
        std::string found = Narrow(root.data());
        if (found.empty() || found.back() != '\\') found += '\\';
        return found;
    }

    DriveType TypeOf(const std::string& root) override {
        return static_cast<DriveType>(::GetDriveTypeW(Widen(root).c_str()));
    }

    std::optional<DiskSpace> SpaceOf(const std::string& root) override {
        QuietErrors quiet;
        ULARGE_INTEGER available, total;
        if (!::GetDiskFreeSpaceExW(Widen(root).c_str(), &available, &total, nullptr)) return std::nullopt;
        return DiskSpace{available.QuadPart, total.QuadPart};
    }

    bool IsWriteProtected(const std::string& root) override {
        QuietErrors quiet;
        wchar_t name[MAX_PATH];
        if (::GetTempFileNameW(Widen(root).c_str(), L"krv", 0, name) == 0)
            return ::GetLastError() == ERROR_WRITE_PROTECT;
        return ::DeleteFileW(name) == 0;
    }

    std::optional<VolumeInformation> VolumeOf(const std::string& root, int& error) override {
        QuietErrors quiet;
        wchar_t label[MAX_PATH + 1];
        wchar_t fileSystem[MAX_PATH + 1];
        DWORD serial = 0, maxComponent = 0, flags = 0;
        if (!::GetVolumeInformationW(Widen(root).c_str(), label, MAX_PATH + 1, &serial, &maxComponent, &flags,
                                     fileSystem, MAX_PATH + 1)) {
            error = static_cast<int>(::GetLastError());
            return std::nullopt;
        }
        return VolumeInformation{Narrow(label), serial, maxComponent, flags, Narrow(fileSystem)};
    }
};

}  // namespace

DriveInfo& SystemDrives() {
    static Win32DriveInfo drives;
    return drives;
}

bool AskRetryInMessageBox(const std::string& caption, const std::string& text) {
    return ::MessageBoxW(nullptr, Widen(text).c_str(), Widen(caption).c_str(), MB_RETRYCANCEL | MB_ICONERROR) ==
           IDRETRY;
}

}  // namespace platform
