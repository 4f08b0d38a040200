#pragma once

// The update archives of the Windows tests, where the zip tool cannot run:
// every file and folder under a folder, each folder an entry of its own, the
// names in the OEM code page (949) as an archiver on Korean Windows stores
// them, files deflated or, when that is no smaller, stored.

#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace zip_writer {

namespace fs = std::filesystem;

inline std::string OemName(const fs::path& relative) {
    const std::wstring wide = relative.generic_wstring();
    const int size = ::WideCharToMultiByte(949, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string name(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(949, 0, wide.data(), static_cast<int>(wide.size()), name.data(), size, nullptr, nullptr);
    return name;
}

inline std::string Deflated(const std::string& data) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string packed(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(packed.data());
    stream.avail_out = static_cast<uInt>(packed.size());
    deflate(&stream, Z_FINISH);
    packed.resize(stream.total_out);
    deflateEnd(&stream);
    return packed;
}

inline void Put(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// The archive of everything under `source`, also written to `archive`.
inline std::string ZipFolder(const fs::path& source, const fs::path& archive) {
    std::vector<fs::path> paths;
    for (const auto& entry : fs::recursive_directory_iterator(source)) paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    constexpr uint32_t kDosDate = ((2024 - 1980) << 9) | (1 << 5) | 1;  // 2024-01-01, 00:00
    std::string local;
    std::string central;
    for (const fs::path& path : paths) {
        const bool folder = fs::is_directory(path);
        const std::string name = OemName(fs::relative(path, source)) + (folder ? "/" : "");
        std::string data;
        if (!folder) {
            std::ifstream in(path, std::ios::binary);
            data.assign(std::istreambuf_iterator<char>(in), {});
        }
        const uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()));
        std::string packed = Deflated(data);
        const uint16_t method = packed.size() < data.size() ? 8 : 0;
        if (method == 0) packed = data;
        const uint32_t offset = static_cast<uint32_t>(local.size());
        // The fields both headers share, from the version needed to the name's length.
        std::string common;
        Put(common, 20, 2);
        Put(common, 0, 2);
        Put(common, method, 2);
        Put(common, 0, 2);
        Put(common, kDosDate, 2);
        Put(common, crc, 4);
        Put(common, static_cast<uint32_t>(packed.size()), 4);
        Put(common, static_cast<uint32_t>(data.size()), 4);
        Put(common, static_cast<uint32_t>(name.size()), 2);
        Put(local, 0x04034b50, 4);
        local += common;
        Put(local, 0, 2);
        local += name + packed;
        Put(central, 0x02014b50, 4);
        Put(central, 20, 2);  // made by MS-DOS/FAT, version 2.0
        central += common;
        Put(central, 0, 2 + 2 + 2 + 2);
        Put(central, folder ? 0x10 : 0x20, 4);
        Put(central, offset, 4);
        central += name;
    }
    std::string bytes = local + central;
    Put(bytes, 0x06054b50, 4);
    Put(bytes, 0, 4);
    Put(bytes, static_cast<uint32_t>(paths.size()), 2);
    Put(bytes, static_cast<uint32_t>(paths.size()), 2);
    Put(bytes, static_cast<uint32_t>(central.size()), 4);
    Put(bytes, static_cast<uint32_t>(local.size()), 4);
    Put(bytes, 0, 2);
    std::ofstream(archive, std::ios::binary | std::ios::trunc) << bytes;
    return bytes;
}

}  // namespace zip_writer
