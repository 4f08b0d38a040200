#include "archive/reader/unbase_header_obj.h"

#include "archive/reader/packed_entry.h"

#include <algorithm>
#include <utility>

TUnBaseHeaderObj::TUnBaseHeaderObj(TUnBaseHeaderObj&& other) noexcept
    : blocks_(std::move(other.blocks_)), marks_(std::move(other.marks_)), count_(std::exchange(other.count_, 0)) {}

TUnBaseHeaderObj& TUnBaseHeaderObj::operator=(TUnBaseHeaderObj&& other) noexcept {
    blocks_ = std::move(other.blocks_);
    marks_ = std::move(other.marks_);
    count_ = std::exchange(other.count_, 0);
    return *this;
}

void TUnBaseHeaderObj::Add(const TUnBaseHeader& entry) {
    scratch_.clear();
    AppendPackedEntry(entry, scratch_);
    // An entry never straddles two blocks, so a block's bytes never move.
    if (blocks_.empty() || blocks_.back().capacity() - blocks_.back().size() < scratch_.size()) {
        blocks_.emplace_back().reserve(std::max(kBlockSize, scratch_.size()));
    }
    std::vector<uint8_t>& block = blocks_.back();
    if (count_ % kMarkInterval == 0)
        marks_.push_back({static_cast<uint32_t>(blocks_.size() - 1), static_cast<uint32_t>(block.size())});
    block.insert(block.end(), scratch_.begin(), scratch_.end());
    ++count_;
}

void TUnBaseHeaderObj::Reserve(size_t count) { marks_.reserve((count + kMarkInterval - 1) / kMarkInterval); }

TUnBaseHeaderObj::Position TUnBaseHeaderObj::After(Position at, const uint8_t* end) const {
    at.offset = static_cast<uint32_t>(end - blocks_[at.block].data());
    if (at.offset == blocks_[at.block].size()) at = {at.block + 1, 0};
    return at;
}

TUnBaseHeader TUnBaseHeaderObj::operator[](int index) const {
    const auto wanted = static_cast<size_t>(index);
    Position at = marks_[wanted / kMarkInterval];
    TUnBaseHeader entry;
    for (size_t skip = wanted % kMarkInterval;; --skip) {
        at = After(at, ReadPackedEntry(At(at), entry));
        if (skip == 0) return entry;
    }
}

TUnBaseHeaderObj::const_iterator TUnBaseHeaderObj::begin() const { return const_iterator(this, 0, {}); }

TUnBaseHeaderObj::const_iterator TUnBaseHeaderObj::end() const { return const_iterator(this, count_, {}); }

TUnBaseHeaderObj::const_iterator::const_iterator(const TUnBaseHeaderObj* list, size_t index, Position at)
    : list_(list), index_(index), next_(at) {
    Load();
}

void TUnBaseHeaderObj::const_iterator::Load() {
    if (index_ < list_->count_) next_ = list_->After(next_, ReadPackedEntry(list_->At(next_), current_));
}

TUnBaseHeaderObj::const_iterator& TUnBaseHeaderObj::const_iterator::operator++() {
    ++index_;
    Load();
    return *this;
}

TUnBaseHeaderObj::const_iterator TUnBaseHeaderObj::const_iterator::operator++(int) {
    const_iterator before = *this;
    ++*this;
    return before;
}
