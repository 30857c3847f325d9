// Temperatures and cooler currents: one record of big-endian counts; the
// setpoint lives in the calibration block.

#include <cstring>

#include "Vela2UsbCameraStatus.h"
#include "camera/CTesselCamera.h"
#include "camera/ProcessObjects.h"
#include "platform/ByteOrder.h"
#include "platform/Clock.h"
#include "platform/DebugTrace.h"
#include "platform/Memory.h"

using platform::DebugTrace;

namespace {
constexpr int32_t kRecordSize = CTesselCamera::kBlockSize;
constexpr uint32_t kRetryDelayMs = 10;
}  // namespace

bool CTesselCamera::ReadTemperatureRecord(uint8_t (&record)[kBlockSize]) {
    if (ControlRead(vendor::kTemperatures, record, kRecordSize)) return true;
    DebugTrace("Error reading calibration data (first try).");
    platform::SleepMs(kRetryDelayMs);
    if (ControlRead(vendor::kTemperatures, record, kRecordSize)) return true;
    DebugTrace("Error reading calibration data (final try).");
    return false;
}

int32_t CTesselCamera::ReadTemperatureWord(size_t at, bool subtractOffset, double* value) {
    platform::ScopedLock lock(CaptureLock);
    uint8_t record[kRecordSize];
    if (!ReadTemperatureRecord(record)) return ERROR_TEMP_CONTROL_ENDPOINT_READ;
    if (value == nullptr) return VELA2_INVALID_PARAMETER;
    double reading = platform::LoadBe16(record + at) * TemperatureScale;
    *value = subtractOffset ? reading - KelvinOffset : reading;
    return 0;
}

int32_t CTesselCamera::GetCcdTemperature(double* value) {
    return ReadTemperatureWord(vendor::kSensorKelvinAt, true, value);
}

int32_t CTesselCamera::GetHeatSinkTemperature(double* value) {
    return ReadTemperatureWord(vendor::kHeatSinkKelvinAt, true, value);
}

int32_t CTesselCamera::GetTopTecCurrent(double* value) {
    return ReadTemperatureWord(vendor::kTopCurrentAt, false, value);
}

int32_t CTesselCamera::GetBottomTecCurrent(double* value) {
    return ReadTemperatureWord(vendor::kBottomCurrentAt, false, value);
}

int32_t CTesselCamera::UpdateTemperature(uint8_t* buffer, int32_t length) {
    platform::ScopedLock lock(CaptureLock);
    uint8_t record[kRecordSize];
    if (!ControlRead(vendor::kTemperatures, record, kRecordSize)) {
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
    if (!ControlRead(vendor::kCalibration, block, kRecordSize)) {
        DebugTrace("Error reading calibration data.");
        return ERROR_TEMP_CONTROL_ENDPOINT_READ;
    }
    platform::StoreBe16(block + vendor::kSetpointKelvinAt, static_cast<uint16_t>(setpoint));
    if (!ControlWrite(vendor::kCalibration, block, kRecordSize)) {
        DebugTrace("Error writing calibration data.");
        return ERROR_CONTROL_ENDPOINT_WRITE;
    }
    return 0;
}
