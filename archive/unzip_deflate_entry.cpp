// The Deflate and Deflate64 entry driver of TUnZip: pulls an entry's plain
// bytes through a decompression stream in blocks, writes them with the CRC
// update, keeps the counters and the progress, and goes on with the next
// volume when a split or spanned archive breaks inside the entry.

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "archive/codec/inflate.h"
#include "archive/reader/entry_data_stream.h"
#include "archive/format/error_codes.h"
#include "archive/reader/decompress_stream.h"
#include "archive/reader/file_stream32.h"
#include "archive/unzip.h"
#include "platform/message_pump.h"

namespace {

constexpr uint64_t kChunkSize = 32768;
constexpr uint16_t kDataDescriptorFlag = 0x0008;
constexpr int8_t kRawDeflateWindowBits = -15;

int32_t NextChunk(uint64_t remaining) { return static_cast<int32_t>(std::min(remaining, kChunkSize)); }

}  // namespace

void TUnZip::ExtractDeflate(std::unique_ptr<TFileStream32>& archive, TStream32& output) {
    InflateEntry(archive, output, InflateVariant::Deflate);
}

void TUnZip::ExtractDeflate64(std::unique_ptr<TFileStream32>& archive, TStream32& output) {
    InflateEntry(archive, output, InflateVariant::Deflate64);
}

void TUnZip::InflateEntry(std::unique_ptr<TFileStream32>& archive, TStream32& output, InflateVariant variant) {
    const uint64_t size = entryDescriptor_.unpackedSize;
    if (size == 0) return;
    const bool spanned = arcType_ == atZipDS || arcType_ == atZipMV;
    const auto total = static_cast<int64_t>(unpackedTotal_);

    // A volume left behind stays open until the decompression stream, which
    // still points at it, is gone.
    std::unique_ptr<TFileStream32> previousVolume;
    // A data descriptor with no size in the header leaves the end to the stream.
    const bool sizeKnown = !(entryDescriptor_.flags & kDataDescriptorFlag) || entryDescriptor_.packedSize > 0;
    TEntryDataStream data(*archive, sizeKnown ? std::optional<uint64_t>(entryDescriptor_.packedSize) : std::nullopt);
    TDecompressStream inflater(data, kRawDeflateWindowBits, variant);
    inflater.Encrypted = entryDescriptor_.Encrypted();

    uint64_t remaining = size;
    int32_t chunk = NextChunk(remaining);
    std::vector<uint8_t> buffer(static_cast<size_t>(chunk));

    // WriteOut raises only for a full disk, which ends the entry; any other
    // failed write ends only its block.
    bool diskFull = false;
    auto writeBlock = [&](int32_t count) {
        int32_t written = 0;
        try {
            written = WriteOut(output, buffer.data(), count, true, kCrc32);
        } catch (const E_RAISE&) {
            diskFull = true;
            throw;
        }
        if (written <= 0) RaiseError(outputPath_, "", "0", ErrorCode::WriteError);
    };
    auto countDone = [&](uint64_t count) {
        count = std::min(count, entryOutput_.entryBytesLeft);
        bytesRemaining_ -= static_cast<int64_t>(count);
        entryOutput_.entryBytesLeft -= count;
        ReportProgress(static_cast<int64_t>(size - entryOutput_.entryBytesLeft), static_cast<int64_t>(size), total);
    };

    while (remaining > 0) {
        if (IsCancelled()) break;
        platform::ProcessMessages();
        try {
            const int32_t produced = inflater.Read(buffer.data(), chunk);
            if (produced > 0) {
                writeBlock(produced);
                countDone(static_cast<uint64_t>(produced));
                remaining -= static_cast<uint64_t>(chunk);
                chunk = NextChunk(remaining);
            } else if (produced == kInflateBufError && spanned && !data.Exhausted() && inflater.TotalOut() < size) {
                const int32_t part = chunk - inflater.AvailOut();
                if (part > 0) writeBlock(part);
                previousVolume = std::move(archive);
                if (!OpenContinuationVolume(archive) || !archive) {
                    if (arcType_ == atZipMV) cancelFlag_ = true;
                    break;
                }
                remaining -= static_cast<uint64_t>(part);
                chunk = NextChunk(remaining);
                archive->SetPosition(0);
                data.SetSource(*archive);
                inflater.SourcePos = 0;
                countDone(static_cast<uint64_t>(std::max(part, 0)));
            } else {
                // The compressed data ended early or is damaged: what was decoded
                // before is kept, and the rest of the entry counts as done. A
                // stream that ended short is reported by the size check after.
                const int32_t part = chunk - inflater.AvailOut();
                if (produced < 0 && part > 0) writeBlock(part);
                countDone(entryOutput_.entryBytesLeft);
                entryOutput_.packedBytesLeft = 0;
                if (produced < 0) {
                    ReportError(entryName_, "", "0", ErrorCode::DecompressionError);
                    entryFailed_ = true;
                }
                break;
            }
        } catch (const EWriteError&) {
            throw;
        } catch (const E_RAISE&) {
            if (diskFull) throw;
            remaining -= std::min<uint64_t>(remaining, static_cast<uint64_t>(chunk));
            chunk = NextChunk(remaining);
        } catch (...) {
            remaining -= std::min<uint64_t>(remaining, static_cast<uint64_t>(chunk));
            chunk = NextChunk(remaining);
        }
    }
}
