#include "platform/Thread.h"

namespace platform {

std::unique_ptr<Thread> Thread::Start(Body body) {
    std::unique_ptr<Thread> thread = CreateSuspended(std::move(body));
    if (thread && !thread->Resume()) thread.reset();
    return thread;
}

}  // namespace platform
