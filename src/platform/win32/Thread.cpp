#include "platform/Thread.h"

#include <windows.h>

#include <atomic>

#include "win32/LibraryModule.h"

namespace platform {

namespace {
// How long an ended thread is given to be gone.
constexpr DWORD kStrandedEndMs = 1000;
// How long a resumed thread is given to get through the system's start-up.
constexpr DWORD kEntryWaitMs = 10000;

// What the object and the running thread share. Whichever of the two lets
// go of it last deletes it: the object once the thread has left its body,
// or the thread when the object was released first.
struct Shared {
    enum Phase { kRunning, kLeaving, kOrphaned };
    // Whether the thread has got past the system's start-up into Run, or
    // was ended before it could.
    enum Entry { kNotEntered, kEntered, kWithheld };
    Thread::Body body;
    std::atomic<int> phase{kRunning};
    std::atomic<int> entry{kNotEntered};
    HANDLE entered = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    Shared() = default;
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;
    ~Shared() {
        if (entered) CloseHandle(entered);
    }
};

[[noreturn]] void Leave(Shared* shared, DWORD code) {
    if (shared->phase.exchange(Shared::kLeaving) == Shared::kOrphaned) delete shared;
    // Straight into the system: past the exchange above, the object's owner
    // may unload the library, so no code of it may run on this thread.
    ExitThread(code);
}

DWORD WINAPI Run(void* parameter) {
    auto* shared = static_cast<Shared*>(parameter);
    int notEntered = Shared::kNotEntered;
    // Withheld: the object's owner has let go of what they share.
    if (!shared->entry.compare_exchange_strong(notEntered, Shared::kEntered)) ExitThread(0);
    SetEvent(shared->entered);
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
    const uintptr_t first = reinterpret_cast<uintptr_t>(LibraryModule());
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        first + reinterpret_cast<const IMAGE_DOS_HEADER*>(first)->e_lfanew);
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

// Ends a thread that would otherwise run this library's code after the
// library is gone; the object alone frees what they share from then on.
// Always true: the thread has left the library.
bool EndStranded(Shared& shared, HANDLE thread) {
    TerminateThread(thread, 0);
    WaitForSingleObject(thread, kStrandedEndMs);
    shared.phase.store(Shared::kLeaving);
    return true;
}

// A new thread passes through the loader, which the unload holds, before it
// enters Run: one that has not entered yet is ended where it waits. It holds
// nothing of the library's, and nothing will wait for it.
bool WithholdUnentered(Shared& shared, HANDLE thread) {
    int notEntered = Shared::kNotEntered;
    return shared.entry.compare_exchange_strong(notEntered, Shared::kWithheld) &&
           EndStranded(shared, thread);
}

// While the loader unloads the library it holds its lock, and every thread
// exit waits for that lock: waiting for the thread's handle would never end.
// Waiting for the thread to have left the library is enough to unload it.
// One that has not left in time is stuck (a system call of its own may wait
// for that same lock) and would go on in code no longer there, taking the
// host process with it: ending it is the lesser harm.
bool AwaitDeparture(Shared& shared, HANDLE thread, uint32_t timeoutMs) {
    if (WithholdUnentered(shared, thread)) return true;
    const ULONGLONG start = GetTickCount64();
    auto timedOut = [&] { return timeoutMs != kInfinite && GetTickCount64() - start >= timeoutMs; };
    while (shared.phase.load() != Shared::kLeaving) {
        // At process exit the system has ended the thread wherever it was.
        if (WaitForSingleObject(thread, 0) == WAIT_OBJECT_0) return true;
        if (timedOut()) return EndStranded(shared, thread);
        Sleep(1);
    }
    while (!OutsideLibrary(thread)) {
        if (timedOut()) return EndStranded(shared, thread);
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
    // A thread started while the library unloads could enter its body only
    // once the loader, which the unload holds, lets it: after the library is
    // gone.
    if (LibraryIsDetaching()) return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->shared = new Shared;
    impl->shared->body = std::move(body);
    if (impl->shared->entered)
        impl->handle = CreateThread(nullptr, 0, Run, impl->shared, CREATE_SUSPENDED, nullptr);
    if (!impl->handle) {
        delete impl->shared;
        return nullptr;
    }
    return std::unique_ptr<Thread>(new Thread(std::move(impl)));
}

Thread::Thread(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Thread::~Thread() {
    // A thread that was never resumed would wait for ever; it has run no
    // code at all, so it is ended as it stands.
    if (!impl_->resumed) WithholdUnentered(*impl_->shared, impl_->handle);
    if (impl_->shared->phase.exchange(Shared::kOrphaned) == Shared::kLeaving) delete impl_->shared;
    CloseHandle(impl_->handle);
}

bool Thread::Resume() {
    if (impl_->resumed || ResumeThread(impl_->handle) != 1) return false;
    impl_->resumed = true;
    // Until then the thread waits in the system's start-up, for the loader
    // among others, where an unload that began meanwhile could only end it.
    WaitForSingleObject(impl_->shared->entered, kEntryWaitMs);
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

namespace {
using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);

// Thread descriptions arrived with Windows 10, so the call is looked up
// rather than linked, and looked up once as the library loads: asking the
// loader from a starting thread would wait for its lock, which an unload
// holds while it stops that very thread.
SetDescription ResolveSetDescription() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC found = kernel ? GetProcAddress(kernel, "SetThreadDescription") : nullptr;
    return reinterpret_cast<SetDescription>(reinterpret_cast<void*>(found));
}
const SetDescription g_setDescription = ResolveSetDescription();
}  // namespace

void NameCurrentThread(const char* name) {
    if (name == nullptr || g_setDescription == nullptr) return;
    wchar_t wide[16] = {};
    for (size_t i = 0; i + 1 < sizeof wide / sizeof wide[0] && name[i] != '\0'; ++i)
        wide[i] = static_cast<unsigned char>(name[i]);
    g_setDescription(GetCurrentThread(), wide);
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
