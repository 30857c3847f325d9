#pragma once
#include <cstdint>

namespace platform {
// The Windows error code that means the same as a POSIX errno value.
uint32_t WindowsErrorFromErrno(int error);
}  // namespace platform
