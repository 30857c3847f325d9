#include "camera/ProcessObjects.h"

#include "reconstruction/CReconstructionController.h"

namespace {
// A plain pointer, not a static object: only the library's unload destroys
// the objects. At a Windows process exit they are left to the system, which
// has ended the threads that may hold their locks.
ProcessObjects* g_objects = nullptr;
}  // namespace

ProcessObjects& Process() {
    // The shared library creates the objects from its load hook, before any
    // export can run and before any thread of ours exists.
    if (g_objects == nullptr) {
        // Made first, so that the plan outlives the shut-down that closes
        // the camera and empties it.
        reconstruction::CReconstructionController::Instance();
        g_objects = new ProcessObjects;
    }
    return *g_objects;
}

void DestroyProcessObjects() {
    delete g_objects;
    g_objects = nullptr;
}

void RenewProcessObjects() {
    ProcessObjects& old = Process();
    old.Camera.Close(1);
    std::string modulePath = std::move(old.ModulePath);
    std::map<int32_t, std::string> statusNames = std::move(old.StatusNames);
    DestroyProcessObjects();
    ProcessObjects& fresh = Process();
    fresh.ModulePath = std::move(modulePath);
    fresh.StatusNames = std::move(statusNames);
    fresh.Camera.FillBinningTables();
}
