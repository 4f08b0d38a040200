#include "archive/format/zip_cipher.h"

#include <zlib.h>

namespace {

const z_crc_t* CrcTable() {
    static const z_crc_t* table = get_crc_table();
    return table;
}

uint32_t CrcStep(uint32_t crc, uint8_t byte) {
    return static_cast<uint32_t>(CrcTable()[(crc ^ byte) & 0xFF]) ^ (crc >> 8);
}

}  // namespace

void TZipCipher::InitKeys(const std::string& password) {
    Key0 = kInitialKey0;
    Key1 = kInitialKey1;
    Key2 = kInitialKey2;
    for (char c : password) UpdateKeys(static_cast<uint8_t>(c));
}

void TZipCipher::UpdateKeys(uint8_t plainByte) {
    Key0 = CrcStep(Key0, plainByte);
    Key1 = (Key1 + (Key0 & 0xFF)) * 134775813u + 1;
    Key2 = CrcStep(Key2, static_cast<uint8_t>(Key1 >> 24));
}

uint8_t TZipCipher::DecryptByte() const {
    const uint32_t t = (Key2 & 0xFFFF) | 2;
    return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
}

void TZipCipher::DecipherBuffer(void* buffer, size_t length) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    for (size_t i = 0; i < length; ++i) {
        const auto plain = static_cast<uint8_t>(bytes[i] ^ DecryptByte());
        bytes[i] = plain;
        UpdateKeys(plain);
    }
}

TZipCipher& EntryCipher() {
    static TZipCipher cipher;
    return cipher;
}
