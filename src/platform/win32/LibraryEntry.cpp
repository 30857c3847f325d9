// The DLL's entry point. The C runtime calls it before it runs the
// destructors of the library's static objects, so those know how the
// library is leaving.
#include <windows.h>

#include <atomic>

#include "platform/Module.h"
#include "win32/LibraryModule.h"

namespace platform {
namespace {
enum Departure { kLoaded, kUnloading, kProcessExiting };
std::atomic<int> g_departure{kLoaded};
}  // namespace

bool LibraryIsDetaching() { return g_departure.load() != kLoaded; }

bool ProcessIsExiting() { return g_departure.load() == kProcessExiting; }

}  // namespace platform

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // The loader tells an unload from the process's exit by the reserved
    // argument: null for FreeLibrary.
    if (reason == DLL_PROCESS_DETACH)
        platform::g_departure.store(reserved ? platform::kProcessExiting : platform::kUnloading);
    return TRUE;
}
