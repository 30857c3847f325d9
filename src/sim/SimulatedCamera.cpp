#include "sim/SimulatedCamera.h"

#include <mutex>

#include "platform/SystemError.h"

namespace sim {

SimulatedCamera SimulatedCamera::Publish(SimUsbDriver& driver,
                                         const SimulatedCameraOptions& options) {
    SimulatedCamera camera;
    camera.clock = options.clock ? options.clock : std::make_shared<SimClock>();
    camera.device = std::make_shared<SimUsbDevice>(UsbDescriptorSet::Camera());
    camera.firmware = std::make_shared<CameraFirmware>(camera.clock);
    camera.firmware->SetSensorSuffix(options.sensorSuffix);
    camera.firmware->AttachDevice(camera.device);
    camera.device->SetVendorRequestHandler(camera.firmware);
    camera.device->SetFrameSource(camera.firmware);
    camera.path = driver.Publish(camera.device);
    return camera;
}

bool SimulatedCamera::EnsureDefaultPublished() {
    // Serialises two first enumerations racing to publish the default.
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    SimUsbDriver& driver = *SimUsbDriver::Instance();
    std::unique_ptr<platform::DeviceInterfaceList> list =
        driver.OpenInterfaceList(CameraInterfaceClass());
    // A member that cannot be read is still a device of the class.
    if (!list) return false;
    if (list->Enumerate(0) || platform::LastSystemError() != platform::kErrorNoMoreItems)
        return true;
    Publish(driver);
    return true;
}

}  // namespace sim
