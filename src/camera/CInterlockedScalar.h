#pragma once
// A value guarded by a critical section, read and written from the callers'
// threads and the capture thread alike.

#include <cstdint>

#include "platform/CriticalSection.h"

class CInterlockedType {
  public:
    virtual ~CInterlockedType() = default;

  protected:
    // Enters the section and counts the depth, so a hook may see whether it
    // runs inside a store.
    class Lock {
      public:
        explicit Lock(CInterlockedType& owner) : owner_(owner) {
            owner_.section_.Enter();
            ++owner_.lockDepth_;
        }
        ~Lock() {
            --owner_.lockDepth_;
            owner_.section_.Leave();
        }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
        CInterlockedType& owner_;
    };

    platform::CriticalSection section_;
    int32_t lockDepth_ = 0;
};

template <typename T>
class CInterlockedScalar : public CInterlockedType {
  public:
    explicit CInterlockedScalar(T initial) : value_(initial) {}

    T Get() {
        Lock lock(*this);
        return value_;
    }

    // Stores the value and calls the change hook when it differs; returns it.
    T Set(T value) {
        Lock lock(*this);
        T old = value_;
        value_ = value;
        if (value != old) OnChange(value, old);
        return value_;
    }

  protected:
    virtual void OnChange(T /*newValue*/, T /*oldValue*/) {}

  private:
    T value_;
};
