#include "platform/Thread.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace platform {

namespace {
// Shared by the object and the running thread, so either may go first.
struct Shared {
    Thread::Body body;
    std::mutex mutex;
    std::condition_variable changed;
    bool resumed = false;
    bool finished = false;
    uint32_t exitCode = kStillActive;
};

void Run(std::shared_ptr<Shared> shared) {
    {
        std::unique_lock<std::mutex> lock(shared->mutex);
        shared->changed.wait(lock, [&] { return shared->resumed; });
    }
    uint32_t code = 1;
    try {
        code = shared->body();
    } catch (...) {
        // An exception leaving a thread would end the host process.
    }
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->exitCode = code;
    shared->finished = true;
    shared->changed.notify_all();
}
}  // namespace

struct Thread::Impl {
    std::shared_ptr<Shared> shared;
    // Joinable until Join has seen the thread end: only a join tells that
    // the thread's last instructions, inside this library, have run.
    std::thread thread;
};

std::unique_ptr<Thread> Thread::CreateSuspended(Body body) {
    auto impl = std::make_unique<Impl>();
    impl->shared = std::make_shared<Shared>();
    impl->shared->body = std::move(body);
    try {
        impl->thread = std::thread(Run, impl->shared);
    } catch (const std::system_error&) {
        return nullptr;
    }
    return std::unique_ptr<Thread>(new Thread(std::move(impl)));
}

Thread::Thread(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Thread::~Thread() {
    Shared& shared = *impl_->shared;
    {
        // A thread that was never resumed would wait for ever; let it end unrun.
        std::lock_guard<std::mutex> lock(shared.mutex);
        if (!shared.resumed) {
            shared.body = [] { return 0u; };
            shared.resumed = true;
            shared.changed.notify_all();
        }
    }
    if (impl_->thread.joinable()) impl_->thread.detach();
}

bool Thread::Resume() {
    Shared& shared = *impl_->shared;
    std::lock_guard<std::mutex> lock(shared.mutex);
    if (shared.resumed) return false;
    shared.resumed = true;
    shared.changed.notify_all();
    return true;
}

bool Thread::GetExitCode(uint32_t& code) const {
    Shared& shared = *impl_->shared;
    std::lock_guard<std::mutex> lock(shared.mutex);
    code = shared.exitCode;
    return true;
}

bool Thread::Join(uint32_t timeoutMs) {
    if (!impl_->thread.joinable()) return true;
    if (impl_->thread.get_id() == std::this_thread::get_id()) return false;
    Shared& shared = *impl_->shared;
    {
        std::unique_lock<std::mutex> lock(shared.mutex);
        auto done = [&] { return shared.finished; };
        if (timeoutMs == kInfinite) {
            shared.changed.wait(lock, done);
        } else if (!shared.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), done)) {
            return false;
        }
    }
    // The body has returned: what is left of the thread takes no time.
    impl_->thread.join();
    return true;
}

void NameCurrentThread(const char* name) {
    if (name == nullptr) return;
    char cut[16] = {};  // the system's limit, with the terminating zero
    std::strncpy(cut, name, sizeof cut - 1);
    pthread_setname_np(pthread_self(), cut);
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
