#include "Setpoint.h"

#include <cmath>
#include <vector>

#include "Vela2UsbCameraDll.h"

namespace vela2cam {

namespace {

// The library's default conversion constants for counts of 0.01 K.
constexpr double kKelvinPerCount = 0.01;
constexpr double kKelvinOffset = 273.15;
constexpr size_t kBlockSize = 64;
constexpr size_t kSetpointByte = 2;

}  // namespace

int32_t Setpoint::CountFor(double celsius) {
    return static_cast<int32_t>(std::lround((celsius + kKelvinOffset) / kKelvinPerCount));
}

double Setpoint::CelsiusOf(uint32_t count) { return count * kKelvinPerCount - kKelvinOffset; }

std::optional<double> Setpoint::Read() {
    std::vector<uint8_t> block(kBlockSize, 0);
    if (!ReadCalibration(block.data(), static_cast<int32_t>(block.size()))) return std::nullopt;
    return CelsiusOf(static_cast<uint32_t>(block[kSetpointByte] << 8 | block[kSetpointByte + 1]));
}

int32_t Setpoint::Write(double celsius) { return LD_SetTemperatureSetpoint(CountFor(celsius)); }

}  // namespace vela2cam
