#pragma once
// The cooler setpoint in Celsius and the camera's own unit: the camera keeps
// it as a count of 0.01 K in its calibration block, and the library converts
// its temperature readings with the same gain and offset.

#include <cstdint>
#include <optional>

namespace vela2cam {

class Setpoint {
  public:
    static int32_t CountFor(double celsius);
    static double CelsiusOf(uint32_t count);
    // The setpoint stored in the camera's calibration block.
    static std::optional<double> Read();
    // LD_SetTemperatureSetpoint with the count for celsius: 0 or the status.
    static int32_t Write(double celsius);
};

}  // namespace vela2cam
