#include "archive/codec/inflate.h"

#include <cstdlib>
#include <cstring>

#include "archive/codec/inflate_blocks.h"
#include "archive/codec/inflate_memory.h"
#include "archive/codec/match_copy.h"

using namespace inflate_impl;

namespace {

// Stream level of a raw stream.
enum class StreamMode : uint8_t {
    Blocks,  // the block decoder's end of stream
    Done,    // nothing: the stream has ended
    Bad,     // nothing: the data was found wrong
};

constexpr int kMinWindowBits = 8;
constexpr int kMaxWindowBits = 15;

}  // namespace

struct InflateState {
    StreamMode mode = StreamMode::Blocks;
    bool raw = true;
    int windowBits = 0;
    BlockDecoder blocks;
};

void* InflateDefaultAlloc(uint32_t, uint32_t items, uint32_t size) { return std::calloc(items, size); }
void InflateDefaultFree(uint32_t, void* address) { std::free(address); }

namespace {

// Frees everything the state holds, and the state itself.
void FreeState(TInflateRec& rec) {
    InflateState* state = rec.State;
    ResetBlocks(state->blocks, rec);
    Release(rec, state->blocks.window.start);
    Release(rec, state->blocks.tableSpace);
    Destroy(rec, state);
    rec.State = nullptr;
}

}  // namespace

int InflateInit(TInflateRec* rec, int windowBits, int recordCheck, InflateVariant variant) {
    if (recordCheck != kInflateRecordCheck) return kInflateVersionError;
    if (!rec) return kInflateStreamError;
    // Hooks go in pairs: memory from one allocator is never given to another's release.
    if (!rec->AllocFunc || !rec->FreeFunc) {
        rec->AllocFunc = InflateDefaultAlloc;
        rec->FreeFunc = InflateDefaultFree;
    }
    rec->State = Create<InflateState>(*rec);
    if (!rec->State) return kInflateMemError;
    InflateState& state = *rec->State;

    state.raw = windowBits < 0;
    state.blocks.deflate64 = variant == InflateVariant::Deflate64;
    int bits = std::abs(windowBits);
    int maxBits = kMaxWindowBits;
    if (state.blocks.deflate64) {
        ++bits;
        ++maxBits;
    }
    // The zlib wrapper (positive window bits) is not offered.
    if (!state.raw || bits < kMinWindowBits || bits > maxBits) {
        FreeState(*rec);
        return kInflateStreamError;
    }
    state.windowBits = bits;

    const uint32_t windowSize = uint32_t{1} << bits;
    auto* window = static_cast<uint8_t*>(Allocate(*rec, windowSize + kWindowSlack, 1));
    auto* tableSpace = static_cast<TableEntry*>(Allocate(*rec, kTableSpaceEntries, sizeof(TableEntry)));
    state.blocks.window.start = window;
    state.blocks.window.end = window ? window + windowSize : nullptr;
    state.blocks.tableSpace = tableSpace;
    if (!window || !tableSpace) {
        FreeState(*rec);
        return kInflateMemError;
    }
    return InflateReset(rec);
}

int InflateReset(TInflateRec* rec) {
    if (!rec || !rec->State) return kInflateStreamError;
    rec->TotalIn = 0;
    rec->TotalOut = 0;
    InflateState& state = *rec->State;
    state.mode = StreamMode::Blocks;
    ResetBlocks(state.blocks, *rec);
    // A distance reaching before the start of the stream reads zeros, also
    // after a restart.
    std::memset(state.blocks.window.start, 0, state.blocks.window.Size());
    return kInflateOk;
}

int Inflate(TInflateRec* rec, int flush) {
    if (!rec || !rec->State || !rec->NextIn) return kInflateStreamError;
    InflateState& state = *rec->State;
    if (state.mode == StreamMode::Done) return kInflateStreamEnd;
    const uint64_t inBefore = rec->TotalIn;
    const uint64_t outBefore = rec->TotalOut;
    if (state.mode == StreamMode::Bad) {
        state.blocks.window.Flush(*rec);
    } else {
        switch (RunBlocks(state.blocks, *rec)) {
            case BlockResult::StreamEnd:
                ResetBlocks(state.blocks, *rec);
                state.mode = StreamMode::Done;
                return kInflateStreamEnd;
            case BlockResult::DataError:
                state.mode = StreamMode::Bad;
                break;
            case BlockResult::MemError:
                return kInflateMemError;
            case BlockResult::Suspended:
                break;
        }
    }
    // Every byte decoded before an error is delivered before the error is
    // reported, however little output room each call offers.
    if (state.mode == StreamMode::Bad && state.blocks.window.Drained()) return kInflateDataError;
    const bool progress = rec->TotalIn != inBefore || rec->TotalOut != outBefore;
    if (!progress || flush == kInflateFinish) return kInflateBufError;
    return kInflateOk;
}

int InflateEnd(TInflateRec* rec) {
    if (!rec || !rec->State || !rec->FreeFunc) return kInflateStreamError;
    FreeState(*rec);
    return kInflateOk;
}
