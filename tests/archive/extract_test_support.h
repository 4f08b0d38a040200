#pragma once

// Building small ZIP archives byte by byte for the extraction tests, and a
// recorder of the component's events.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archive/unzip.h"
#include "frame_test_support.h"
#include "support/temp_folder.h"

namespace extract_test {

// A failed entry's file is gone at its end, so tests read it while it is
// written; Windows opens it without sharing, so only other systems can.
#ifdef _WIN32
inline constexpr bool kOutputReadableWhileWritten = false;
#else
inline constexpr bool kOutputReadableWhileWritten = true;
#endif

inline void PutLe16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
inline void PutLe32(std::string& out, uint32_t v) {
    PutLe16(out, v & 0xFFFF);
    PutLe16(out, v >> 16);
}

inline uint32_t Crc32Of(const std::string& data) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// Raw Deflate (no wrapper) of data, as a ZIP entry holds it. A flush other
// than Z_FINISH leaves the stream without a final block.
inline std::string RawDeflate(const std::string& data, int level = 6, int flush = Z_FINISH) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, flush);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// 1980-01-01 plus a fixed date: 2021-06-15 10:20:30.
inline constexpr uint32_t kSampleDosDate = (uint32_t{(2021 - 1980) << 9 | 6 << 5 | 15} << 16) | (10 << 11 | 20 << 5 | 15);

struct Entry {
    Entry(std::string name, std::string data, uint16_t method = 0, uint32_t attributes = 0x20)
        : name(std::move(name)), data(std::move(data)), method(method), attributes(attributes) {}

    std::string name;
    std::string data;             // the plain bytes
    uint16_t method = 0;          // 0 stored, 8 Deflate (made here); any other value stores data as given
    uint32_t attributes = 0x20;   // external attributes
    uint16_t madeBy = 20;         // "version made by": 0x03xx for Unix, whose mode is in the attributes' high half
    uint32_t dosDateTime = kSampleDosDate;
    std::optional<uint32_t> declaredSize;    // uncompressed size written in the headers
    std::optional<std::string> packedData;   // the bytes stored as compressed data
    std::optional<std::string> localName;    // the local header's name, when it differs from the central one
    std::optional<uint32_t> localOffset;     // where the central header points, when not at the entry's own local header
};

// A plain single-file archive with a central directory.
inline std::string BuildZip(const std::vector<Entry>& entries) {
    std::string zip, central;
    for (const Entry& e : entries) {
        const std::string packed = e.packedData ? *e.packedData : e.method == 8 ? RawDeflate(e.data) : e.data;
        const uint32_t crc = Crc32Of(e.data);
        const uint32_t size = e.declaredSize ? *e.declaredSize : static_cast<uint32_t>(e.data.size());
        const auto offset = static_cast<uint32_t>(zip.size());
        const std::string localName = e.localName.value_or(e.name);
        auto common = [&](std::string& out, const std::string& name) {
            PutLe16(out, 20);  // version needed
            PutLe16(out, 0);   // flags
            PutLe16(out, e.method);
            PutLe32(out, e.dosDateTime);
            PutLe32(out, crc);
            PutLe32(out, static_cast<uint32_t>(packed.size()));
            PutLe32(out, size);
            PutLe16(out, static_cast<uint32_t>(name.size()));
            PutLe16(out, 0);  // extra length
        };
        PutLe32(zip, 0x04034B50);
        common(zip, localName);
        zip += localName;
        zip += packed;

        PutLe32(central, 0x02014B50);
        PutLe16(central, e.madeBy);
        common(central, e.name);
        PutLe16(central, 0);  // comment length
        PutLe16(central, 0);  // disk
        PutLe16(central, 0);  // internal attributes
        PutLe32(central, e.attributes);
        PutLe32(central, e.localOffset.value_or(offset));
        central += e.name;
    }
    const auto directoryOffset = static_cast<uint32_t>(zip.size());
    zip += central;
    PutLe32(zip, 0x06054B50);
    PutLe16(zip, 0);
    PutLe16(zip, 0);
    PutLe16(zip, static_cast<uint32_t>(entries.size()));
    PutLe16(zip, static_cast<uint32_t>(entries.size()));
    PutLe32(zip, static_cast<uint32_t>(central.size()));
    PutLe32(zip, directoryOffset);
    PutLe16(zip, 0);
    return zip;
}

// The component's events as lines of text, in the order they fired.
class EventLog {
public:
    explicit EventLog(TUnZip& unzip) : unzip_(unzip) {
        unzip.OnActivate = [this](TObject*) { lines.push_back("Activate"); };
        unzip.OnDeactivate = [this](TObject*) { lines.push_back("Deactivate"); };
        unzip.OnBegin = [this](TObject*, const std::string& f, int32_t count, bool& extract) {
            lines.push_back("Begin " + Short(f) + " " + std::to_string(count));
            if (refuse == Short(f)) extract = false;
        };
        unzip.OnEnd = [this](TObject*, const std::string& f, bool pass) {
            lines.push_back("End " + Short(f) + (pass ? " pass" : " fail"));
        };
        unzip.OnError = [this](TObject*, const std::string& f, const std::string& extended, const std::string&,
                               int32_t code) {
            lines.push_back("Error " + std::to_string(code) + " " + Short(f) + (extended.empty() ? "" : " " + Short(extended)));
        };
        unzip.OnProgress = [this](TObject*, uint8_t file, uint8_t archive) {
            lines.push_back("Progress " + std::to_string(file) + " " + std::to_string(archive));
            if (cancelAtProgress && --cancelAtProgress == 0) unzip_.SetCancel(true);
        };
    }

    // Names below the target folder are shown relative to it.
    std::string Short(const std::string& path) const {
        const std::string base = frame_test::SlashPath(folder);
        const std::string name = frame_test::SlashPath(path);
        return !base.empty() && name.rfind(base, 0) == 0 ? name.substr(base.size()) : name;
    }

    std::vector<std::string> lines;
    std::string folder;        // the target folder, cut from names
    std::string refuse;        // OnBegin answers Extract False for this name
    int cancelAtProgress = 0;  // the n-th progress event cancels the run

private:
    TUnZip& unzip_;
};

// A component extracting into out/ of a temporary folder, with its events
// recorded; the archive a test builds is written beside out/.
class ExtractFixture : public ::testing::Test {
protected:
    ExtractFixture() : dir_(folder_.str() + "/"), target_(dir_ + "out/") { log_.folder = target_; }

    int32_t RunArchive(const std::string& archive) {
        unzip_.SetArchiveFile(archive);
        unzip_.SetFileSpec({"*.*"});
        unzip_.SetExtractDir(target_);
        return unzip_.ExtractFiles();
    }
    // Writes the archive, points the component at it and runs.
    int32_t Run(const std::vector<Entry>& entries) {
        frame_test::WriteFile(dir_ + "a.zip", BuildZip(entries));
        return RunArchive(dir_ + "a.zip");
    }

    TempFolder folder_{"quendal-extract"};
    const std::string dir_, target_;
    TUnZip unzip_;
    EventLog log_{unzip_};
};

}  // namespace extract_test
