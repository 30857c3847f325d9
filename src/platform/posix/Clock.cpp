#include "platform/Clock.h"

#include <sched.h>
#include <time.h>

namespace platform {

bool PerformanceFrequency(int64_t& ticksPerSecond) {
    ticksPerSecond = 1000000000;  // CLOCK_MONOTONIC counts nanoseconds
    return true;
}

int64_t PerformanceCounter() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void SleepMs(uint32_t milliseconds) {
    timespec wait{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    while (nanosleep(&wait, &wait) != 0) {
    }
}

}  // namespace platform
