#include "archive/reader/decompress_stream.h"

#include <algorithm>
#include <limits>

#include "archive/format/archive_exceptions.h"
#include "archive/format/zip_cipher.h"

namespace {
constexpr int32_t kSkipPieceSize = 4096;
}

TDecompressStream::TDecompressStream(TStream32& source, int8_t windowBits, InflateVariant variant)
    : TCustomStream(source), variant_(variant) {
    Rec.NextIn = InputBuffer.get();
    Rec.AvailIn = 0;
    InitDecoder(Rec, windowBits);
}

TDecompressStream::~TDecompressStream() {
    Source->Seek(-static_cast<int64_t>(Rec.AvailIn), TSeekOrigin::soCurrent);
    EndDecoder(Rec);
}

int32_t TDecompressStream::Read(void* buffer, int32_t count) {
    Rec.NextOut = static_cast<uint8_t*>(buffer);
    Rec.AvailOut = count;
    if (Source->Position() != SourcePos) Source->SetPosition(SourcePos);
    while (Rec.AvailOut > 0) {
        if (Rec.AvailIn == 0) {
            const int32_t got = Source->Read(InputBuffer.get(), std::min(count, kInputBufferSize));
            Rec.AvailIn = std::max(got, 0);
            Rec.NextIn = InputBuffer.get();
            SourcePos = Source->Position();
            if (Rec.AvailIn > 0) {
                if (Encrypted) EntryCipher().DecipherBuffer(InputBuffer.get(), static_cast<size_t>(Rec.AvailIn));
                if (OnInputRead) OnInputRead(this);
            }
        }
        const int code = DecodeStep(Rec);
        if (code == kInflateStreamEnd) break;
        if (code < 0) return code;
    }
    return count - Rec.AvailOut;
}

int32_t TDecompressStream::Write(const void*, int32_t) { return -1; }

int64_t TDecompressStream::Seek(int64_t offset, TSeekOrigin origin) {
    if (offset < std::numeric_limits<int32_t>::min() || offset > std::numeric_limits<int32_t>::max()) {
        throw ERangeError();
    }
    const auto totalOut = static_cast<int64_t>(Rec.TotalOut);
    if (offset == 0 && origin == TSeekOrigin::soBeginning) {
        ResetDecoder(Rec);
        Rec.NextIn = InputBuffer.get();
        Rec.AvailIn = 0;
        Source->SetPosition(0);
        SourcePos = 0;
    } else if (origin == TSeekOrigin::soCurrent && offset >= 0) {
        Skip(offset);
    } else if (origin == TSeekOrigin::soBeginning && offset > totalOut) {
        Skip(offset - totalOut);
    }
    return static_cast<int64_t>(Rec.TotalOut);
}

void TDecompressStream::Skip(int64_t distance) {
    uint8_t piece[kSkipPieceSize];
    for (; distance >= kSkipPieceSize; distance -= kSkipPieceSize) ReadBuffer(piece, kSkipPieceSize);
    if (distance > 0) ReadBuffer(piece, static_cast<int32_t>(distance));
}

int TDecompressStream::ResetDecoder(TInflateRec& rec) { return InflateReset(&rec); }
int TDecompressStream::EndDecoder(TInflateRec& rec) { return InflateEnd(&rec); }
int TDecompressStream::DecodeStep(TInflateRec& rec) { return Inflate(&rec, kInflateNoFlush); }
int TDecompressStream::InitDecoder(TInflateRec& rec, int windowBits) {
    return InflateInit(&rec, windowBits, kInflateRecordCheck, variant_);
}
