#include "sim/SimulatedCamera.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

#include "platform/SystemError.h"

namespace sim {
namespace {

// The decimal number a variable holds, if it holds one no larger than maximum.
std::optional<uint64_t> DecimalFromEnvironment(const char* name, uint64_t maximum) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text < '0' || *text > '9') return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long long number = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || number > maximum) return std::nullopt;
    return number;
}

}  // namespace

SimulatedCamera SimulatedCamera::Assemble(const SimulatedCameraOptions& options) {
    SimulatedCamera camera;
    camera.clock = options.clock ? options.clock : std::make_shared<SimClock>();
    camera.device = std::make_shared<SimUsbDevice>(UsbDescriptorSet::Camera());
    camera.device->SetControlLatency(options.controlLatency);
    camera.firmware = std::make_shared<CameraFirmware>(camera.clock);
    camera.firmware->SetSensorSuffix(options.sensorSuffix);
    camera.firmware->AttachDevice(camera.device);
    camera.device->SetVendorRequestHandler(camera.firmware);
    camera.device->SetFrameSource(camera.firmware);
    camera.firmware->LoseFrame(options.loseFrame);
    if (options.sky) {
        camera.firmware->SetPicture(CameraFirmware::Picture::Sky);
        camera.firmware->SetSky(SkySettings::FromEnvironment());
        if (const char* modeFile = std::getenv("VELA2_SIM_MODE_FILE"))
            camera.firmware->LoadModeFile(modeFile);
    }
    return camera;
}

SimulatedCamera SimulatedCamera::Publish(SimUsbDriver& driver,
                                         const SimulatedCameraOptions& options) {
    SimulatedCamera camera = Assemble(options);
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
    SimulatedCameraOptions options;
    options.controlLatency = ControlLatencyFromEnvironment();
    options.sky = SkyFromEnvironment();
    options.loseFrame = LostFrameFromEnvironment();
    Publish(driver, options);
    return true;
}

bool SimulatedCamera::SkyFromEnvironment() {
    const char* picture = std::getenv("VELA2_SIM_PICTURE");
    return picture == nullptr || std::string(picture) != "pattern";
}

uint32_t SimulatedCamera::LostFrameFromEnvironment() {
    return static_cast<uint32_t>(
        DecimalFromEnvironment("VELA2_SIM_LOSE_FRAME", UINT32_MAX).value_or(0));
}

std::chrono::microseconds SimulatedCamera::ControlLatencyFromEnvironment() {
    std::optional<uint64_t> micros = DecimalFromEnvironment("VELA2_SIM_CONTROL_LATENCY_US",
                                                            uint64_t(kMaxControlLatency.count()));
    return micros ? std::chrono::microseconds(static_cast<int64_t>(*micros))
                  : kDefaultControlLatency;
}

}  // namespace sim
