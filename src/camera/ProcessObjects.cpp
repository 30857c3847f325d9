#include "camera/ProcessObjects.h"

#include <memory>

#include "reconstruction/CReconstructionController.h"

namespace {
std::unique_ptr<ProcessObjects>& Holder() {
    static std::unique_ptr<ProcessObjects> holder;
    return holder;
}
}  // namespace

ProcessObjects& Process() {
    // The shared library creates the objects from its load hook, before any
    // export can run and before any thread of ours exists.
    std::unique_ptr<ProcessObjects>& holder = Holder();
    if (!holder) {
        // Made first, so that the plan outlives the shut-down that closes
        // the camera and empties it.
        reconstruction::CReconstructionController::Instance();
        holder = std::make_unique<ProcessObjects>();
    }
    return *holder;
}

void DestroyProcessObjects() { Holder().reset(); }
