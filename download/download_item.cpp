#include "download/download_item.h"

#include "platform/file_system.h"

#include <string_view>

#include <algorithm>

TDownLoadItem::TDownLoadItem(TDownLoadItems* collection, int id) : collection_(collection), id_(id) {}

void TDownLoadItem::SetURL(const std::string& value) {
    url_ = value.find("://") == std::string::npos ? "http://" + value : value;
    // "://" guarantees a slash, so the name is never taken from the scheme's left.
    fileName_ = url_.substr(url_.rfind('/') + 1);
}

void TDownLoadItem::SetLocalDir(const std::string& value) {
    localDir_ = value;
    if (!localDir_.empty() && std::string_view(platform::kPathSeparators).find(localDir_.back()) == std::string_view::npos)
        localDir_ += platform::kPathSeparator;
}

void TDownLoadItem::Assign(const TObject* source) {
    const auto* item = dynamic_cast<const TDownLoadItem*>(source);
    if (!item)
        throw EConvertError(source ? "Cannot assign an object of another class to a TDownLoadItem"
                                   : "Cannot assign a nil to a TDownLoadItem");
    url_ = item->url_;
    localDir_ = item->localDir_;
    fileSize_ = item->fileSize_;
    fileName_ = item->fileName_;
}

std::string TDownLoadItem::FailureName(TFailure failure, int statusCode) {
    switch (failure) {
        case TFailure::None:
            return "none";
        case TFailure::Refused:
            return "refused";
        case TFailure::TimedOut:
            return "timed out";
        case TFailure::TooSlow:
            return "too slow";
        case TFailure::CutShort:
            return "cut short";
        case TFailure::Status:
            return "status " + std::to_string(statusCode);
        case TFailure::Stopped:
            return "stopped";
    }
    return "unknown";
}

int TDownLoadItem::Index() const {
    if (!collection_) return -1;
    const auto& items = collection_->items_;
    auto found = std::find_if(items.begin(), items.end(), [this](const auto& item) { return item.get() == this; });
    return found == items.end() ? -1 : static_cast<int>(found - items.begin());
}

TDownLoadItem* TDownLoadItems::Add() {
    items_.push_back(std::make_unique<TDownLoadItem>(this, nextId_++));
    return items_.back().get();
}

TDownLoadItem* TDownLoadItems::Items(int index) const {
    if (index < 0 || index >= Count()) throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    return items_[static_cast<size_t>(index)].get();
}
