#include "archive/reader/custom_stream.h"

TCustomStream::TCustomStream(TStream32& source)
    : Source(&source), SourcePos(source.Position()), InputBuffer(std::make_unique<uint8_t[]>(kInputBufferSize)) {
    Rec.AllocFunc = InflateDefaultAlloc;
    Rec.FreeFunc = InflateDefaultFree;
}

TCustomStream::~TCustomStream() = default;
