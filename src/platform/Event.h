#pragma once
// Kernel events with Win32 semantics.
//
// An auto-reset event releases exactly one wait and is reset by it; a
// manual-reset event stays set, releasing every wait, until Reset().
//
// A named event is shared with every process of the user that opens the same
// name; creating one that exists opens it and keeps its state.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/WaitResult.h"

namespace platform {

enum class EventReset { Auto, Manual };

class Event {
  public:
    explicit Event(EventReset reset, bool initiallySet = false);
    // Creates or opens the named event; an empty name makes an unnamed one.
    Event(EventReset reset, bool initiallySet, const std::string& name);
    ~Event();

    // Opens an existing named event; null when there is none of that name.
    static std::unique_ptr<Event> OpenNamed(const std::string& name);

    // False when the system could not create or open the event; such an
    // event ignores Set and Reset and its waits fail.
    bool IsValid() const;
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
    explicit Event(std::unique_ptr<Impl> impl);
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
// Failed for an empty or oversized list, a null or invalid entry.
WaitAnyResult WaitForAny(Event* const* events, size_t count, uint32_t timeoutMs);

}  // namespace platform
