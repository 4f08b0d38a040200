#include "archive/decoders/unshrink.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "archive/decoders/legacy_bit_reader.h"
#include "archive/decoders/legacy_error.h"
#include "archive/decoders/legacy_output.h"
#include "archive/frame/error_codes.h"

namespace {

constexpr int32_t kControlCode = 256;
constexpr int32_t kFirstFreeCode = 257;
constexpr int32_t kCodeCount = 8192;
constexpr unsigned kFirstCodeSize = 9;
constexpr unsigned kLastCodeSize = 13;
constexpr int32_t kNoParent = -1;

[[noreturn]] void BadBlock() { throw LegacyDataError{ErrorCode::BadBlock, true}; }

class Unshrinker {
public:
    Unshrinker(LegacyBitReader& in, LegacyOutput& out) : in_(in), out_(out) {
        for (int32_t code = 0; code < kCodeCount; ++code) {
            parent_[code] = kNoParent;
            character_[code] = static_cast<uint8_t>(code < 256 ? code : 0);
            children_[code] = 0;
        }
        for (int32_t code = kFirstFreeCode; code < kCodeCount; ++code) freeList_[code - kFirstFreeCode] = code;
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
            depth_ = 0;
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
            while (depth_ > 0) out_.Put(stack_[--depth_]);

            if (nextFree_ < kCodeCount) {
                const int32_t added = freeList_[nextFree_++ - kFirstFreeCode];
                parent_[added] = previous;
                character_[added] = firstCharacter;
                ++children_[previous];
            }
            lastFirstCharacter = firstCharacter;
            previous = code;
        }
    }

private:
    void Push(uint8_t character) {
        if (depth_ == kCodeCount) {
            out_.Flush();
            throw LegacyDataError{ErrorCode::StackOverflow, true};
        }
        stack_[depth_++] = character;
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
        std::vector<int32_t> leaves;
        for (int32_t code = kFirstFreeCode; code < kCodeCount; ++code)
            if (children_[code] == 0) leaves.push_back(code);
        nextFree_ = kCodeCount;
        for (auto it = leaves.rbegin(); it != leaves.rend(); ++it) {
            const int32_t code = *it;
            if (parent_[code] != kNoParent) --children_[parent_[code]];
            parent_[code] = kNoParent;
            character_[code] = 0;
            freeList_[--nextFree_ - kFirstFreeCode] = code;
        }
    }

    LegacyBitReader& in_;
    LegacyOutput& out_;
    unsigned codeSize_ = kFirstCodeSize;
    std::array<int32_t, kCodeCount> parent_;
    std::array<uint8_t, kCodeCount> character_;
    std::array<int16_t, kCodeCount> children_;
    std::array<int32_t, kCodeCount - kFirstFreeCode> freeList_;
    int32_t nextFree_ = kFirstFreeCode;
    std::array<uint8_t, kCodeCount> stack_;
    int32_t depth_ = 0;
};

}  // namespace

void Unshrink(LegacyBitReader& in, LegacyOutput& out) {
    // About 90 KiB of tables: on the heap, not the stack.
    auto unshrinker = std::make_unique<Unshrinker>(in, out);
    unshrinker->Run();
}
