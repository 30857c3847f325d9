#pragma once
// The driver backend "libusb": the camera driver's requests answered over
// the system's USB library, so the library reaches a real camera where there
// is no camera driver of its own (Linux's usbfs).
//
// Only devices in the accepted list (SetAcceptedUsbDevices) are listed, and
// only listed devices are opened: other devices on the bus are never
// touched. A device path names the bus and the ports leading to the device
// ("usb:1-3.2"), which stay the same while it stays plugged in.
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/UsbDriver.h"
#include "platform/UsbNotificationRegistry.h"
#include "platform/libusb/LibusbContext.h"
#include "platform/libusb/LibusbDevice.h"

namespace platform {

class LibusbDriver : public UsbDriverBackend {
  public:
    LibusbDriver();
    // Shutdown.
    ~LibusbDriver() override;

    // Closes what is open and ends libusb; the backend then finds no device.
    // For the library's unload, after which no libusb thread may run.
    void Shutdown();

    // Lists the accepted devices present now; the class is not asked of the
    // device (the accepted list stands for it). Never fails: an empty list
    // when libusb cannot start. May block briefly while libusb reads sysfs.
    std::unique_ptr<DeviceInterfaceList> OpenInterfaceList(const Guid& interfaceClass) override;
    // Opens an accepted device, detaches a kernel driver bound to it and
    // claims its first interface. kErrorFileNotFound when it is not there
    // (any more), kErrorAccessDenied without permission on its device file
    // (the message sink says which file and what to install) or when another
    // program has claimed it, kErrorGenFailure otherwise.
    UsbHandle Open(const std::string& devicePath) override;
    // Cancels the device's transfers, waits for them, lets it go.
    bool Close(UsbHandle handle) override;
    bool Request(UsbHandle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                 uint32_t outSize, uint32_t* bytesReturned, UsbOverlapped* overlapped) override;
    bool OverlappedResult(UsbHandle handle, UsbOverlapped& overlapped, uint32_t& bytes) override;
    NotificationHandle RegisterInterfaceNotification(WindowHandle window,
                                                     const Guid& interfaceClass) override;
    NotificationHandle RegisterHandleNotification(WindowHandle window, UsbHandle handle) override;
    bool UnregisterNotification(NotificationHandle notification) override;

  private:
    UsbHandle OpenListed(const std::string& devicePath);
    std::shared_ptr<LibusbDevice> DeviceOf(UsbHandle handle) const;
    // On the removal thread: ends the device's transfers and tells the
    // registered windows, once per removal.
    void DeviceLeft(libusb_device* device);

    LibusbContext context_;
    UsbNotificationRegistry notifications_;
    mutable std::mutex mutex_;  // the handles
    std::map<UsbHandle, std::shared_ptr<LibusbDevice>> handles_;
    UsbHandle nextHandle_ = 0x100;
};

// The path a device is listed under.
std::string LibusbDevicePath(libusb_device* device);

}  // namespace platform
