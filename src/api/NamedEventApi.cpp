// Named events for other processes: a program that did not load the camera
// may still wait for "TESSEL_CAPTURE_COMPLETE_EVENT" and
// "TESSEL_WAITING_FOR_TRIGGER_EVENT" through these four functions.

#include <memory>

#include "Vela2UsbCameraDll.h"
#include "platform/Event.h"

namespace {
platform::Event* EventOf(LD_NamedEvent* handle) {
    return reinterpret_cast<platform::Event*>(handle);
}
}  // namespace

extern "C" {

LD_NamedEvent* VELA2_CALL LD_OpenNamedEvent(const char* name) {
    if (name == nullptr) return nullptr;
    try {
        return reinterpret_cast<LD_NamedEvent*>(platform::Event::OpenNamed(name).release());
    } catch (...) {
        return nullptr;
    }
}

int32_t VELA2_CALL LD_WaitNamedEvent(LD_NamedEvent* event, uint32_t timeoutMs) {
    if (event == nullptr) return -1;
    switch (EventOf(event)->Wait(timeoutMs)) {
        case platform::WaitStatus::Signaled:
            return 1;
        case platform::WaitStatus::Timeout:
            return 0;
        default:
            return -1;
    }
}

int32_t VELA2_CALL LD_IsNamedEventSet(LD_NamedEvent* event) { return LD_WaitNamedEvent(event, 0); }

void VELA2_CALL LD_CloseNamedEvent(LD_NamedEvent* event) { delete EventOf(event); }

}  // extern "C"
