#pragma once

// The common root of components and collection items: the sender type of every
// event, and the base that lets a handler ask what kind of object sent it.
class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};
