#include "platform/libusb/LibusbContext.h"

#include <new>

#include "platform/DebugTrace.h"

namespace platform {

namespace {
// How long the event thread sleeps in libusb between looks at its stop flag;
// stopping also interrupts it, so this only bounds a missed interruption.
constexpr int kEventWaitSeconds = 1;
// Stopping the event thread waits this long for it; its callbacks never
// block, so only a wedged libusb could make it longer.
constexpr uint32_t kThreadStopMs = 5000;
// A thread the system, or the memory for it, refuses is a null one.
std::unique_ptr<Thread> StartOrNull(Thread::Body body) {
    try {
        return Thread::Start(std::move(body));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

LibusbContext::LibusbContext(RemovalHandler onRemoval) : onRemoval_(std::move(onRemoval)) {}

LibusbContext::~LibusbContext() { Shutdown(); }

void LibusbContext::Shutdown() {
    std::unique_ptr<Thread> removalThread;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        removalThread = std::move(removalThread_);
    }
    if (removalThread && !removalThread->Join(kThreadStopMs))
        DebugTrace("The USB removal thread did not stop in time.");
    std::lock_guard<std::mutex> lock(mutex_);
    initTried_ = true;
    if (context_ == nullptr) return;
    if (hotplugRegistered_) libusb_hotplug_deregister_callback(context_, hotplug_);
    hotplugRegistered_ = false;
    libusb_exit(context_);
    context_ = nullptr;
}

libusb_context* LibusbContext::Get() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (initTried_) return context_;
    initTried_ = true;
    const int result = libusb_init(&context_);
    if (result != LIBUSB_SUCCESS) {
        DebugTrace("libusb could not start: %s", libusb_error_name(result));
        context_ = nullptr;
        return nullptr;
    }
    if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
        hotplugRegistered_ =
            libusb_hotplug_register_callback(
                context_, LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT, LIBUSB_HOTPLUG_NO_FLAGS,
                LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                &LibusbContext::OnHotplug, this, &hotplug_) == LIBUSB_SUCCESS;
    }
    return context_;
}

int LIBUSB_CALL LibusbContext::OnHotplug(libusb_context*, libusb_device* device,
                                         libusb_hotplug_event, void* self) {
    static_cast<LibusbContext*>(self)->ReportRemoval(device);
    return 0;  // stay registered
}

bool LibusbContext::Retain() {
    // Allocated first: nothing below may throw once the count has moved.
    auto queue = std::make_shared<RemovalQueue>();
    std::unique_ptr<Thread> previous;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (context_ == nullptr) return false;
        if (openDevices_ > 0) {
            ++openDevices_;
            return true;
        }
        previous = std::move(removalThread_);
    }
    // Unlocked: the last run's removal thread may still be finishing the
    // notice that closed the last device, and that takes this lock.
    if (previous && !previous->Join(kThreadStopMs))
        DebugTrace("The USB removal thread did not stop in time.");
    std::lock_guard<std::mutex> lock(mutex_);
    if (openDevices_++ > 0) return true;
    handlingEvents_ = true;
    events_ = StartOrNull([this] { return HandleEvents(); });
    auto removalThread =
        StartOrNull([queue, handler = onRemoval_] { return HandOnRemovals(queue, handler); });
    if (!events_ || !removalThread) {
        DebugTrace("The system refused a thread for USB events.");
        handlingEvents_ = false;
        if (events_) events_->Join(kThreadStopMs);
        events_.reset();
        {
            std::lock_guard<std::mutex> queueLock(queue->mutex);
            queue->stopping = true;
        }
        queue->changed.notify_all();
        openDevices_ = 0;
        return false;
    }
    removals_ = std::move(queue);
    removalThread_ = std::move(removalThread);
    return true;
}

void LibusbContext::Release() {
    std::unique_ptr<Thread> events;
    std::shared_ptr<RemovalQueue> removals;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (openDevices_ == 0 || --openDevices_ > 0) return;
        handlingEvents_ = false;
        libusb_interrupt_event_handler(context_);
        events = std::move(events_);
        removals = std::move(removals_);
    }
    if (events && !events->Join(kThreadStopMs))
        DebugTrace("The USB event thread did not stop in time.");
    // The removal thread is told to end but never waited for: this may be
    // the removal thread itself, closing the device whose notice it handed on.
    std::lock_guard<std::mutex> queueLock(removals->mutex);
    removals->stopping = true;
    removals->changed.notify_all();
}

void LibusbContext::ReportRemoval(libusb_device* device) {
    std::shared_ptr<RemovalQueue> queue;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue = removals_;
    }
    if (!queue) return;  // nothing open: nobody to tell
    std::lock_guard<std::mutex> queueLock(queue->mutex);
    for (libusb_device* queued : queue->devices)
        if (queued == device) return;
    queue->devices.push_back(libusb_ref_device(device));
    queue->changed.notify_all();
}

uint32_t LibusbContext::HandleEvents() {
    NameCurrentThread("vela2 usb events");
    while (handlingEvents_) {
        timeval wait{kEventWaitSeconds, 0};
        libusb_handle_events_timeout_completed(context_, &wait, nullptr);
    }
    return 0;
}

uint32_t LibusbContext::HandOnRemovals(std::shared_ptr<RemovalQueue> queue,
                                       RemovalHandler handler) {
    NameCurrentThread("vela2 usb removal");
    std::unique_lock<std::mutex> lock(queue->mutex);
    while (true) {
        queue->changed.wait(lock, [&] { return queue->stopping || !queue->devices.empty(); });
        if (queue->devices.empty()) break;
        libusb_device* device = queue->devices.front();
        lock.unlock();
        try {
            handler(device);
        } catch (...) {
            DebugTrace("Handing on a USB removal failed.");
        }
        lock.lock();
        queue->devices.pop_front();
        libusb_unref_device(device);
    }
    for (libusb_device* device : queue->devices) libusb_unref_device(device);
    return 0;
}

}  // namespace platform
