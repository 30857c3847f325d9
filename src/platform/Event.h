#pragma once
// Kernel events with Win32 semantics.
//
// An auto-reset event releases exactly one wait and is reset by it; a
// manual-reset event stays set, releasing every wait, until Reset().

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/WaitResult.h"

namespace platform {

enum class EventReset { Auto, Manual };

class Event {
public:
    explicit Event(EventReset reset, bool initiallySet = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // Never block. Setting an auto-reset event with waiters releases one of them.
    void Set();
    void Reset();

    // Blocks up to timeoutMs (kInfinite: no limit). Signaled consumes an
    // auto-reset event. A timeout of 0 only tests the state.
    WaitStatus Wait(uint32_t timeoutMs);

    struct Impl;
    Impl& impl() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

struct WaitAnyResult {
    WaitStatus status;
    // With Signaled: the position in the list of the event that ended the wait.
    // When several are set, the one earliest in the list wins, and only that
    // one is consumed; callers rely on this order (stop before work).
    size_t index;
};

// Blocks up to timeoutMs for any of count events (count 1 to 64).
// Failed for an empty or oversized list or a null entry.
WaitAnyResult WaitForAny(Event* const* events, size_t count, uint32_t timeoutMs);

}  // namespace platform
