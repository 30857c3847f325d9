#pragma once
// Recursive mutual exclusion with the semantics of a Win32 critical section:
// the owning thread may enter again and must leave as often as it entered.

#include <memory>

namespace platform {

class CriticalSection {
  public:
    CriticalSection();
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    // Blocks until the calling thread owns the section. Never fails.
    void Enter();
    // Returns at once: true when the calling thread now owns the section.
    bool TryEnter();
    // Precondition: the calling thread owns the section.
    void Leave();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Holds a critical section for the lifetime of the scope, on every way out.
class ScopedLock {
  public:
    explicit ScopedLock(CriticalSection& section) : section_(section) { section_.Enter(); }
    ~ScopedLock() { section_.Leave(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

  private:
    CriticalSection& section_;
};

// Owns a critical section for the lifetime of the scope if it was free on
// entry; never blocks.
class ScopedTryLock {
  public:
    explicit ScopedTryLock(CriticalSection& section)
        : section_(section), owns_(section.TryEnter()) {}
    ~ScopedTryLock() {
        if (owns_) section_.Leave();
    }
    ScopedTryLock(const ScopedTryLock&) = delete;
    ScopedTryLock& operator=(const ScopedTryLock&) = delete;

    bool Owns() const { return owns_; }

  private:
    CriticalSection& section_;
    bool owns_;
};

}  // namespace platform
