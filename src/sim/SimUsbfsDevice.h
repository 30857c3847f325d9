#pragma once
// A simulated USB device as the kernel's usbfs shows it, inside a umockdev
// testbed: the sysfs entry carries the device's descriptors and an in-process
// handler answers the device file's ioctls (URBs submitted, reaped and
// discarded; interfaces claimed and released) from the device model. So
// libusb's own Linux code runs, unchanged, against the simulated camera.
//
// The testbed must exist before the libusb context that is to see it, and the
// process must run under umockdev-wrapper.
#include <umockdev.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/SimUsbDevice.h"

namespace sim {

class SimUsbfsDevice {
  public:
    // Plugs the device in as bus 1, device `number`, on root port `port`.
    SimUsbfsDevice(UMockdevTestbed* testbed, std::shared_ptr<SimUsbDevice> device,
                   uint8_t number = 2, uint8_t port = 1);
    // Unplugs it if it is still in.
    ~SimUsbfsDevice();
    SimUsbfsDevice(const SimUsbfsDevice&) = delete;
    SimUsbfsDevice& operator=(const SimUsbfsDevice&) = delete;

    // Pulls the device: what is pending ends as on a real unplug (ENODEV),
    // every later ioctl fails with ENODEV and sysfs no longer lists it.
    void Unplug();

    // The data buffer of every URB submitted for `endpoint`, oldest first.
    std::vector<const void*> SubmittedBuffers(uint8_t endpoint) const;
    // How many ioctls the handler answered.
    uint64_t Ioctls() const;

  private:
    struct Urb;
    static gboolean OnIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer self);
    bool Answer(UMockdevIoctlClient* client);
    bool Submit(UMockdevIoctlClient* client, UMockdevIoctlData* argument);
    bool Reap(UMockdevIoctlClient* client, UMockdevIoctlData* argument);
    bool Discard(UMockdevIoctlClient* client, UMockdevIoctlData* argument);
    void Reaped(Urb* urb, const TransferOutcome& outcome);

    UMockdevTestbed* testbed_;
    std::shared_ptr<SimUsbDevice> device_;
    std::string sysfsPath_;
    std::string node_;
    UMockdevIoctlBase* handler_ = nullptr;

    mutable std::mutex mutex_;  // everything below
    std::vector<std::unique_ptr<Urb>> inFlight_;
    std::deque<std::unique_ptr<Urb>> reapable_;
    std::vector<std::pair<uint8_t, const void*>> buffers_;
    uint64_t ioctls_ = 0;
    bool unplugged_ = false;
};

}  // namespace sim
