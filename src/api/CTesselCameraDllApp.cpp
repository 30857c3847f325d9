#include "api/CTesselCameraDllApp.h"

#include "api/StatusNames.h"
#include "camera/ProcessObjects.h"
#include "platform/Module.h"

namespace {
constexpr size_t kMaxPath = 260;

CTesselCameraDllApp g_app;

// Runs the application object's start-up once every static object of the
// library exists, and its shut-down before they are destroyed: on Linux at
// load and unload of the shared library, on Windows at process attach and
// detach (the runtime's static construction and destruction of the DLL).
struct ModuleLifetime {
    ModuleLifetime() {
        Process();
        g_app.InitInstance();
    }
    ~ModuleLifetime() {
        // The system has ended the library's threads, perhaps inside its
        // locks: closing the camera could wait for ever, and the process's
        // end frees everything anyway.
        if (platform::ProcessIsExiting()) return;
        g_app.ExitInstance();
        DestroyProcessObjects();
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
