#pragma once
// A whole simulated camera in one call: the USB device with the camera's
// descriptors, its firmware answering the vendor requests and reading out
// frames, and the clock the firmware runs on, published on the simulated
// driver. The handles let tests steer and observe each part.
#include <chrono>
#include <memory>
#include <string>

#include "sim/CameraFirmware.h"
#include "sim/SimClock.h"
#include "sim/SimUsbDevice.h"
#include "sim/SimUsbDriver.h"

namespace sim {

struct SimulatedCameraOptions {
    // Null: a clock paced by VELA2_SIM_TIME_SCALE.
    std::shared_ptr<SimClock> clock;
    std::string sensorSuffix = CameraFirmware::kDefaultSensorSuffix;
    // Each control transfer's round trip. A test that publishes its own
    // camera gets answers at once; the default camera takes the latency of
    // ControlLatencyFromEnvironment.
    std::chrono::microseconds controlLatency{0};
    // The sky instead of the position-code pattern, with the settings and
    // modes of SkyFromEnvironment. Off for tests that publish their own
    // camera, which check the pattern; on for the default camera.
    bool sky = false;
    // The number of the frame lost (CameraFirmware::LoseFrame; 0: none), for
    // programs that reach the camera only through the library.
    uint32_t loseFrame = 0;
};

class SimulatedCamera {
  public:
    // A new camera, not yet on any bus: its device, firmware and clock wired.
    static SimulatedCamera Assemble(const SimulatedCameraOptions& options = {});
    // Publishes a new camera on `driver`, after the devices already there.
    static SimulatedCamera Publish(SimUsbDriver& driver,
                                   const SimulatedCameraOptions& options = {});

    // What a process gets without asking: on the process's simulated driver,
    // when no device of the camera's interface class is present, one camera
    // with default options is published, answering at the pace of
    // ControlLatencyFromEnvironment. True when a camera is present now.
    static bool EnsureDefaultPublished();

    // A control round trip of the camera on a USB 2.0 bus.
    static constexpr std::chrono::microseconds kDefaultControlLatency{250};
    // The longest latency taken from the environment: a second already
    // matches the bundled settings' control timeout, so a longer one could
    // only make every transfer fail.
    static constexpr std::chrono::microseconds kMaxControlLatency{1000000};
    // The latency named by VELA2_SIM_CONTROL_LATENCY_US (a decimal count of
    // microseconds up to kMaxControlLatency), or kDefaultControlLatency when
    // it is unset or not such a number.
    static std::chrono::microseconds ControlLatencyFromEnvironment();
    // The default camera shows the sky unless VELA2_SIM_PICTURE is
    // "pattern". The sky's readout geometry comes from the mode file named by
    // VELA2_SIM_MODE_FILE, the one the application hands the library.
    static bool SkyFromEnvironment();
    // VELA2_SIM_LOSE_FRAME: a decimal frame number; 0 when unset or not one.
    static uint32_t LostFrameFromEnvironment();

    std::shared_ptr<SimUsbDevice> device;
    std::shared_ptr<CameraFirmware> firmware;
    std::shared_ptr<SimClock> clock;
    std::string path;  // the device path it was published under, if it was
};

}  // namespace sim
