// The DLL's entry point. The C runtime calls it before it runs the
// destructors of the library's static objects, so those know how the
// library is leaving, and an unload's shut-down runs while they all exist.
#include <windows.h>

#include <atomic>

#include "platform/Module.h"
#include "win32/LibraryModule.h"

namespace platform {
namespace {
enum Departure { kLoaded, kUnloading, kProcessExiting };
std::atomic<int> g_departure{kLoaded};
std::atomic<void (*)()> g_atUnload{nullptr};
}  // namespace

void RunAtUnload(void (*shutDown)()) { g_atUnload.store(shutDown); }

bool LibraryIsDetaching() { return g_departure.load() != kLoaded; }

bool ProcessIsExiting() { return g_departure.load() == kProcessExiting; }

}  // namespace platform

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // The loader tells an unload from the process's exit by the reserved
    // argument: null for FreeLibrary.
    if (reason != DLL_PROCESS_DETACH) return TRUE;
    platform::g_departure.store(reserved ? platform::kProcessExiting : platform::kUnloading);
    if (reserved == nullptr)
        if (void (*shutDown)() = platform::g_atUnload.exchange(nullptr)) shutDown();
    return TRUE;
}
