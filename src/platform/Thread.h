#pragma once
// Worker threads created suspended and then resumed, as the capture and
// notification threads are started.

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

// The exit code a thread reports while it is still running (STILL_ACTIVE).
constexpr uint32_t kStillActive = 259;

class Thread {
  public:
    using Body = std::function<uint32_t()>;

    // Creates the thread without running it. Null when the system refuses.
    static std::unique_ptr<Thread> CreateSuspended(Body body);

    // Lets a suspended thread run. False when it was not suspended.
    bool Resume();

    // kStillActive while the body runs, then the body's result. False only
    // when the system cannot answer.
    bool GetExitCode(uint32_t& code) const;

    // Blocks up to timeoutMs for the body to return.
    bool Join(uint32_t timeoutMs);

    // Releasing the object neither stops nor waits for the thread: a running
    // thread carries on by itself and cleans up when its body returns.
    ~Thread();

    struct Impl;

  private:
    explicit Thread(std::shared_ptr<Impl> impl);
    std::shared_ptr<Impl> impl_;
};

// Processors the calling process may run its threads on, at least 1.
uint32_t AvailableProcessors();

}  // namespace platform
