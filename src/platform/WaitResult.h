#pragma once
#include <cstdint>

namespace platform {

// A wait without a time limit.
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

enum class WaitStatus { Signaled, Timeout, Failed };

}  // namespace platform
