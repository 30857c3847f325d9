#include "platform/Event.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/Clock.h"
#include "posix/SharedEventTable.h"

namespace platform {

// Unnamed events of the process share one lock: a wait on several events
// then sees their states at one instant, which is what makes the list-order
// rule and auto-reset consumption exact. Each waiting thread sleeps on a
// condition of its own, listed in the events it waits for, so a Set wakes
// only the threads that wait for that event: a camera polled back to back
// sets an event per control transfer, and waking every waiting thread of the
// process each time would cost more than the transfers.
//
// Named events live in the shared table and wake their waiters through its
// futex word; a wait that mixes both kinds looks at the unnamed ones every
// few milliseconds as well (nothing in the library mixes them).
namespace {
struct Waiter {
    std::condition_variable wake;
};
std::mutex& HubLock() {
    static std::mutex* lock = new std::mutex;  // outlives every static event
    return *lock;
}
constexpr uint32_t kMixedPollMs = 5;
}  // namespace

struct Event::Impl {
    EventReset reset;
    bool set = false;
    shared_events::Table* table = nullptr;
    shared_events::Slot* slot = nullptr;
    bool valid = true;
    std::vector<Waiter*> waiters;  // under the hub lock
};

Event::Event(EventReset reset, bool initiallySet) : Event(reset, initiallySet, std::string()) {}

Event::Event(EventReset reset, bool initiallySet, const std::string& name)
    : impl_(std::make_unique<Impl>()) {
    impl_->reset = reset;
    impl_->set = initiallySet;
    if (name.empty()) return;
    impl_->table = shared_events::Attach();
    impl_->slot = impl_->table ? shared_events::Find(*impl_->table, name, true,
                                                     reset == EventReset::Manual, initiallySet)
                               : nullptr;
    impl_->valid = impl_->slot != nullptr;
}

Event::Event(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<Event> Event::OpenNamed(const std::string& name) {
    shared_events::Table* table = shared_events::Attach();
    shared_events::Slot* slot =
        table ? shared_events::Find(*table, name, false, false, false) : nullptr;
    if (slot == nullptr) return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->reset = slot->manual.load() ? EventReset::Manual : EventReset::Auto;
    impl->table = table;
    impl->slot = slot;
    return std::unique_ptr<Event>(new Event(std::move(impl)));
}

Event::~Event() {
    if (impl_->slot) shared_events::Release(*impl_->table, *impl_->slot);
}

bool Event::IsValid() const { return impl_->valid; }

void Event::Set() {
    if (impl_->slot) return shared_events::Set(*impl_->table, *impl_->slot);
    std::lock_guard<std::mutex> lock(HubLock());
    impl_->set = true;
    for (Waiter* waiter : impl_->waiters) waiter->wake.notify_one();
}

void Event::Reset() {
    if (impl_->slot) return shared_events::Reset(*impl_->slot);
    std::lock_guard<std::mutex> lock(HubLock());
    impl_->set = false;
}

WaitStatus Event::Wait(uint32_t timeoutMs) {
    Event* self = this;
    return WaitForAny(&self, 1, timeoutMs).status;
}

namespace {

// Caller holds the hub lock. Consumes the first set event in list order.
bool TakeFirstSet(Event* const* events, size_t count, size_t& index) {
    for (size_t i = 0; i < count; ++i) {
        Event::Impl& e = events[i]->impl();
        bool taken = false;
        if (e.slot) {
            taken = shared_events::TakeIfSet(*e.slot);
        } else if (e.set) {
            if (e.reset == EventReset::Auto) e.set = false;
            taken = true;
        }
        if (taken) {
            index = i;
            return true;
        }
    }
    return false;
}

// Lists the waiter in each event for as long as it waits; caller holds the
// hub lock throughout.
class WaiterListing {
  public:
    WaiterListing(Waiter& waiter, Event* const* events, size_t count)
        : waiter_(waiter), events_(events), count_(count) {
        for (size_t i = 0; i < count_; ++i) events_[i]->impl().waiters.push_back(&waiter_);
    }
    ~WaiterListing() {
        for (size_t i = 0; i < count_; ++i) {
            std::vector<Waiter*>& waiters = events_[i]->impl().waiters;
            waiters.erase(std::find(waiters.begin(), waiters.end(), &waiter_));
        }
    }
    WaiterListing(const WaiterListing&) = delete;
    WaiterListing& operator=(const WaiterListing&) = delete;

  private:
    Waiter& waiter_;
    Event* const* events_;
    size_t count_;
};

WaitAnyResult WaitUnnamed(Event* const* events, size_t count, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(HubLock());
    size_t index = 0;
    auto ready = [&] { return TakeFirstSet(events, count, index); };
    if (ready()) return {WaitStatus::Signaled, index};
    if (timeoutMs == 0) return {WaitStatus::Timeout, 0};
    Waiter waiter;
    WaiterListing listing(waiter, events, count);
    if (timeoutMs == kInfinite) {
        waiter.wake.wait(lock, ready);
        return {WaitStatus::Signaled, index};
    }
    if (waiter.wake.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready))
        return {WaitStatus::Signaled, index};
    return {WaitStatus::Timeout, 0};
}

WaitAnyResult WaitWithNamed(Event* const* events, size_t count, uint32_t timeoutMs, bool mixed) {
    shared_events::Table* table = nullptr;
    for (size_t i = 0; i < count && !table; ++i) table = events[i]->impl().table;
    int64_t frequency = 1;
    PerformanceFrequency(frequency);
    const int64_t start = PerformanceCounter();
    for (;;) {
        uint32_t seen = table->sequence.load();
        size_t index = 0;
        {
            std::lock_guard<std::mutex> lock(HubLock());
            if (TakeFirstSet(events, count, index)) return {WaitStatus::Signaled, index};
        }
        uint32_t remaining = kInfinite;
        if (timeoutMs != kInfinite) {
            int64_t elapsedMs = (PerformanceCounter() - start) * 1000 / frequency;
            if (elapsedMs >= timeoutMs) return {WaitStatus::Timeout, 0};
            remaining = static_cast<uint32_t>(timeoutMs - elapsedMs);
        }
        if (mixed && remaining > kMixedPollMs) remaining = kMixedPollMs;
        shared_events::WaitForChange(*table, seen, remaining);
    }
}

}  // namespace

WaitAnyResult WaitForAny(Event* const* events, size_t count, uint32_t timeoutMs) {
    if (events == nullptr || count == 0 || count > 64) return {WaitStatus::Failed, 0};
    size_t named = 0;
    for (size_t i = 0; i < count; ++i) {
        if (events[i] == nullptr || !events[i]->IsValid()) return {WaitStatus::Failed, 0};
        if (events[i]->impl().slot) ++named;
    }
    if (named == 0) return WaitUnnamed(events, count, timeoutMs);
    return WaitWithNamed(events, count, timeoutMs, named < count);
}

}  // namespace platform
