// A DLL made of the seam alone, whose unload meets its own threads in the
// states an unload cannot wait out: one busy in a system call for ever, one
// started during the unload, one never resumed. Each would run this DLL's
// code after it is gone unless the unload ends it or never starts it.
#include <windows.h>

#include <memory>

#include "platform/Module.h"
#include "platform/Thread.h"

namespace {
constexpr uint32_t kJoinMs = 200;
constexpr DWORD kStartMs = 5000;
std::unique_ptr<platform::Thread> g_busy;
HANDLE g_inBody = CreateEventA(nullptr, TRUE, FALSE, nullptr);

// Never returns by itself; the loader's lookups are what a library thread
// calls without thinking.
uint32_t StayBusy() {
    for (;;) GetModuleHandleA("kernel32.dll");
}

// Runs inside the unload, with the loader's lock held.
void ShutDown() {
    if (g_busy) g_busy->Join(kJoinMs);
    g_busy.reset();
    platform::Thread::Start(StayBusy).reset();  // released unjoined: it must not exist
    platform::Thread::CreateSuspended(StayBusy).reset();
    CloseHandle(g_inBody);
}

struct AtUnload {
    AtUnload() { platform::RunAtUnload(ShutDown); }
} g_atUnload;
}  // namespace

// 1 once the thread runs its body.
extern "C" __declspec(dllexport) int StartBusyThread() {
    g_busy = platform::Thread::Start([] {
        SetEvent(g_inBody);
        return StayBusy();
    });
    return g_busy && WaitForSingleObject(g_inBody, kStartMs) == WAIT_OBJECT_0;
}
