#pragma once
// Named events that other processes can open: a table in shared memory, one
// per user, with a slot per name. A fresh, zero-filled table is a valid empty
// table, so no process ever has to initialise it and none can leave it half
// initialised. Waiters sleep on one shared futex word that every Set bumps.

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/WaitResult.h"

namespace platform {
namespace shared_events {

constexpr size_t kMaxNameLength = 63;
constexpr size_t kSlots = 64;
constexpr size_t kOpenersPerSlot = 16;

struct Slot {
    std::atomic<uint32_t> used;   // 0 free, 1 being written, 2 in use
    std::atomic<uint32_t> state;  // 1 set
    std::atomic<uint32_t> manual;
    char name[kMaxNameLength + 1];
    // Processes that hold the event open, with how many handles each. When
    // none is left alive the event is gone, as when its last handle closes:
    // the next creator starts it afresh and an unused slot is taken back.
    std::atomic<int32_t> openers[kOpenersPerSlot];
    std::atomic<int32_t> handles[kOpenersPerSlot];
};

struct Table {
    std::atomic<uint32_t> sequence;  // the futex word: bumped by every Set
    std::atomic<int32_t> allocator;  // pid of the process adding a slot, 0 when none
    Slot slots[kSlots];
};

// The process's mapping of the table; null when shared memory is unavailable.
Table* Attach();

// Finds or adds the named slot. create false: only an existing one. Null when
// the name is too long or empty, the table is full, or (open only) missing.
Slot* Find(Table& table, const std::string& name, bool create, bool manual, bool initiallySet);

// Drops one of this process's handles on the slot.
void Release(Table& table, Slot& slot);

void Set(Table& table, Slot& slot);
void Reset(Slot& slot);

// Consumes the slot's signal if it is set (auto-reset) or tests it (manual).
bool TakeIfSet(Slot& slot);

// Sleeps until the sequence differs from seen or timeoutMs passes.
void WaitForChange(Table& table, uint32_t seen, uint32_t timeoutMs);

}  // namespace shared_events
}  // namespace platform
