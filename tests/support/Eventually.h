#pragma once
// A bounded wait for what another thread or process brings about.

#include <chrono>
#include <functional>
#include <thread>

namespace testsupport {

// Whether the condition holds within the limit; asked every millisecond.
inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    for (const auto deadline = std::chrono::steady_clock::now() + limit; !condition();
         std::this_thread::sleep_for(std::chrono::milliseconds(1)))
        if (std::chrono::steady_clock::now() >= deadline) return false;
    return true;
}

}  // namespace testsupport
