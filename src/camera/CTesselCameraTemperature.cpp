// Temperatures and cooler currents: one 64-byte record (command 0x07) of
// big-endian counts; the setpoint lives in the calibration block (0x04).

#include <cstring>

#include "Vela2UsbCameraStatus.h"
#include "camera/CTesselCamera.h"
#include "camera/ProcessObjects.h"
#include "platform/Clock.h"
#include "platform/DebugTrace.h"
#include "platform/Memory.h"

using platform::DebugTrace;

namespace {
constexpr uint16_t kTemperatureCommand = 0x07;
constexpr uint16_t kCalibrationCommand = 0x04;
constexpr int32_t kRecordSize = 64;
constexpr uint32_t kRetryDelayMs = 10;

enum Word { kHeatSink = 0, kSensor = 1, kTopCurrent = 2, kBottomCurrent = 3 };

uint16_t BigEndianWord(const uint8_t* record, int word) {
    return static_cast<uint16_t>((record[2 * word] << 8) | record[2 * word + 1]);
}
}  // namespace

bool CTesselCamera::ReadTemperatureRecord(uint8_t (&record)[64]) {
    if (ControlRead(kTemperatureCommand, record, kRecordSize)) return true;
    DebugTrace("Error reading calibration data (first try).");
    platform::SleepMs(kRetryDelayMs);
    if (ControlRead(kTemperatureCommand, record, kRecordSize)) return true;
    DebugTrace("Error reading calibration data (final try).");
    return false;
}

int32_t CTesselCamera::ReadTemperatureWord(int word, bool subtractOffset, double* value) {
    platform::ScopedLock lock(CaptureLock);
    uint8_t record[kRecordSize];
    if (!ReadTemperatureRecord(record)) return ERROR_TEMP_CONTROL_ENDPOINT_READ;
    if (value == nullptr) return VELA2_INVALID_PARAMETER;
    double reading = BigEndianWord(record, word) * TemperatureScale;
    *value = subtractOffset ? reading - KelvinOffset : reading;
    return 0;
}

int32_t CTesselCamera::GetCcdTemperature(double* value) {
    return ReadTemperatureWord(kSensor, true, value);
}

int32_t CTesselCamera::GetHeatSinkTemperature(double* value) {
    return ReadTemperatureWord(kHeatSink, true, value);
}

int32_t CTesselCamera::GetTopTecCurrent(double* value) {
    return ReadTemperatureWord(kTopCurrent, false, value);
}

int32_t CTesselCamera::GetBottomTecCurrent(double* value) {
    return ReadTemperatureWord(kBottomCurrent, false, value);
}

int32_t CTesselCamera::UpdateTemperature(uint8_t* buffer, int32_t length) {
    platform::ScopedLock lock(CaptureLock);
    uint8_t record[kRecordSize];
    if (!ControlRead(kTemperatureCommand, record, kRecordSize)) {
        DebugTrace("Error reading calibration data.");
        LastStatus().Set(ERROR_TEMP_CONTROL_ENDPOINT_READ);
        return 0;
    }
    if (buffer == nullptr) return 1;
    int32_t count = length < kRecordSize ? length : kRecordSize;
    if (count < 0 || !platform::IsWritable(buffer, static_cast<size_t>(count))) {
        DebugTrace("Error: invalid pointer passed to CTesselCamera::LD_UpdateTemperature.");
        LastStatus().Set(ERROR_UNINITIALIZED_BUFFER);
        return 0;
    }
    std::memcpy(buffer, record, static_cast<size_t>(count));
    return 1;
}

int32_t CTesselCamera::SetTemperatureSetpoint(int32_t setpoint) {
    platform::ScopedLock lock(CaptureLock);
    uint8_t block[kRecordSize];
    if (!ControlRead(kCalibrationCommand, block, kRecordSize)) {
        DebugTrace("Error reading calibration data.");
        return ERROR_TEMP_CONTROL_ENDPOINT_READ;
    }
    block[2] = static_cast<uint8_t>((setpoint >> 8) & 0xFF);
    block[3] = static_cast<uint8_t>(setpoint & 0xFF);
    if (!ControlWrite(kCalibrationCommand, block, kRecordSize)) {
        DebugTrace("Error writing calibration data.");
        return ERROR_CONTROL_ENDPOINT_WRITE;
    }
    return 0;
}
