#include "platform/Thread.h"

#include <windows.h>

#include <atomic>

#include "win32/LibraryModule.h"

namespace platform {

namespace {
// What the object and the running thread share. Whichever of the two lets
// go of it last deletes it: the object once the thread has left its body,
// or the thread when the object was released first.
struct Shared {
    enum Phase { kRunning, kLeaving, kOrphaned };
    Thread::Body body;
    std::atomic<int> phase{kRunning};
};

[[noreturn]] void Leave(Shared* shared, DWORD code) {
    if (shared->phase.exchange(Shared::kLeaving) == Shared::kOrphaned) delete shared;
    // Straight into the system: past the exchange above, the object's owner
    // may unload the library, so no code of it may run on this thread.
    ExitThread(code);
}

DWORD WINAPI Run(void* parameter) {
    auto* shared = static_cast<Shared*>(parameter);
    DWORD code = 1;
    try {
        code = shared->body();
    } catch (...) {
        // An exception leaving a thread would end the host process.
    }
    Leave(shared, code);
}

// Whether the thread's next instruction lies outside this library. A thread
// that has announced it is leaving and stands outside can only be inside the
// system's thread exit, which never comes back.
bool OutsideLibrary(HANDLE thread) {
    const auto* base = reinterpret_cast<const BYTE*>(LibraryModule());
    if (base == nullptr) return true;
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const uintptr_t first = reinterpret_cast<uintptr_t>(base);
    const uintptr_t end = first + headers->OptionalHeader.SizeOfImage;
    if (SuspendThread(thread) == static_cast<DWORD>(-1)) return false;
    CONTEXT context;
    context.ContextFlags = CONTEXT_CONTROL;
    const bool read = GetThreadContext(thread, &context) != FALSE;
    ResumeThread(thread);
#ifdef _WIN64
    const uintptr_t next = context.Rip;
#else
    const uintptr_t next = context.Eip;
#endif
    return read && (next < first || next >= end);
}

// While the loader unloads the library it holds its lock, and every thread
// exit waits for that lock: waiting for the thread's handle would never end.
// Waiting for the thread to have left the library is enough to unload it.
bool AwaitDeparture(Shared& shared, HANDLE thread, uint32_t timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    auto timedOut = [&] { return timeoutMs != kInfinite && GetTickCount64() - start >= timeoutMs; };
    while (shared.phase.load() != Shared::kLeaving) {
        // At process exit the system has ended the thread wherever it was.
        if (WaitForSingleObject(thread, 0) == WAIT_OBJECT_0) return true;
        if (timedOut()) return false;
        Sleep(1);
    }
    while (!OutsideLibrary(thread)) {
        if (timedOut()) return false;
        Sleep(0);
    }
    return true;
}
}  // namespace

struct Thread::Impl {
    Shared* shared = nullptr;
    HANDLE handle = nullptr;
    bool resumed = false;
    bool joined = false;  // the thread has left this library's code
};

std::unique_ptr<Thread> Thread::CreateSuspended(Body body) {
    auto impl = std::make_unique<Impl>();
    impl->shared = new Shared;
    impl->shared->body = std::move(body);
    impl->handle = CreateThread(nullptr, 0, Run, impl->shared, CREATE_SUSPENDED, nullptr);
    if (!impl->handle) {
        delete impl->shared;
        return nullptr;
    }
    return std::unique_ptr<Thread>(new Thread(std::move(impl)));
}

Thread::Thread(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Thread::~Thread() {
    // A thread that was never resumed would wait for ever: let it end
    // without running its body.
    if (!impl_->resumed) {
        impl_->shared->body = [] { return 0u; };
        Resume();
    }
    if (impl_->shared->phase.exchange(Shared::kOrphaned) == Shared::kLeaving) delete impl_->shared;
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
    if (impl_->joined) return true;
    if (GetThreadId(impl_->handle) == GetCurrentThreadId()) return false;
    const bool left = LibraryIsDetaching()
                          ? AwaitDeparture(*impl_->shared, impl_->handle, timeoutMs)
                          : WaitForSingleObject(impl_->handle, timeoutMs) == WAIT_OBJECT_0;
    impl_->joined = left;
    return left;
}

// Thread descriptions arrived with Windows 10; looked up at run time so the
// library still loads on systems without them.
void NameCurrentThread(const char* name) {
    if (name == nullptr) return;
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC found = kernel ? GetProcAddress(kernel, "SetThreadDescription") : nullptr;
    if (found == nullptr) return;
    wchar_t wide[16] = {};
    for (size_t i = 0; i + 1 < sizeof wide / sizeof wide[0] && name[i] != '\0'; ++i)
        wide[i] = static_cast<unsigned char>(name[i]);
    reinterpret_cast<SetDescription>(reinterpret_cast<void*>(found))(GetCurrentThread(), wide);
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
