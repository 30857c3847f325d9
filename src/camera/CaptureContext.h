#pragma once
// Process-wide state of the capture: the two worker threads, their events and
// the pending request, shared by the request exports and the capture thread.

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Event.h"
#include "platform/Thread.h"

// The twelve arguments of a picture request, kept until the next request.
struct SPictureRequest {
    uint16_t* Images[4] = {nullptr, nullptr, nullptr, nullptr};
    int32_t ImageWidth = 0;
    int32_t ImageHeight = 0;
    uint16_t* Overscans[4] = {nullptr, nullptr, nullptr, nullptr};
    int32_t OverscanWidth = 0;
    int32_t OverscanHeight = 0;
};

struct CaptureContext {
    // The two workers. Started, stopped and looked at only under ThreadLock,
    // so that Close on one thread and LD_Initialize on another agree on
    // whether they run.
    std::mutex ThreadLock;
    std::unique_ptr<platform::Thread> CaptureThread;
    std::unique_ptr<platform::Thread> NotificationThread;

    platform::Event CaptureRequestEvent{platform::EventReset::Auto};
    platform::Event PictureRequestEvent{platform::EventReset::Auto};
    platform::Event CaptureStopEvent{platform::EventReset::Auto};
    platform::Event CaptureStoppedEvent{platform::EventReset::Auto};
    platform::Event NotificationStopEvent{platform::EventReset::Auto};
    platform::Event NotificationStoppedEvent{platform::EventReset::Auto};
    platform::Event BlockReadyEvent{platform::EventReset::Auto};
    // Set while no capture worker runs, so that a request waiting for one
    // learns it will not come.
    platform::Event WorkersStoppedEvent{platform::EventReset::Manual, true};
    // Other processes open these two by name.
    platform::Event CaptureCompleteEvent{platform::EventReset::Manual, false,
                                         "TESSEL_CAPTURE_COMPLETE_EVENT"};
    platform::Event WaitingForTriggerEvent{platform::EventReset::Manual, false,
                                           "TESSEL_WAITING_FOR_TRIGGER_EVENT"};

    int32_t PictureMode = 0;
    int32_t BlockMode = 0;
    uint16_t* RawCaptureBuffer = nullptr;
    SPictureRequest PictureRequest;
    int32_t NumberOfBlocks = 1;
    int32_t WindowImageSize = 0;
    // The library's frame buffer for pictures: it only grows, so pictures
    // after the first allocate nothing.
    std::vector<uint16_t> FrameBuffer;

    // True while the capture thread exists and has not ended.
    bool IsCaptureThreadRunning();

    // Starts each worker whose slot is empty. False when the system refuses
    // a thread (one started before the refusal keeps running).
    bool StartThreads(platform::Thread::Body capture, platform::Thread::Body notification);

    // Stops both workers: each running one is told to stop, given up to
    // 2000 ms to say it has and as long again to leave; its slot is then
    // emptied. A thread that already ended keeps its slot. Requests that no
    // worker took are forgotten, so that the next workers do not run them.
    void StopThreads();

    static bool IsRunning(const std::unique_ptr<platform::Thread>& thread);

  private:
    static void Stop(std::unique_ptr<platform::Thread>& thread, platform::Event& stop,
                     platform::Event& stopped);
};
