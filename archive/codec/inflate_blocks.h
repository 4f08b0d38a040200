#pragma once

#include <cstdint>

#include "archive/codec/bit_reader.h"
#include "archive/codec/inflate_codes.h"
#include "archive/codec/inflate_tables.h"
#include "archive/codec/inflate_window.h"

namespace inflate_impl {

// Block level: block headers, stored data and code tables. Each mode names
// what the decoder is waiting for.
enum class BlockMode : uint8_t {
    Type,    // the 3 header bits of the next block
    Lens,    // the 32 bits of a stored block's LEN and NLEN
    Stored,  // stored bytes, and window room for them
    Table,   // the 14 bits of HLIT, HDIST and HCLEN
    BTree,   // the 3-bit lengths of the code-length code
    DTree,   // the code lengths of the literal/length and distance codes
    Codes,   // the codes decoder's end of block
    Dry,     // output space for the last decoded bytes
    Done,    // nothing: the stream has ended
    Bad,     // nothing: the data was found wrong
};

struct BlockDecoder {
    bool deflate64 = false;      // the variant, fixed for the life of the stream
    BlockMode mode = BlockMode::Type;
    bool lastBlock = false;
    uint32_t storedLeft = 0;     // Stored: bytes still to copy
    uint32_t header = 0;         // Table..DTree: the 14 header bits
    uint8_t* codeLengths = nullptr;  // BTree, DTree: 258 + HLIT + HDIST entries
    uint32_t index = 0;          // BTree, DTree: next entry of codeLengths
    Table codeLengthTable;
    BitBuffer bits;
    Window window;
    TableEntry* tableSpace = nullptr;  // kTableSpaceEntries, owned by the stream
    CodesDecoder* codes = nullptr;     // Codes
};

enum class BlockResult {
    Suspended,  // input or output ran out; call again with more
    StreamEnd,  // the last block has been decoded and delivered
    DataError,
    MemError,
};

BlockResult RunBlocks(BlockDecoder& blocks, TInflateRec& rec);

// Frees what the current block holds, empties the bit buffer and restarts
// the window; the next block read is the first of a stream.
void ResetBlocks(BlockDecoder& blocks, TInflateRec& rec);

}  // namespace inflate_impl
