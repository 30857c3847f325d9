#pragma once
// Worker threads created suspended and then resumed, as the capture and
// notification threads are started.

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/WaitResult.h"

namespace platform {

// The exit code a thread reports while it is still running (STILL_ACTIVE).
constexpr uint32_t kStillActive = 259;

class Thread {
  public:
    using Body = std::function<uint32_t()>;

    // Creates the thread without running it. Null when the system refuses,
    // and on Windows while the library unloads, when a new thread could run
    // only after the library is gone.
    static std::unique_ptr<Thread> CreateSuspended(Body body);

    // Creates the thread and lets it run. Null when the system refuses.
    static std::unique_ptr<Thread> Start(Body body);

    // Lets a suspended thread run; on Windows returns once it runs its body
    // (past the system's start-up, which an unload would hold up). False
    // when it was not suspended.
    bool Resume();

    // kStillActive while the body runs, then the body's result. False only
    // when the system cannot answer.
    bool GetExitCode(uint32_t& code) const;

    // Blocks up to timeoutMs for the body to return and the thread to run
    // none of this library's code any more, so that the library may then be
    // unloaded. Safe while the library is being unloaded, where the system
    // lets no thread finish exiting: then it waits for the thread to have
    // left this library, not for its exit, and ends a thread that cannot
    // leave in time (one the system has not let into its body yet, or one
    // stuck in a system call that waits for the unload), which would
    // otherwise run this library's code after it is gone. False on timeout
    // otherwise, and when called from the thread itself.
    bool Join(uint32_t timeoutMs);

    // Releasing the object neither stops nor waits for the thread: a running
    // thread carries on by itself and cleans up when its body returns.
    ~Thread();

    struct Impl;

  private:
    explicit Thread(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Names the calling thread for debuggers, profilers and `top -H`, so a user
// can tell the library's threads apart from the application's. Names longer
// than 15 characters are cut; a system without thread names ignores it.
void NameCurrentThread(const char* name);

// Processors the calling process may run its threads on, at least 1.
uint32_t AvailableProcessors();

}  // namespace platform
