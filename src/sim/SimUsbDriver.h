#pragma once
// The driver side of the simulated camera: an in-process USB driver backend
// that publishes simulated devices under an interface class and answers the
// driver request protocol for them, parsing the records by offset as the
// kernel driver does and handing the work to each device's model.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Guid.h"
#include "platform/UsbDriver.h"
#include "platform/UsbNotificationRegistry.h"
#include "sim/SimUsbDevice.h"

namespace sim {

// The camera's interface class, "{C3085563-87DB-4e0a-ABDC-5747B2EB9BF3}".
const platform::Guid& CameraInterfaceClass();

class SimUsbDriver : public platform::UsbDriverBackend {
  public:
    // The one driver of the process, as the seam registers it.
    static std::shared_ptr<SimUsbDriver> Instance();

    // Makes the device present under the class, after those published before;
    // returns its device path.
    std::string Publish(std::shared_ptr<SimUsbDevice> device,
                        const platform::Guid& interfaceClass = CameraInterfaceClass());
    // A member of the class's list that cannot be read, as the system reports
    // for an interface whose device is being removed.
    void PublishUnreadable(const platform::Guid& interfaceClass = CameraInterfaceClass());
    // Takes the device away: its transfers are cancelled, its open handles
    // fail from now on, and the removal notices of its handles' registrations,
    // then of its class's registrations, are delivered.
    void Unplug(const std::shared_ptr<SimUsbDevice>& device);
    // Unplugs every device and forgets all handles and registrations.
    void Reset();
    size_t OpenHandles() const;

    std::unique_ptr<platform::DeviceInterfaceList> OpenInterfaceList(
        const platform::Guid& interfaceClass) override;
    platform::UsbHandle Open(const std::string& devicePath) override;
    bool Close(platform::UsbHandle handle) override;
    bool Request(platform::UsbHandle handle, uint32_t code, const void* in, uint32_t inSize,
                 void* out, uint32_t outSize, uint32_t* bytesReturned,
                 platform::UsbOverlapped* overlapped) override;
    bool OverlappedResult(platform::UsbHandle handle, platform::UsbOverlapped& overlapped,
                          uint32_t& bytes) override;
    platform::NotificationHandle RegisterInterfaceNotification(
        platform::WindowHandle window, const platform::Guid& interfaceClass) override;
    platform::NotificationHandle RegisterHandleNotification(platform::WindowHandle window,
                                                            platform::UsbHandle handle) override;
    bool UnregisterNotification(platform::NotificationHandle notification) override;

  private:
    struct Published {
        std::string path;
        platform::Guid interfaceClass;
        std::shared_ptr<SimUsbDevice> device;
    };
    struct Call;

    std::shared_ptr<SimUsbDevice> DeviceOf(platform::UsbHandle handle) const;
    bool Answer(const Call& request, uint32_t count) const;
    bool AnswerInformation(const Call& request, SimUsbDevice& device) const;
    bool SubmitTransfer(const Call& request, SimUsbDevice& device) const;

    mutable std::mutex mutex_;
    std::vector<Published> published_;
    std::map<platform::UsbHandle, std::shared_ptr<SimUsbDevice>> handles_;
    platform::UsbNotificationRegistry notifications_;
    uint32_t nextDevice_ = 0;
    platform::UsbHandle nextHandle_ = 0x100;
};

// Makes the simulated driver available to the seam as the backend "sim".
void RegisterSimUsbBackend();

// For tests: the simulated driver selected and emptied for the scope; the
// backend choice is given back to the default rule at the end.
class SimUsbSession {
  public:
    SimUsbSession();
    ~SimUsbSession();
    SimUsbSession(const SimUsbSession&) = delete;
    SimUsbSession& operator=(const SimUsbSession&) = delete;
    SimUsbDriver& driver() { return *driver_; }

  private:
    std::shared_ptr<SimUsbDriver> driver_;
};

}  // namespace sim
