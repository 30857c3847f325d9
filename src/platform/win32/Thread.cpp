#include "platform/Thread.h"

#include <windows.h>

namespace platform {

struct Thread::Impl {
    Body body;
    HANDLE handle = nullptr;
    bool resumed = false;
};

namespace {
DWORD WINAPI Run(void* parameter) {
    // The thread holds its own reference, so the object may be released first.
    auto* held = static_cast<std::shared_ptr<Thread::Impl>*>(parameter);
    std::shared_ptr<Thread::Impl> impl = std::move(*held);
    delete held;
    return impl->body();
}
}  // namespace

std::unique_ptr<Thread> Thread::CreateSuspended(Body body) {
    auto impl = std::make_shared<Impl>();
    impl->body = std::move(body);
    auto* held = new std::shared_ptr<Impl>(impl);
    impl->handle = CreateThread(nullptr, 0, Run, held, CREATE_SUSPENDED, nullptr);
    if (!impl->handle) {
        delete held;
        return nullptr;
    }
    return std::unique_ptr<Thread>(new Thread(std::move(impl)));
}

Thread::Thread(std::shared_ptr<Impl> impl) : impl_(std::move(impl)) {}

Thread::~Thread() {
    // A thread that was never resumed would hold its reference for ever:
    // let it end without running its body.
    if (!impl_->resumed) {
        impl_->body = [] { return 0u; };
        Resume();
    }
    CloseHandle(impl_->handle);
}

bool Thread::Resume() {
    if (impl_->resumed || ResumeThread(impl_->handle) != 1) return false;
    impl_->resumed = true;
    return true;
}

bool Thread::GetExitCode(uint32_t& code) const {
    DWORD value = 0;
    if (!GetExitCodeThread(impl_->handle, &value)) return false;
    code = value;
    return true;
}

bool Thread::Join(uint32_t timeoutMs) {
    return WaitForSingleObject(impl_->handle, timeoutMs) == WAIT_OBJECT_0;
}

// The process affinity mask, not the machine's count: a process limited to
// one processor gains nothing from a second thread.
uint32_t AvailableProcessors() {
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
        uint32_t count = 0;
        for (; process != 0; process &= process - 1) ++count;
        return count;
    }
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

}  // namespace platform
