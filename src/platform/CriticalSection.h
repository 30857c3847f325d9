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

}  // namespace platform
