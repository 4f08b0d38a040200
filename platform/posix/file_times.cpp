#include "platform/file_times.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <ctime>

namespace platform {

namespace {

// The moment a local date and time names, by the zone's rules; false when it
// names none.
bool ToUtc(const LocalDateTime& time, UtcFileTime& utc) {
    std::tm tm {};
    tm.tm_year = time.year - 1900;
    tm.tm_mon = time.month - 1;
    tm.tm_mday = time.day;
    tm.tm_hour = time.hour;
    tm.tm_min = time.minute;
    tm.tm_sec = time.second;
    tm.tm_isdst = -1;  // let the zone's rules decide
    const std::time_t seconds = std::mktime(&tm);
    if (seconds == static_cast<std::time_t>(-1)) {
        errno = EINVAL;
        return false;
    }
    utc = {seconds, 0};
    return true;
}

}  // namespace

bool SetFileWriteTime(int handle, const LocalDateTime& time) {
    UtcFileTime utc;
    return ToUtc(time, utc) && SetFileWriteTimeUtc(handle, utc);
}

bool SetPathWriteTime(const std::string& path, const LocalDateTime& time) {
    UtcFileTime utc;
    return ToUtc(time, utc) && SetPathWriteTimeUtc(path, utc);
}

bool SetFileWriteTimeUtc(int handle, const UtcFileTime& time) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(time.seconds), static_cast<long>(time.nanoseconds)}};
    return ::futimens(handle, times) == 0;
}

bool SetPathWriteTimeUtc(const std::string& path, const UtcFileTime& time) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(time.seconds), static_cast<long>(time.nanoseconds)}};
    return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

std::optional<FileStamp> StampOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    const auto ns = [](const struct timespec& time) {
        return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
    };
    const uint32_t readOnly = (st.st_mode & 0222) == 0 ? 0x01 : 0;
    return FileStamp{.size = static_cast<uint64_t>(st.st_size),
                     .writeTimeNs = ns(st.st_mtim),
                     .changeTimeNs = ns(st.st_ctim),
                     .volume = static_cast<uint64_t>(st.st_dev),
                     .fileId = static_cast<uint64_t>(st.st_ino),
                     .attributes = static_cast<uint32_t>(st.st_mode & 0177777) << 16 | readOnly};
}

int64_t CurrentFileTimeNs() {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

bool GetFileCreationTime(const std::string& path, LocalDateTime& time) {
    struct statx st {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_CTIME, &st) != 0) return false;
    const std::time_t seconds = (st.stx_mask & STATX_BTIME) ? st.stx_btime.tv_sec : st.stx_ctime.tv_sec;
    std::tm tm {};
    if (!localtime_r(&seconds, &tm)) return false;
    time = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec > 59 ? 59 : tm.tm_sec};
    return true;
}

}  // namespace platform
