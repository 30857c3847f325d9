#pragma once
#include <cstddef>
#include <memory>

// A buffer that only grows: asking for no more than it has keeps it (and its
// contents); asking for more replaces it with a larger, zeroed one.
template <typename T>
class GrowOnlyBuffer {
  public:
    void Reserve(size_t capacity) {
        if (capacity <= capacity_) return;
        data_ = std::make_unique<T[]>(capacity);
        capacity_ = capacity;
    }
    T* Data() { return data_.get(); }
    const T* Data() const { return data_.get(); }
    size_t Capacity() const { return capacity_; }

    GrowOnlyBuffer() = default;
    GrowOnlyBuffer(const GrowOnlyBuffer& other) { CopyFrom(other); }
    GrowOnlyBuffer& operator=(const GrowOnlyBuffer& other) {
        if (this != &other) CopyFrom(other);
        return *this;
    }

  private:
    void CopyFrom(const GrowOnlyBuffer& other) {
        data_.reset();
        capacity_ = 0;
        Reserve(other.capacity_);
        for (size_t i = 0; i < other.capacity_; ++i) data_[i] = other.data_[i];
    }

    std::unique_ptr<T[]> data_;
    size_t capacity_ = 0;
};
