#include "archive/codec/unshrink.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <numeric>

#include "archive/codec/legacy_bit_reader.h"
#include "archive/codec/legacy_error.h"
#include "archive/codec/legacy_output.h"

namespace {

constexpr int32_t kControlCode = 256;
constexpr int32_t kFirstFreeCode = 257;
constexpr int32_t kCodeCount = 8192;
constexpr unsigned kFirstCodeSize = 9;
constexpr unsigned kLastCodeSize = 13;
constexpr int16_t kNoParent = -1;

[[noreturn]] void BadBlock() { throw LegacyDataError{LegacyFault::BadBlock, true}; }

class Unshrinker {
public:
    // Whole-table fills: entries are often small, so setting up must be cheap.
    Unshrinker(LegacyBitReader& in, LegacyOutput& out) : in_(in), out_(out) {
        parent_.fill(kNoParent);
        std::iota(character_.begin(), character_.begin() + 256, 0);
        std::fill(character_.begin() + 256, character_.end(), 0);
        children_.fill(0);
        std::iota(freeList_.begin(), freeList_.end(), kFirstFreeCode);
    }

    void Run() {
        if (out_.Full()) return;
        const int32_t first = in_.ReadBits(codeSize_);
        // A stream starts with a literal; anything else has no string to build on.
        if (first < 0 || first > 255) BadBlock();
        out_.Put(static_cast<uint8_t>(first));
        int32_t previous = first;
        uint8_t lastFirstCharacter = static_cast<uint8_t>(first);

        while (!out_.Full()) {
            const int32_t code = in_.ReadBits(codeSize_);
            if (code < 0) return;
            if (code == kControlCode) {
                Control();
                continue;
            }
            int32_t current = code;
            top_ = kCodeCount;
            if (code > kControlCode && parent_[code] == kNoParent) {
                // The code being defined right now: the previous string and its own first character.
                Push(lastFirstCharacter);
                current = previous;
            }
            while (current > kControlCode) {
                Push(character_[current]);
                current = parent_[current];
                // A link to a free code means the data is damaged.
                if (current == kNoParent) BadBlock();
            }
            const uint8_t firstCharacter = character_[current];
            out_.Put(firstCharacter);
            out_.Put(stack_.data() + top_, static_cast<uint32_t>(kCodeCount - top_));

            if (nextFree_ < kCodeCount) {
                const int32_t added = freeList_[nextFree_++ - kFirstFreeCode];
                parent_[added] = static_cast<int16_t>(previous);
                character_[added] = firstCharacter;
                ++children_[previous];
            }
            lastFirstCharacter = firstCharacter;
            previous = code;
        }
    }

private:
    // The stack fills from its end down, so that a string lies in order.
    void Push(uint8_t character) {
        if (top_ == 0) {
            out_.Flush();
            throw LegacyDataError{LegacyFault::StackOverflow, true};
        }
        stack_[--top_] = character;
    }

    void Control() {
        const int32_t control = in_.ReadBits(codeSize_);
        if (control == 1 && codeSize_ < kLastCodeSize)
            ++codeSize_;
        else if (control == 2)
            PartialClear();
        else
            BadBlock();
    }

    // Frees every code that no other code extends, the lowest first in line
    // for reuse. Codes that lose their last child here stay in use.
    void PartialClear() {
        int32_t leaves = 0;
        for (int32_t code = kFirstFreeCode; code < kCodeCount; ++code)
            if (children_[code] == 0) leaves_[leaves++] = static_cast<int16_t>(code);
        nextFree_ = kCodeCount;
        while (leaves > 0) {
            const int32_t code = leaves_[--leaves];
            if (parent_[code] != kNoParent) --children_[parent_[code]];
            parent_[code] = kNoParent;
            character_[code] = 0;
            freeList_[--nextFree_ - kFirstFreeCode] = static_cast<int16_t>(code);
        }
    }

    LegacyBitReader& in_;
    LegacyOutput& out_;
    unsigned codeSize_ = kFirstCodeSize;
    std::array<int16_t, kCodeCount> parent_;  // kNoParent: the code is free
    std::array<uint8_t, kCodeCount> character_;
    std::array<int16_t, kCodeCount> children_;
    std::array<int16_t, kCodeCount - kFirstFreeCode> freeList_;
    int32_t nextFree_ = kFirstFreeCode;
    std::array<int16_t, kCodeCount - kFirstFreeCode> leaves_;  // the partial clear's work list
    std::array<uint8_t, kCodeCount> stack_;
    int32_t top_ = kCodeCount;
};

}  // namespace

void Unshrink(LegacyBitReader& in, LegacyOutput& out) {
    // About 90 KiB of tables: on the heap, not the stack.
    auto unshrinker = std::make_unique<Unshrinker>(in, out);
    unshrinker->Run();
}
