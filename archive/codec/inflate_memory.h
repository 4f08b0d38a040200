#pragma once

#include <cstdint>
#include <new>

#include "archive/codec/inflate_record.h"

// Memory of a decoder stream goes through the record's allocation hooks, so
// that a caller can account for it or make it fail.
namespace inflate_impl {

inline void* Allocate(TInflateRec& rec, uint32_t items, uint32_t size) {
    return rec.AllocFunc(rec.Opaque, items, size);
}

inline void Release(TInflateRec& rec, void* address) {
    if (address) rec.FreeFunc(rec.Opaque, address);
}

// Allocates and constructs one T, or returns null.
template <class T>
T* Create(TInflateRec& rec) {
    void* memory = Allocate(rec, 1, sizeof(T));
    return memory ? new (memory) T() : nullptr;
}

template <class T>
void Destroy(TInflateRec& rec, T*& object) {
    if (!object) return;
    object->~T();
    Release(rec, object);
    object = nullptr;
}

}  // namespace inflate_impl
