#pragma once
// The camera's vendor requests: every command is one control transfer on
// endpoint 0 with request kRequest and the command in the value field. Reads
// answer a record of at most kBlockSize bytes; the memory blocks are written
// whole. Multi-byte fields of the records and blocks are big-endian.
#include <cstddef>
#include <cstdint>

namespace vendor {

constexpr uint8_t kRequest = 0xAB;
constexpr uint32_t kBlockSize = 64;

enum Command : uint16_t {
    kIdentification = 0x00,  // read only
    kFpga = 0x01,
    kOffsets = 0x02,
    kClockVoltages = 0x03,
    kCalibration = 0x04,
    kStatus = 0x05,
    kProductInfo = 0x06,
    kTemperatures = 0x07,
    kHardwareTrigger = 0x08,
    kReset = 0x09,
    kImageReRead = 0x0A,
    kSoftwareTrigger = 0x0B,
    kSoftReset = 0x0C,
    kFpgaAlternative = 0x0D,  // the FPGA block by another path
};

// The camera's state, a bit each, as the status record reports it.
enum State : uint8_t {
    kIdle = 0x01,
    kWaitForTrigger = 0x02,
    kExposure = 0x08,
    kReadout = 0x20,
};

// Status record: a layout version, the frames read since power-up (32 bits)
// and the state.
constexpr size_t kStatusVersionAt = 0;
constexpr size_t kStatusFramesReadAt = 4;
constexpr size_t kStatusStateAt = 10;

// Temperature record: 16-bit counts of 0.01 K and of 0.01 A.
constexpr size_t kHeatSinkKelvinAt = 0;
constexpr size_t kSensorKelvinAt = 2;
constexpr size_t kTopCurrentAt = 4;
constexpr size_t kBottomCurrentAt = 6;

// Calibration block: the cooler's setpoint, 16-bit counts of 0.01 K.
constexpr size_t kSetpointKelvinAt = 2;

// FPGA block: the exposure time in ms, 16 bits.
constexpr size_t kExposureMsAt = 56;

// Offsets and clock voltages share one block: the clock voltages are its
// first half, the offsets its second.
constexpr size_t kHalfBlock = 32;

// Product information: a model field, then the sensor field.
constexpr size_t kModelFieldSize = 16;
constexpr size_t kSensorFieldAt = 16;
constexpr size_t kSensorFieldSize = 45;

}  // namespace vendor
