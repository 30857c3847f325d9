// Linked into the final library as an object file, so the simulated driver is
// registered with the seam before any device is opened, without the seam or
// the camera code knowing it exists.
//
// The library run on the simulated driver (VELA2_USB_BACKEND=sim) finds one
// simulated camera without anyone publishing it: the first enumeration of the
// process publishes a default camera when none is there. Publishing waits for
// that first enumeration so that merely loading the library starts no device
// threads, and the camera is switched off again (its threads stopped) when
// its last handle closes, so that no thread of the library outlives Close.
// Tests that take the driver with SimUsbSession register the plain driver
// again and publish their own devices.
#include <memory>
#include <mutex>

#include "sim/SimUsbDriver.h"
#include "sim/SimulatedCamera.h"

namespace {

class DefaultCameraBackend : public platform::UsbDriverBackend {
  public:
    explicit DefaultCameraBackend(std::shared_ptr<sim::SimUsbDriver> driver)
        : driver_(std::move(driver)) {}

    std::unique_ptr<platform::DeviceInterfaceList> OpenInterfaceList(
        const platform::Guid& interfaceClass) override {
        std::lock_guard<std::mutex> lock(power_);
        if (!switchedOn_) switchedOn_ = sim::SimulatedCamera::EnsureDefaultPublished();
        return driver_->OpenInterfaceList(interfaceClass);
    }
    platform::UsbHandle Open(const std::string& devicePath) override {
        std::lock_guard<std::mutex> lock(power_);
        return driver_->Open(devicePath);
    }
    bool Close(platform::UsbHandle handle) override {
        std::lock_guard<std::mutex> lock(power_);
        const bool closed = driver_->Close(handle);
        if (switchedOn_ && driver_->OpenHandles() == 0) {
            // Like a camera switched off: the next enumeration finds a new one.
            driver_->Reset();
            switchedOn_ = false;
        }
        return closed;
    }
    bool Request(platform::UsbHandle handle, uint32_t code, const void* in, uint32_t inSize,
                 void* out, uint32_t outSize, uint32_t* bytesReturned,
                 platform::UsbOverlapped* overlapped) override {
        return driver_->Request(handle, code, in, inSize, out, outSize, bytesReturned, overlapped);
    }
    bool OverlappedResult(platform::UsbHandle handle, platform::UsbOverlapped& overlapped,
                          uint32_t& bytes) override {
        return driver_->OverlappedResult(handle, overlapped, bytes);
    }
    platform::NotificationHandle RegisterInterfaceNotification(
        platform::WindowHandle window, const platform::Guid& interfaceClass) override {
        return driver_->RegisterInterfaceNotification(window, interfaceClass);
    }
    platform::NotificationHandle RegisterHandleNotification(platform::WindowHandle window,
                                                            platform::UsbHandle handle) override {
        return driver_->RegisterHandleNotification(window, handle);
    }
    bool UnregisterNotification(platform::NotificationHandle notification) override {
        return driver_->UnregisterNotification(notification);
    }

  private:
    std::shared_ptr<sim::SimUsbDriver> driver_;
    std::mutex power_;  // switching on and off against opening and closing
    bool switchedOn_ = false;
};

const bool registered =
    (platform::RegisterUsbDriverBackend(
         "sim", std::make_shared<DefaultCameraBackend>(sim::SimUsbDriver::Instance())),
     true);

}  // namespace
