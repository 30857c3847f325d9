#include "platform/Event.h"

#include <windows.h>

#include "win32/EventImpl.h"

namespace platform {

Event::Event(EventReset reset, bool initiallySet) : Event(reset, initiallySet, std::string()) {}

Event::Event(EventReset reset, bool initiallySet, const std::string& name)
    : impl_(std::make_unique<Impl>(
          Impl{CreateEventA(nullptr, reset == EventReset::Manual, initiallySet,
                            name.empty() ? nullptr : name.c_str())})) {}

Event::Event(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

std::unique_ptr<Event> Event::OpenNamed(const std::string& name) {
    HANDLE handle = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name.c_str());
    if (!handle) return nullptr;
    return std::unique_ptr<Event>(new Event(std::make_unique<Impl>(Impl{handle})));
}

Event::~Event() {
    if (impl_->handle) CloseHandle(impl_->handle);
}

bool Event::IsValid() const { return impl_->handle != nullptr; }

void Event::Set() { SetEvent(impl_->handle); }
void Event::Reset() { ResetEvent(impl_->handle); }

namespace {
WaitStatus StatusOf(DWORD result, DWORD count) {
    if (result < WAIT_OBJECT_0 + count) return WaitStatus::Signaled;
    if (result == WAIT_TIMEOUT) return WaitStatus::Timeout;
    return WaitStatus::Failed;
}
}  // namespace

WaitStatus Event::Wait(uint32_t timeoutMs) {
    if (!impl_->handle) return WaitStatus::Failed;
    return StatusOf(WaitForSingleObject(impl_->handle, timeoutMs), 1);
}

WaitAnyResult WaitForAny(Event* const* events, size_t count, uint32_t timeoutMs) {
    if (events == nullptr || count == 0 || count > MAXIMUM_WAIT_OBJECTS)
        return {WaitStatus::Failed, 0};
    HANDLE handles[MAXIMUM_WAIT_OBJECTS];
    for (size_t i = 0; i < count; ++i) {
        if (events[i] == nullptr || !events[i]->impl().handle) return {WaitStatus::Failed, 0};
        handles[i] = events[i]->impl().handle;
    }
    // The system reports the lowest index among the signalled objects.
    DWORD result = WaitForMultipleObjects(static_cast<DWORD>(count), handles, FALSE, timeoutMs);
    WaitStatus status = StatusOf(result, static_cast<DWORD>(count));
    return {status,
            status == WaitStatus::Signaled ? static_cast<size_t>(result - WAIT_OBJECT_0) : 0};
}

}  // namespace platform
