#pragma once
// The device-change registrations of a driver backend that has no system
// notification service behind it (the simulated driver, libusb): it keeps
// them and, when a device goes, says which notices the system would send.
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "platform/Guid.h"
#include "platform/UsbDriver.h"

namespace platform {

class UsbNotificationRegistry {
  public:
    // Never fail; thread-safe.
    NotificationHandle AddForClass(WindowHandle window, const Guid& interfaceClass);
    NotificationHandle AddForHandle(WindowHandle window, UsbHandle handle);
    // False with kErrorInvalidHandle for a registration it does not hold.
    bool Remove(NotificationHandle notification);
    void Clear();

    // The notices for a device that went away with these open handles: one per
    // registration on any of the handles, then one per registration of the
    // class (of every class when interfaceClass is null), as the system
    // sends DBT_DEVICEREMOVECOMPLETE first to handles, then to the class.
    std::vector<UsbRemovalNotice> RemovalNotices(const std::vector<UsbHandle>& handles,
                                                 const Guid* interfaceClass) const;

  private:
    struct Registration {
        WindowHandle window;
        UsbHandle handle;  // kInvalidUsbHandle for a class registration
        Guid interfaceClass;
    };

    mutable std::mutex mutex_;
    std::map<uintptr_t, Registration> registrations_;
    uintptr_t next_ = 0x1000;
};

}  // namespace platform
