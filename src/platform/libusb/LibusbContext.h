#pragma once
// The process's one libusb context and the two threads that serve it while a
// device is open: one handles libusb's events (every transfer completes
// there), one hands removal notices on, because a notice may end in Close,
// which waits for transfers only the event thread can complete.
#include <libusb.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/Thread.h"

namespace platform {

class LibusbContext {
  public:
    // What is done with a device that left the bus, on the removal thread.
    using RemovalHandler = std::function<void(libusb_device* device)>;

    explicit LibusbContext(RemovalHandler onRemoval);
    // Shutdown.
    ~LibusbContext();
    LibusbContext(const LibusbContext&) = delete;
    LibusbContext& operator=(const LibusbContext&) = delete;

    // Null when libusb cannot start (no USB file system, say); then the
    // backend finds no devices. Never blocks for long.
    libusb_context* Get();

    // Counted per open device: the first starts the threads, the last stops
    // them. Release may run on the removal thread itself, which then ends
    // after the notice it is handing on; it is waited for only when the next
    // device opens or the context goes.
    bool Retain();
    void Release();

    // Ends libusb for good (its own threads with it), once no device is open:
    // the library may be unloaded next, and libusb with it. Get() gives null
    // from then on.
    void Shutdown();

    // From any thread, the event thread included: the device left the bus.
    // Each device is handed on once per removal thread run.
    void ReportRemoval(libusb_device* device);

  private:
    // One run of the removal thread: what it still has to hand on, and
    // whether it should end. Shared with the thread, which may outlive the
    // run when the last Release came from the thread itself.
    struct RemovalQueue {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<libusb_device*> devices;  // each holds a reference
        bool stopping = false;
    };

    static int LIBUSB_CALL OnHotplug(libusb_context* context, libusb_device* device,
                                     libusb_hotplug_event event, void* self);
    static uint32_t HandOnRemovals(std::shared_ptr<RemovalQueue> queue, RemovalHandler handler);
    uint32_t HandleEvents();

    RemovalHandler onRemoval_;
    std::mutex mutex_;  // everything below
    libusb_context* context_ = nullptr;
    bool initTried_ = false;
    libusb_hotplug_callback_handle hotplug_ = 0;
    bool hotplugRegistered_ = false;
    int openDevices_ = 0;
    std::atomic<bool> handlingEvents_{false};
    std::unique_ptr<Thread> events_;
    std::shared_ptr<RemovalQueue> removals_;
    // The removal thread of the last run, told to end but maybe still
    // closing a device: waited for before the next run and before libusb goes.
    std::unique_ptr<Thread> removalThread_;
};

}  // namespace platform
