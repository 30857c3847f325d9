#include "api/CTesselCameraDllApp.h"

#include <atomic>

#include "api/StatusNames.h"
#include "camera/ProcessObjects.h"
#include "platform/Module.h"

namespace {
constexpr size_t kMaxPath = 260;

CTesselCameraDllApp g_app;

std::atomic<bool> g_shutDown{false};

// Once: at the library's unload before its static objects go, or by the last
// of them.
void ShutDown() {
    if (g_shutDown.exchange(true)) return;
    g_app.ExitInstance();
    DestroyProcessObjects();
}

// The application object's start-up at load (on Windows at process attach),
// and its shut-down by this last of the static objects to go where the
// unload did not run it: at a POSIX process's exit.
struct ModuleLifetime {
    ModuleLifetime() {
        Process();
        g_app.InitInstance();
        platform::RunAtUnload(ShutDown);
    }
    ~ModuleLifetime() {
        // The system has ended the library's threads, perhaps inside its
        // locks: closing the camera could wait for ever, and the process's
        // end frees everything anyway.
        if (!platform::ProcessIsExiting()) ShutDown();
    }
} g_lifetime;
}  // namespace

CTesselCameraDllApp& TheApp() { return g_app; }

bool CTesselCameraDllApp::InitInstance() {
    ProcessObjects& process = Process();
    FillStatusNames(process.StatusNames);
    process.Camera.FillBinningTables();
    if (process.ModulePath.empty())
        process.ModulePath = platform::ModuleFilePath().substr(0, kMaxPath);
    return true;
}

int CTesselCameraDllApp::ExitInstance() {
    Process().Camera.Close(1);
    return 0;
}
