// Decodes, in memory and on one thread, the raw Deflate streams of a corpus
// with this project's decoder (through TDecompressStream with 32 KiB reads,
// and through Inflate directly), with zlib's inflate (32 KiB output buffer)
// and with libdeflate's whole-buffer decoder, and prints the output MB/s of
// each and its ratio to zlib. Deflate64 archives made by 7-Zip, with a
// Deflate archive of the same files made by the same tool, give the
// Deflate64 / Deflate speed ratio of the project's decoder.
//
// Usage: inflate_bench FILE_LIST [DEFLATE_ZIP DEFLATE64_ZIP]
//   FILE_LIST   one path per line; each file becomes one zlib level-6 stream

#include <libdeflate.h>
#include <zlib.h>

#include <ctime>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "archive/codec/inflate.h"
#include "archive/reader/decompress_stream.h"
#include "tests/archive/inflate_test_support.h"

using inflate_test::Bytes;

namespace {

constexpr int32_t kChunk = 32768;
constexpr int kRounds = 5;

struct Stream {
    Bytes packed;
    size_t size = 0;
    uint32_t crc = 0;
    InflateVariant variant = InflateVariant::Deflate;
};

// A source over bytes in memory.
class MemoryStream : public TStream32 {
public:
    explicit MemoryStream(const Bytes& data) : data_(data) {}
    int32_t Read(void* buffer, int32_t count) override {
        const auto n = static_cast<int32_t>(std::min<int64_t>(count, static_cast<int64_t>(data_.size()) - position_));
        std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
        position_ += n;
        return n;
    }
    int32_t Write(const void*, int32_t) override { return 0; }
    using TStream32::Seek;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        position_ = (origin == TSeekOrigin::soBeginning ? 0
                     : origin == TSeekOrigin::soCurrent ? position_
                                                        : static_cast<int64_t>(data_.size())) +
                    offset;
        return position_;
    }

private:
    const Bytes& data_;
    int64_t position_ = 0;
};

// Each decoder returns the CRC-32 of what it produced when asked to check,
// so that a wrong decoder cannot look fast.
using Decoder = std::function<uint32_t(const Stream&, Bytes& out, bool check)>;

uint32_t Crc(uint32_t crc, const uint8_t* p, size_t n) { return static_cast<uint32_t>(crc32(crc, p, static_cast<uInt>(n))); }

uint32_t ThroughDecompressStream(const Stream& s, Bytes& out, bool check) {
    MemoryStream source(s.packed);
    TDecompressStream stream(source, -15, s.variant);
    uint32_t crc = 0;
    for (int32_t n; (n = stream.Read(out.data(), kChunk)) > 0;) {
        if (check) crc = Crc(crc, out.data(), static_cast<size_t>(n));
    }
    return crc;
}

uint32_t ThroughInflate(const Stream& s, Bytes& out, bool check) {
    TInflateRec rec;
    InflateInit(&rec, -15, kInflateRecordCheck, s.variant);
    rec.NextIn = s.packed.data();
    rec.AvailIn = static_cast<int32_t>(s.packed.size());
    uint32_t crc = 0;
    int code;
    do {
        rec.NextOut = out.data();
        rec.AvailOut = kChunk;
        code = Inflate(&rec, kInflateNoFlush);
        if (check) crc = Crc(crc, out.data(), static_cast<size_t>(rec.NextOut - out.data()));
    } while (code == kInflateOk);
    InflateEnd(&rec);
    return crc;
}

uint32_t ThroughZlib(const Stream& s, Bytes& out, bool check) {
    z_stream zs{};
    inflateInit2(&zs, -15);
    zs.next_in = const_cast<Bytef*>(s.packed.data());
    zs.avail_in = static_cast<uInt>(s.packed.size());
    uint32_t crc = 0;
    int code;
    do {
        zs.next_out = out.data();
        zs.avail_out = kChunk;
        code = inflate(&zs, Z_NO_FLUSH);
        if (check) crc = Crc(crc, out.data(), static_cast<size_t>(zs.next_out - out.data()));
    } while (code == Z_OK);
    inflateEnd(&zs);
    return crc;
}

uint32_t ThroughLibdeflate(const Stream& s, Bytes& out, bool check) {
    static libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    if (out.size() < s.size) out.resize(s.size);
    size_t actual = 0;
    libdeflate_deflate_decompress(d, s.packed.data(), s.packed.size(), out.data(), s.size, &actual);
    return check ? Crc(0, out.data(), actual) : 0;
}

struct Contender {
    const char* name;
    Decoder decoder;
    double mbps = 0;  // stays 0 when a stream decoded wrongly
};

// Processor time, which other work on a shared machine disturbs less than
// wall time.
double Seconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// Best of kRounds in MB/s of output. The contenders take turns within each
// round, so that a busy spell of the machine hits all of them alike.
void Measure(const std::vector<Stream>& streams, std::vector<Contender>& contenders) {
    Bytes out(kChunk);
    size_t total = 0;
    for (const Stream& s : streams) total += s.size;
    std::vector<double> best(contenders.size(), 1e30);
    std::vector<bool> correct(contenders.size(), true);
    for (size_t i = 0; i < contenders.size(); ++i) {
        for (const Stream& s : streams) correct[i] = correct[i] && contenders[i].decoder(s, out, true) == s.crc;
    }
    for (int round = 0; round < kRounds; ++round) {
        for (size_t i = 0; i < contenders.size(); ++i) {
            const double start = Seconds();
            for (const Stream& s : streams) contenders[i].decoder(s, out, false);
            best[i] = std::min(best[i], Seconds() - start);
        }
    }
    for (size_t i = 0; i < contenders.size(); ++i) {
        contenders[i].mbps = correct[i] ? static_cast<double>(total) / best[i] / 1e6 : 0;
    }
}

void Report(const Contender& c, double reference) {
    if (c.mbps == 0) std::printf("  %-34s WRONG OUTPUT\n", c.name);
    else std::printf("  %-34s %8.1f MB/s   ratio to zlib %.2f\n", c.name, c.mbps, c.mbps / reference);
}

std::vector<Stream> StreamsOfZip(const std::string& path, uint16_t method) {
    std::vector<Stream> streams;
    for (const inflate_test::ZipEntry& e : inflate_test::ReadZip(inflate_test::ReadFile(path))) {
        if (e.method == method && e.uncompressedSize > 0) streams.push_back({e.data, e.uncompressedSize, e.crc,
                                                                          method == 9 ? InflateVariant::Deflate64 : InflateVariant::Deflate});
    }
    return streams;
}

size_t TotalSize(const std::vector<Stream>& streams, bool packed) {
    size_t total = 0;
    for (const Stream& s : streams) total += packed ? s.packed.size() : s.size;
    return total;
}

// Memory one stream holds: what the decoder allocates at its peak, plus the
// decompression stream's input buffer.
size_t gLive = 0, gPeak = 0;
void* CountingAlloc(uint32_t, uint32_t items, uint32_t size) {
    auto* p = static_cast<size_t*>(std::calloc(1, sizeof(size_t) + size_t{items} * size));
    *p = size_t{items} * size;
    gLive += *p;
    gPeak = std::max(gPeak, gLive);
    return p + 1;
}
void CountingFree(uint32_t, void* address) {
    size_t* p = static_cast<size_t*>(address) - 1;
    gLive -= *p;
    std::free(p);
}

size_t PeakDecoderMemory(const std::vector<Stream>& streams) {
    gPeak = 0;
    Bytes out(kChunk);
    for (const Stream& s : streams) {
        TInflateRec rec;
        rec.AllocFunc = CountingAlloc;
        rec.FreeFunc = CountingFree;
        InflateInit(&rec, -15, kInflateRecordCheck, s.variant);
        rec.NextIn = s.packed.data();
        rec.AvailIn = static_cast<int32_t>(s.packed.size());
        do {
            rec.NextOut = out.data();
            rec.AvailOut = kChunk;
        } while (Inflate(&rec, kInflateNoFlush) == kInflateOk);
        InflateEnd(&rec);
    }
    return gPeak;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: %s FILE_LIST [DEFLATE_ZIP DEFLATE64_ZIP]\n", argv[0]);
        return 2;
    }
    std::vector<Stream> streams;
    std::ifstream list(argv[1]);
    for (std::string path; std::getline(list, path);) {
        Bytes data = inflate_test::ReadFile(path);
        if (data.empty()) continue;
        streams.push_back({inflate_test::ZlibDeflate(data, 6), data.size(), inflate_test::Crc32(data)});
    }
    std::printf("Deflate: %zu zlib level-6 streams, %.1f MB -> %.1f MB (MB/s of output, processor time)\n",
                streams.size(), TotalSize(streams, false) / 1e6, TotalSize(streams, true) / 1e6);
    std::vector<Contender> deflateRun = {{"zlib inflate (32 KiB output)", ThroughZlib},
                                         {"Inflate (32 KiB output)", ThroughInflate},
                                         {"TDecompressStream (32 KiB reads)", ThroughDecompressStream},
                                         {"libdeflate (whole buffer)", ThroughLibdeflate}};
    Measure(streams, deflateRun);
    for (const Contender& c : deflateRun) Report(c, deflateRun[0].mbps);
    std::printf("  memory per stream: decoder %zu bytes at its peak + %d bytes input buffer\n",
                PeakDecoderMemory(streams), TCustomStream::kInputBufferSize);
    if (argc == 2) return 0;

    const std::vector<Stream> deflate = StreamsOfZip(argv[2], 8);
    const std::vector<Stream> deflate64 = StreamsOfZip(argv[3], 9);
    std::printf("7-Zip archives of the same files: Deflate %zu entries %.1f MB -> %.1f MB, "
                "Deflate64 %zu entries %.1f MB -> %.1f MB\n",
                deflate.size(), TotalSize(deflate, false) / 1e6, TotalSize(deflate, true) / 1e6, deflate64.size(),
                TotalSize(deflate64, false) / 1e6, TotalSize(deflate64, true) / 1e6);
    std::vector<Contender> sevenZipDeflate = {{"zlib inflate, Deflate", ThroughZlib},
                                              {"Inflate, Deflate", ThroughInflate}};
    Measure(deflate, sevenZipDeflate);
    std::vector<Contender> sevenZipDeflate64 = {{"Inflate, Deflate64", ThroughInflate},
                                                {"TDecompressStream, Deflate64", ThroughDecompressStream}};
    Measure(deflate64, sevenZipDeflate64);
    for (const Contender& c : sevenZipDeflate) Report(c, sevenZipDeflate[0].mbps);
    for (const Contender& c : sevenZipDeflate64) Report(c, sevenZipDeflate[0].mbps);
    const double own = sevenZipDeflate[1].mbps;
    std::printf("  Deflate64 / Deflate speed of Inflate: %.2f\n", own > 0 ? sevenZipDeflate64[0].mbps / own : 0.0);
    std::printf("  memory per Deflate64 stream: decoder %zu bytes at its peak + %d bytes input buffer\n",
                PeakDecoderMemory(deflate64), TCustomStream::kInputBufferSize);
    return 0;
}
