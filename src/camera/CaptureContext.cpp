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
    // The stopped event comes just before the body returns; the join makes
    // sure the thread runs none of the library's code once it is forgotten,
    // so that the library may be unloaded. When the caller is that very
    // thread no join can be made, and the stopped event is waited for as
    // before; a joined thread has set it already, or never ran its body.
    const bool joined = thread->Join(kStopWaitMs);
    stopped.Wait(joined ? 0 : kStopWaitMs);
    thread.reset();
}

bool CaptureContext::IsCaptureThreadRunning() {
    std::lock_guard<std::mutex> lock(ThreadLock);
    return IsRunning(CaptureThread);
}

bool CaptureContext::StartThreads(platform::Thread::Body capture,
                                  platform::Thread::Body notification) {
    std::lock_guard<std::mutex> lock(ThreadLock);
    auto start = [](std::unique_ptr<platform::Thread>& slot, platform::Thread::Body body,
                    platform::Event& stop) {
        if (slot) return true;
        // A stop meant for an earlier worker (two Close calls each set it)
        // must not end this one at once.
        stop.Reset();
        slot = platform::Thread::Start(std::move(body));
        return slot != nullptr;
    };
    WorkersStoppedEvent.Reset();
    return start(CaptureThread, std::move(capture), CaptureStopEvent) &&
           start(NotificationThread, std::move(notification), NotificationStopEvent);
}

void CaptureContext::StopThreads() {
    std::lock_guard<std::mutex> lock(ThreadLock);
    Stop(CaptureThread, CaptureStopEvent, CaptureStoppedEvent);
    Stop(NotificationThread, NotificationStopEvent, NotificationStoppedEvent);
    WorkersStoppedEvent.Set();
    CaptureRequestEvent.Reset();
    PictureRequestEvent.Reset();
}
