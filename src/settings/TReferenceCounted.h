#pragma once
// A value shared by several owners; the last release runs OnFinalRelease and
// deletes the holder. Counts change atomically, so owners may live on
// different threads.

#include <atomic>
#include <cstdint>

template <typename T, typename Derived>
class TReferenceCounted {
  public:
    explicit TReferenceCounted(T value) : value_(value) {}
    TReferenceCounted(const TReferenceCounted&) = delete;
    TReferenceCounted& operator=(const TReferenceCounted&) = delete;

    T Get() const { return value_; }
    int32_t Count() const { return count_.load(); }

    void AddRef() { count_.fetch_add(1, std::memory_order_relaxed); }

    // The holder must not be touched after the call that drops the count to 0.
    void Release() {
        if (count_.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
        try {
            OnFinalRelease();
        } catch (...) {
            // Nothing can be done about a failing release; the holder goes anyway.
        }
        delete this;
    }

  protected:
    virtual void OnFinalRelease() = 0;
    virtual ~TReferenceCounted() = default;

  private:
    T value_;
    std::atomic<int32_t> count_{1};
};
