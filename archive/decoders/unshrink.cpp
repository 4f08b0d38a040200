#include "archive/decoders/unshrink.h"

#include <array>
#include <cstdint>
#include <memory>

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
            codes_[code] = {kNoParent, static_cast<uint8_t>(code < 256 ? code : 0)};
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
            top_ = kCodeCount;
            if (code > kControlCode && codes_[code].parent == kNoParent) {
                // The code being defined right now: the previous string and its own first character.
                Push(lastFirstCharacter);
                current = previous;
            }
            while (current > kControlCode) {
                Push(codes_[current].character);
                current = codes_[current].parent;
                // A link to a free code means the data is damaged.
                if (current == kNoParent) BadBlock();
            }
            const uint8_t firstCharacter = codes_[current].character;
            out_.Put(firstCharacter);
            out_.Put(stack_.data() + top_, static_cast<uint32_t>(kCodeCount - top_));

            if (nextFree_ < kCodeCount) {
                const int32_t added = freeList_[nextFree_++ - kFirstFreeCode];
                codes_[added] = {previous, firstCharacter};
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
            throw LegacyDataError{ErrorCode::StackOverflow, true};
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
            if (children_[code] == 0) leaves_[leaves++] = code;
        nextFree_ = kCodeCount;
        while (leaves > 0) {
            const int32_t code = leaves_[--leaves];
            if (codes_[code].parent != kNoParent) --children_[codes_[code].parent];
            codes_[code] = {kNoParent, 0};
            freeList_[--nextFree_ - kFirstFreeCode] = code;
        }
    }

    LegacyBitReader& in_;
    LegacyOutput& out_;
    unsigned codeSize_ = kFirstCodeSize;
    struct Code {
        int32_t parent;  // kNoParent: the code is free
        uint8_t character;
    };
    std::array<Code, kCodeCount> codes_;
    std::array<int16_t, kCodeCount> children_;
    std::array<int32_t, kCodeCount - kFirstFreeCode> freeList_;
    int32_t nextFree_ = kFirstFreeCode;
    std::array<int32_t, kCodeCount - kFirstFreeCode> leaves_;  // the partial clear's work list
    std::array<uint8_t, kCodeCount> stack_;
    int32_t top_ = kCodeCount;
};

}  // namespace

void Unshrink(LegacyBitReader& in, LegacyOutput& out) {
    // About 90 KiB of tables: on the heap, not the stack.
    auto unshrinker = std::make_unique<Unshrinker>(in, out);
    unshrinker->Run();
}
