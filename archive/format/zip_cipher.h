#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The traditional ZIP cipher: three 32-bit keys driven by the plain bytes.
// The archive family only deciphers.
class TZipCipher {
public:
    static constexpr uint32_t kInitialKey0 = 0x12345678;
    static constexpr uint32_t kInitialKey1 = 0x23456789;
    static constexpr uint32_t kInitialKey2 = 0x34567890;

    // Resets the keys and feeds every character of the password, whatever
    // its length.
    void InitKeys(const std::string& password);
    void UpdateKeys(uint8_t plainByte);
    uint8_t DecryptByte() const;
    // Deciphers in place, advancing the keys by each plain byte.
    void DecipherBuffer(void* buffer, size_t length);

    uint32_t Key0 = kInitialKey0;
    uint32_t Key1 = kInitialKey1;
    uint32_t Key2 = kInitialKey2;
};

// The key state of the entry being extracted. Like the rest of the decoding
// state it exists once per process, so only one extraction runs at a time:
// the password check positions it and the readers of the entry's data advance it.
TZipCipher& EntryCipher();
