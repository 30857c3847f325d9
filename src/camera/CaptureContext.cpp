#include "camera/CaptureContext.h"

namespace {
constexpr uint32_t kStopWaitMs = 2000;
}

bool CaptureContext::IsRunning(const std::unique_ptr<platform::Thread>& thread) {
    uint32_t code = 0;
    return thread && thread->GetExitCode(code) && code == platform::kStillActive;
}

void CaptureContext::Stop(std::unique_ptr<platform::Thread>& thread, platform::Event& stop,
                          platform::Event& stopped) {
    if (!thread) return;
    uint32_t code = 0;
    if (!thread->GetExitCode(code)) return;  // the system could not tell; go on with the next
    if (code != platform::kStillActive) return;
    stop.Set();
    stopped.Wait(kStopWaitMs);
    // The stopped event comes just before the body returns; the join makes
    // sure the thread runs none of the library's code once it is forgotten,
    // so that the library may be unloaded.
    thread->Join(kStopWaitMs);
    thread.reset();
}

void CaptureContext::StopThreads() {
    Stop(CaptureThread, CaptureStopEvent, CaptureStoppedEvent);
    Stop(NotificationThread, NotificationStopEvent, NotificationStoppedEvent);
}
