#pragma once

// Builds small Windows executable images (PE32) carrying string resources, so
// tests can check resource reading and self-extractor detection without a
// Windows tool chain.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testing_pe {

inline void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    if (b.size() < at + 2) b.resize(at + 2);
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}

// UTF-8 to UTF-16 code units for the basic plane, enough for test strings.
inline std::vector<uint16_t> Utf16(const std::string& text) {
    std::vector<uint16_t> units;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            units.push_back(c);
            i += 1;
        } else if ((c & 0xE0) == 0xC0) {
            units.push_back(static_cast<uint16_t>(((c & 0x1F) << 6) | (text[i + 1] & 0x3F)));
            i += 2;
        } else {
            units.push_back(static_cast<uint16_t>(((c & 0x0F) << 12) | ((text[i + 1] & 0x3F) << 6) |
                                                  (text[i + 2] & 0x3F)));
            i += 3;
        }
    }
    return units;
}

// An executable image whose string table holds `strings` (id -> text). The
// image is padded to at least `minimumSize` bytes.
inline std::vector<uint8_t> BuildImage(const std::map<uint16_t, std::string>& strings, size_t minimumSize = 0) {
    std::map<uint32_t, std::vector<uint8_t>> blocks;  // block id -> block data
    for (const auto& [id, text] : strings) blocks[id / 16u + 1u];
    for (auto& [blockId, data] : blocks) {
        for (uint32_t slot = 0; slot < 16; ++slot) {
            auto found = strings.find(static_cast<uint16_t>((blockId - 1) * 16 + slot));
            std::vector<uint16_t> units = found == strings.end() ? std::vector<uint16_t>{} : Utf16(found->second);
            size_t at = data.size();
            Put16(data, at, static_cast<uint32_t>(units.size()));
            for (uint16_t u : units) Put16(data, data.size(), u);
        }
    }

    const uint32_t sectionRva = 0x1000;
    std::vector<uint8_t> rsrc;
    const size_t n = blocks.size();
    // root (1 entry) | type directory (n entries) | n language directories | n data entries | data
    const size_t typeDir = 24, langDirs = typeDir + 16 + 8 * n, dataEntries = langDirs + 24 * n,
                 dataStart = dataEntries + 16 * n;
    rsrc.resize(dataStart);
    Put16(rsrc, 14, 1);
    Put32(rsrc, 16, 6);
    Put32(rsrc, 20, 0x80000000u | typeDir);
    Put16(rsrc, typeDir + 14, static_cast<uint32_t>(n));
    size_t k = 0;
    for (auto& [blockId, data] : blocks) {
        Put32(rsrc, typeDir + 16 + 8 * k, blockId);
        Put32(rsrc, typeDir + 20 + 8 * k, 0x80000000u | (langDirs + 24 * k));
        Put16(rsrc, langDirs + 24 * k + 14, 1);
        Put32(rsrc, langDirs + 24 * k + 16, 0x409);
        Put32(rsrc, langDirs + 24 * k + 20, static_cast<uint32_t>(dataEntries + 16 * k));
        const size_t dataAt = rsrc.size();
        Put32(rsrc, dataEntries + 16 * k, static_cast<uint32_t>(sectionRva + dataAt));
        Put32(rsrc, dataEntries + 16 * k + 4, static_cast<uint32_t>(data.size()));
        rsrc.insert(rsrc.end(), data.begin(), data.end());
        ++k;
    }

    std::vector<uint8_t> image(0x200, 0);
    image[0] = 'M';
    image[1] = 'Z';
    Put32(image, 0x3C, 0x40);
    image[0x40] = 'P';
    image[0x41] = 'E';
    Put16(image, 0x44, 0x14C);
    Put16(image, 0x46, 1);    // one section
    Put16(image, 0x54, 224);  // optional header size of PE32
    Put16(image, 0x56, 0x0102);
    const size_t optional = 0x58;
    Put16(image, optional, 0x10B);
    Put32(image, optional + 92, 16);  // number of data directories
    Put32(image, optional + 96 + 16, sectionRva);
    Put32(image, optional + 96 + 20, static_cast<uint32_t>(rsrc.size()));
    const size_t section = optional + 224;
    const char name[] = ".rsrc";
    for (size_t i = 0; i < 5; ++i) image[section + i] = static_cast<uint8_t>(name[i]);
    Put32(image, section + 8, static_cast<uint32_t>(rsrc.size()));
    Put32(image, section + 12, sectionRva);
    Put32(image, section + 16, static_cast<uint32_t>(rsrc.size()));
    Put32(image, section + 20, 0x200);
    image.insert(image.end(), rsrc.begin(), rsrc.end());
    if (image.size() < minimumSize) image.resize(minimumSize, 0);
    return image;
}

}  // namespace testing_pe
