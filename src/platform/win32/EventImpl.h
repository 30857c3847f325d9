#pragma once
// The system event behind platform::Event, for backends that hand it to the
// system themselves (overlapped I/O).
#include <windows.h>

#include "platform/Event.h"

namespace platform {

struct Event::Impl {
    HANDLE handle;
};

}  // namespace platform
