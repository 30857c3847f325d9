#include "platform/Thread.h"

#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace platform {

// Shared by the object and the running thread, so either may go first.
struct Thread::Impl {
    Body body;
    std::mutex mutex;
    std::condition_variable changed;
    bool resumed = false;
    bool finished = false;
    uint32_t exitCode = kStillActive;
};

namespace {
void Run(std::shared_ptr<Thread::Impl> impl) {
    {
        std::unique_lock<std::mutex> lock(impl->mutex);
        impl->changed.wait(lock, [&] { return impl->resumed; });
    }
    uint32_t code = impl->body();
    std::lock_guard<std::mutex> lock(impl->mutex);
    impl->exitCode = code;
    impl->finished = true;
    impl->changed.notify_all();
}
}  // namespace

std::unique_ptr<Thread> Thread::CreateSuspended(Body body) {
    auto impl = std::make_shared<Impl>();
    impl->body = std::move(body);
    try {
        std::thread(Run, impl).detach();
    } catch (const std::system_error&) {
        return nullptr;
    }
    return std::unique_ptr<Thread>(new Thread(std::move(impl)));
}

Thread::Thread(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

Thread::~Thread() {
    // A thread that was never resumed would wait for ever; let it end unrun.
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (!impl_->resumed) {
        impl_->body = [] { return 0u; };
        impl_->resumed = true;
        impl_->changed.notify_all();
    }
}

bool Thread::Resume() {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (impl_->resumed) return false;
    impl_->resumed = true;
    impl_->changed.notify_all();
    return true;
}

bool Thread::GetExitCode(uint32_t& code) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    code = impl_->exitCode;
    return true;
}

bool Thread::Join(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(impl_->mutex);
    auto done = [&] { return impl_->finished; };
    if (timeoutMs == 0xFFFFFFFFu) {
        impl_->changed.wait(lock, done);
        return true;
    }
    return impl_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
}

// The affinity mask, not the machine's count: a process pinned to one core
// (taskset, a container's cpuset) gains nothing from a second thread.
uint32_t AvailableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<uint32_t>(CPU_COUNT(&set));
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<uint32_t>(online) : 1;
}

}  // namespace platform
