#pragma once
#include "settings/CRegKeyIterator.h"

// The iterator proper over an implementation; a new one stands on the first
// item (or at the end when there is none). Dereferencing gives the name.
template <typename Impl>
class TRegKeyIterator : public Impl {
  public:
    TRegKeyIterator() = default;
    explicit TRegKeyIterator(const CRegistryKey& key) : Impl(key) { this->Move(); }

    const char* operator*() const { return this->Name(); }
    TRegKeyIterator& operator++() {
        this->Move();
        return *this;
    }
};
