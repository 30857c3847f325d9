#pragma once
#include <cstdint>

namespace platform {

// The high-resolution counter. False when the machine has none.
bool PerformanceFrequency(int64_t& ticksPerSecond);
int64_t PerformanceCounter();

// Suspends the calling thread; 0 only yields.
void SleepMs(uint32_t milliseconds);

}  // namespace platform
