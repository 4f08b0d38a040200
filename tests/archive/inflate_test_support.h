#pragma once

// Helpers shared by the inflate tests: sample data, a reference deflater, a
// driver that feeds the decoder in chunks, a bit writer for hand-made
// streams and a minimal reader of ZIP central directories.

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/codec/inflate.h"

namespace inflate_test {

using Bytes = std::vector<uint8_t>;

inline Bytes ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::filesystem::path& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// Real English text: the licence texts every Debian system carries.
// Read in name order, each text once (some names are links to others, which
// Wine shows as copies), so that every build gets the same bytes.
inline Bytes LicenceText() {
    std::vector<std::filesystem::path> names;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/share/common-licenses"))
        if (entry.is_regular_file()) names.push_back(entry.path());
    std::sort(names.begin(), names.end());
    Bytes text;
    std::vector<Bytes> taken;
    for (const std::filesystem::path& name : names) {
        Bytes part = ReadFile(name);
        if (std::find(taken.begin(), taken.end(), part) != taken.end()) continue;
        text.insert(text.end(), part.begin(), part.end());
        taken.push_back(std::move(part));
    }
    return text;
}

// Real machine code: the running test program, cut to `limit` bytes.
inline Bytes ProgramBinary(size_t limit) {
    Bytes data = ReadFile("/proc/self/exe");
    if (data.size() > limit) data.resize(limit);
    return data;
}

inline Bytes RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes data(n);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    return data;
}

// Runs of one byte and short periods (distances 1 to 7), then a long period.
inline Bytes RepetitiveBytes(size_t n) {
    Bytes data;
    data.reserve(n);
    const std::string pieces[] = {"a", "ab", "abc", "abcdefg", "The quick brown fox. "};
    for (size_t i = 0; data.size() < n; ++i) {
        const std::string& piece = pieces[i % std::size(pieces)];
        for (size_t r = 0; r < 5000 && data.size() < n; ++r) data.push_back(static_cast<uint8_t>(piece[r % piece.size()]));
        for (size_t z = 0; z < 3000 && data.size() < n; ++z) data.push_back(0);
    }
    return data;
}

// Raw Deflate made by zlib.
inline Bytes ZlibDeflate(const Bytes& data, int level, int strategy = Z_DEFAULT_STRATEGY) {
    z_stream zs{};
    if (deflateInit2(&zs, level, Z_DEFLATED, -15, 8, strategy) != Z_OK) throw std::runtime_error("deflateInit2");
    Bytes out(deflateBound(&zs, data.size()) + 16);
    zs.next_in = const_cast<Bytef*>(data.data());
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    if (deflate(&zs, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

inline InflateVariant VariantOf(bool deflate64) {
    return deflate64 ? InflateVariant::Deflate64 : InflateVariant::Deflate;
}

struct Decoded {
    int code = 0;  // last return code: 1 at the end of the stream
    Bytes out;
    uint64_t totalIn = 0;
    int32_t availIn = 0;  // left over from the last piece of input given
    size_t inputGiven = 0;
};

// Decodes `input`, giving at most `inChunk` bytes of input and `outChunk`
// bytes of output space per call. Stops at the end of the stream, at an
// error, or when the decoder asks for input that is not there.
inline Decoded Decode(const Bytes& input, size_t inChunk, size_t outChunk, int windowBits = -15,
                      TInflateRec* rec = nullptr, InflateVariant variant = InflateVariant::Deflate) {
    TInflateRec local;
    TInflateRec& r = rec ? *rec : local;
    Decoded d;
    d.code = InflateInit(&r, windowBits, kInflateRecordCheck, variant);
    if (d.code != kInflateOk) return d;
    static const uint8_t kNothing = 0;
    r.NextIn = &kNothing;
    Bytes buffer(outChunk);
    for (;;) {
        if (r.AvailIn == 0 && d.inputGiven < input.size()) {
            size_t n = std::min(inChunk, input.size() - d.inputGiven);
            r.NextIn = input.data() + d.inputGiven;
            r.AvailIn = static_cast<int32_t>(n);
            d.inputGiven += n;
        }
        r.NextOut = buffer.data();
        r.AvailOut = static_cast<int32_t>(buffer.size());
        d.code = Inflate(&r, kInflateNoFlush);
        d.out.insert(d.out.end(), buffer.data(), r.NextOut);
        if (d.code == kInflateStreamEnd || (d.code < 0 && d.code != kInflateBufError)) break;
        if (d.code == kInflateBufError && r.AvailIn == 0 && d.inputGiven == input.size()) break;
    }
    d.totalIn = r.TotalIn;
    d.availIn = r.AvailIn;
    if (!rec) InflateEnd(&r);
    return d;
}

inline Decoded Decode(InflateVariant variant, const Bytes& input, size_t inChunk, size_t outChunk,
                      int windowBits = -15) {
    return Decode(input, inChunk, outChunk, windowBits, nullptr, variant);
}

inline Decoded DecodeWhole(const Bytes& input, int windowBits = -15) {
    return Decode(input, std::max<size_t>(input.size(), 1), 1 << 20, windowBits);
}

inline Decoded DecodeWhole(InflateVariant variant, const Bytes& input, int windowBits = -15) {
    return Decode(input, std::max<size_t>(input.size(), 1), 1 << 20, windowBits, nullptr, variant);
}

// Writes bits least significant first, as Deflate stores them.
class BitWriter {
public:
    void Put(uint32_t value, unsigned bits) {
        for (unsigned i = 0; i < bits; ++i) PutBit((value >> i) & 1);
    }
    // A Huffman code is stored most significant bit first.
    void PutCode(uint32_t code, unsigned length) {
        for (unsigned i = length; i-- > 0;) PutBit((code >> i) & 1);
    }
    void AlignToByte() {
        while (bitCount_ != 0) PutBit(0);
    }
    void PutByte(uint8_t b) { Put(b, 8); }
    Bytes Finish() {
        AlignToByte();
        return bytes_;
    }

    // Fixed-code symbols.
    void FixedLiteralLength(unsigned symbol) {
        if (symbol < 144) PutCode(0x30 + symbol, 8);
        else if (symbol < 256) PutCode(0x190 + symbol - 144, 9);
        else if (symbol < 280) PutCode(symbol - 256, 7);
        else PutCode(0xC0 + symbol - 280, 8);
    }
    void FixedDistance(unsigned symbol) { PutCode(symbol, 5); }

private:
    void PutBit(unsigned bit) {
        if (bitCount_ == 0) bytes_.push_back(0);
        bytes_.back() |= static_cast<uint8_t>(bit << bitCount_);
        bitCount_ = (bitCount_ + 1) & 7;
    }
    Bytes bytes_;
    unsigned bitCount_ = 0;
};

// Canonical codes of a set of code lengths.
inline std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
    unsigned count[16] = {}, next[16] = {};
    for (uint8_t l : lengths) ++count[l];
    count[0] = 0;
    for (unsigned len = 1, code = 0; len < 16; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    std::vector<uint32_t> codes(lengths.size());
    for (size_t s = 0; s < lengths.size(); ++s)
        if (lengths[s]) codes[s] = next[lengths[s]]++;
    return codes;
}

// A dynamic block header whose code-length code gives every length 0..15 a
// 4-bit code (no repeat symbols). Returns the codes of both alphabets.
struct DynamicCodes {
    std::vector<uint8_t> litLengths, distLengths;
    std::vector<uint32_t> litCodes, distCodes;
    void Literal(BitWriter& w, unsigned symbol) const { w.PutCode(litCodes[symbol], litLengths[symbol]); }
    void Distance(BitWriter& w, unsigned symbol) const { w.PutCode(distCodes[symbol], distLengths[symbol]); }
};

inline DynamicCodes WriteDynamicHeader(BitWriter& w, bool last, std::vector<uint8_t> lit, std::vector<uint8_t> dist) {
    w.Put(last ? 1 : 0, 1);
    w.Put(2, 2);
    w.Put(static_cast<uint32_t>(lit.size() - 257), 5);
    w.Put(static_cast<uint32_t>(dist.size() - 1), 5);
    w.Put(19 - 4, 4);
    static const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    for (uint8_t sym : order) w.Put(sym < 16 ? 4 : 0, 3);
    for (uint8_t l : lit) w.PutCode(l, 4);
    for (uint8_t l : dist) w.PutCode(l, 4);
    return DynamicCodes{lit, dist, CanonicalCodes(lit), CanonicalCodes(dist)};
}

// One entry of a ZIP archive, found through its central directory.
struct ZipEntry {
    std::string name;
    uint16_t method = 0;
    uint16_t flags = 0;
    uint32_t crc = 0;
    uint64_t uncompressedSize = 0;
    size_t dataOffset = 0;  // of the compressed bytes in the archive
    Bytes data;             // the raw compressed bytes
};

inline uint32_t Le(const Bytes& b, size_t at, unsigned n) {
    if (at + n > b.size()) throw std::runtime_error("ZIP structure out of range");
    uint32_t v = 0;
    for (unsigned i = 0; i < n; ++i) v |= uint32_t{b[at + i]} << (8 * i);
    return v;
}

inline std::vector<ZipEntry> ReadZip(const Bytes& zip) {
    size_t eocd = zip.size() >= 22 ? zip.size() - 22 : throw std::runtime_error("too small");
    while (Le(zip, eocd, 4) != 0x06054b50) {
        if (eocd == 0) throw std::runtime_error("no end record");
        --eocd;
    }
    size_t count = Le(zip, eocd + 10, 2);
    size_t at = Le(zip, eocd + 16, 4);
    std::vector<ZipEntry> entries;
    for (size_t i = 0; i < count; ++i) {
        if (Le(zip, at, 4) != 0x02014b50) throw std::runtime_error("bad central header");
        ZipEntry e;
        e.flags = static_cast<uint16_t>(Le(zip, at + 8, 2));
        e.method = static_cast<uint16_t>(Le(zip, at + 10, 2));
        e.crc = Le(zip, at + 16, 4);
        const uint32_t packed = Le(zip, at + 20, 4);
        e.uncompressedSize = Le(zip, at + 24, 4);
        const size_t nameLen = Le(zip, at + 28, 2), extraLen = Le(zip, at + 30, 2), commentLen = Le(zip, at + 32, 2);
        const size_t local = Le(zip, at + 42, 4);
        e.name.assign(zip.begin() + static_cast<long>(at + 46), zip.begin() + static_cast<long>(at + 46 + nameLen));
        const size_t dataAt = local + 30 + Le(zip, local + 26, 2) + Le(zip, local + 28, 2);
        if (dataAt + packed > zip.size()) throw std::runtime_error("entry data out of range");
        e.dataOffset = dataAt;
        e.data.assign(zip.begin() + static_cast<long>(dataAt), zip.begin() + static_cast<long>(dataAt + packed));
        entries.push_back(std::move(e));
        at += 46 + nameLen + extraLen + commentLen;
    }
    return entries;
}

inline uint32_t Crc32(const Bytes& data) {
    return static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
}

}  // namespace inflate_test
