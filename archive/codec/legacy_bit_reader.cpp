#include "archive/codec/legacy_bit_reader.h"

#include <bit>
#include <cstring>

bool LegacyBitReader::Fill(unsigned n) {
    while (count_ < n) {
        if (position_ == fill_) {
            if (stopped_) return false;
            fill_ = source_(buffer_.data(), static_cast<int32_t>(buffer_.size()));
            position_ = 0;
            if (fill_ <= 0) {
                fill_ = 0;
                stopped_ = true;
                return false;
            }
        }
        if (std::endian::native == std::endian::little && fill_ - position_ >= 8 && count_ <= 32) {
            // Whole bytes up to 56 bits in one load.
            uint64_t word;
            std::memcpy(&word, buffer_.data() + position_, sizeof word);
            const unsigned bytes = (63 - count_) >> 3;
            hold_ |= (word & ((uint64_t{1} << (bytes * 8)) - 1)) << count_;
            position_ += static_cast<int32_t>(bytes);
            count_ += bytes * 8;
        } else {
            hold_ |= uint64_t{buffer_[static_cast<size_t>(position_++)]} << count_;
            count_ += 8;
        }
    }
    return true;
}
