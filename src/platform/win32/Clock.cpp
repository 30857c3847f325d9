#include "platform/Clock.h"

#include <windows.h>

namespace platform {

bool PerformanceFrequency(int64_t& ticksPerSecond) {
    LARGE_INTEGER frequency;
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart == 0) return false;
    ticksPerSecond = frequency.QuadPart;
    return true;
}

int64_t PerformanceCounter() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

}  // namespace platform
