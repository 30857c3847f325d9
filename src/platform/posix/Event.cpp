#include "platform/Event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

// All events of the process share one lock and one condition: a wait on
// several events then sees their states at one instant, which is what makes
// the list-order rule and auto-reset consumption exact. Sets are rare (a few
// per picture), so the shared condition costs nothing measurable.
namespace {
struct EventHub {
    std::mutex mutex;
    std::condition_variable changed;
};
EventHub& Hub() {
    static EventHub* hub = new EventHub;  // outlives every static event
    return *hub;
}
}  // namespace

struct Event::Impl {
    EventReset reset;
    bool set;
};

Event::Event(EventReset reset, bool initiallySet)
    : impl_(std::make_unique<Impl>(Impl{reset, initiallySet})) {}

Event::~Event() = default;

void Event::Set() {
    std::lock_guard<std::mutex> lock(Hub().mutex);
    impl_->set = true;
    Hub().changed.notify_all();
}

void Event::Reset() {
    std::lock_guard<std::mutex> lock(Hub().mutex);
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
        if (e.set) {
            if (e.reset == EventReset::Auto) e.set = false;
            index = i;
            return true;
        }
    }
    return false;
}
}  // namespace

WaitAnyResult WaitForAny(Event* const* events, size_t count, uint32_t timeoutMs) {
    if (events == nullptr || count == 0 || count > 64) return {WaitStatus::Failed, 0};
    for (size_t i = 0; i < count; ++i)
        if (events[i] == nullptr) return {WaitStatus::Failed, 0};

    std::unique_lock<std::mutex> lock(Hub().mutex);
    size_t index = 0;
    auto ready = [&] { return TakeFirstSet(events, count, index); };
    if (timeoutMs == kInfinite) {
        Hub().changed.wait(lock, ready);
        return {WaitStatus::Signaled, index};
    }
    if (Hub().changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready))
        return {WaitStatus::Signaled, index};
    return {WaitStatus::Timeout, 0};
}

}  // namespace platform
