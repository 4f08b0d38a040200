#include "archive/codec/unreduce.h"

#include <array>
#include <cstdint>
#include <memory>

#include "archive/codec/legacy_bit_reader.h"
#include "archive/codec/legacy_error.h"
#include "archive/codec/legacy_output.h"

namespace {

constexpr int32_t kDle = 144;
constexpr int32_t kMaxFollowers = 32;
constexpr uint32_t kMinRun = 3;

struct FollowerSet {
    int32_t count = 0;
    unsigned indexBits = 0;
    std::array<uint8_t, kMaxFollowers> bytes{};
};

// Bits of an index into a set of count bytes.
unsigned IndexBits(int32_t count) {
    unsigned bits = 1;
    while ((1 << bits) < count) ++bits;
    return bits;
}

// False when the data ends inside the sets.
bool ReadFollowerSets(LegacyBitReader& in, std::array<FollowerSet, 256>& sets) {
    for (int character = 255; character >= 0; --character) {
        FollowerSet& set = sets[static_cast<size_t>(character)];
        set.count = in.ReadBits(6);
        if (set.count < 0) return false;
        if (set.count > kMaxFollowers) throw LegacyDataError{LegacyFault::BadBlock, true};
        set.indexBits = IndexBits(set.count);
        for (int32_t i = 0; i < set.count; ++i) {
            const int32_t follower = in.ReadBits(8);
            if (follower < 0) return false;
            set.bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(follower);
        }
    }
    return true;
}

// The DLE runs: 144 0 is a plain 144; 144 V [extra length] D copies a run.
class RunExpander {
public:
    RunExpander(LegacyOutput& out, int factor)
        : out_(out), factor_(factor), lengthMask_(0x7F >> (factor - 1)) {}

    void Expand(uint8_t c) {
        switch (state_) {
            case State::Literal:
                if (c == kDle)
                    state_ = State::AfterDle;
                else
                    out_.Put(c);
                break;
            case State::AfterDle:
                if (c == 0) {
                    out_.Put(kDle);
                    state_ = State::Literal;
                } else {
                    lengthByte_ = c;
                    length_ = c & lengthMask_;
                    state_ = length_ == lengthMask_ ? State::ExtraLength : State::Distance;
                }
                break;
            case State::ExtraLength:
                length_ += c;
                state_ = State::Distance;
                break;
            case State::Distance: {
                const uint32_t distance = ((lengthByte_ >> (8 - factor_)) << 8) + c + 1u;
                out_.CopyMatch(distance, length_ + kMinRun);
                state_ = State::Literal;
                break;
            }
        }
    }

private:
    enum class State { Literal, AfterDle, ExtraLength, Distance };

    LegacyOutput& out_;
    const int factor_;
    const uint32_t lengthMask_;
    State state_ = State::Literal;
    uint32_t lengthByte_ = 0;
    uint32_t length_ = 0;
};

}  // namespace

void Unreduce(LegacyBitReader& in, LegacyOutput& out, int factor) {
    if (out.Full()) return;
    auto sets = std::make_unique<std::array<FollowerSet, 256>>();
    if (!ReadFollowerSets(in, *sets)) return;
    RunExpander expander(out, factor);
    uint8_t last = 0;
    while (!out.Full()) {
        const FollowerSet& set = (*sets)[last];
        int32_t c;
        if (set.count > 0 && (c = in.ReadBits(1)) == 0) {
            const int32_t index = in.ReadBits(set.indexBits);
            if (index < 0) return;
            if (index >= set.count) throw LegacyDataError{LegacyFault::BadBlock, true};
            c = set.bytes[static_cast<size_t>(index)];
        } else {
            c = in.ReadBits(8);
        }
        if (c < 0) return;
        last = static_cast<uint8_t>(c);
        expander.Expand(last);
    }
}
