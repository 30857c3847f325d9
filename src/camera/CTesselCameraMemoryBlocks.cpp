// The camera's 64-byte memory blocks. The library keeps a copy of the blocks
// it sends in the block image (EpalData): bytes 0-63 the FPGA block, 64-127
// the clock-voltage and offset block (the camera takes its half of it), and
// 128-191 the calibration block. Until the EPAL file is loaded there is no
// image: the operations then work on a zeroed block of their own and keep
// nothing, so that what the first initialization sends is the file's.

#include <algorithm>
#include <cstring>
#include <string>

#include "Vela2UsbCameraStatus.h"
#include "camera/CTesselCamera.h"
#include "camera/FailedAllocation.h"
#include "camera/HexToDecimal.h"
#include "camera/ProcessObjects.h"
#include "platform/DebugTrace.h"
#include "platform/Memory.h"
#include "settings/CAbsPropertyReader.h"

using platform::DebugTrace;

namespace {
constexpr size_t kVoltageBlockStart = 64;
constexpr size_t kOffsetsInImage = 96;
constexpr size_t kCalibrationStart = 128;
constexpr size_t kUncomparedByte = 32;
constexpr size_t kComparedBytes = 48;
// ERROR_UNINITIALIZED_BUFFER, as a vendor request of no bytes gives.

constexpr char kCompareFpgaKey[] = "Compare FPGA data during initialize?";
constexpr char kSendFpgaKey[] = "Send FPGA data during initialize?";
constexpr char kSendClockKey[] = "Send clock voltage data during initialize?";
constexpr char kSendOffsetKey[] = "Send offset DAC data during initialize?";
constexpr char kSendCalibrationKey[] = "Send calibration data during initialize?";

// How many of the caller's bytes a block operation uses.
size_t Used(int32_t length, size_t limit) {
    return length <= 0 ? 0 : std::min(static_cast<size_t>(length), limit);
}

bool Readable(const uint8_t* data, size_t count) {
    return count == 0 || (data != nullptr && platform::IsReadable(data, count));
}

bool Writable(uint8_t* buffer, size_t count) {
    return count == 0 || (buffer != nullptr && platform::IsWritable(buffer, count));
}

// Deliberate hardening: a write of no bytes would send a block of zeros (or
// of stale image bytes) to the camera, which for the calibration block sets
// the cooler to 0 K. It sends nothing and fails instead.
bool RefuseEmptyWrite(int32_t length) {
    if (length > 0) return false;
    DebugTrace("Invalid input buffer size.");
    LastStatus().Set(ERROR_UNINITIALIZED_BUFFER);
    return true;
}

// The image's bytes [start, start + size), or null while no EPAL file has
// been loaded into it.
uint8_t* ImageRange(std::vector<uint8_t>& image, size_t start, size_t size) {
    return image.size() >= start + size ? image.data() + start : nullptr;
}
}  // namespace

// Reading a setting is the one step of the block operations that allocates.
bool CTesselCamera::ReadRequiredFlag(const char* key, int32_t& flag) try {
    std::string value;
    if (!SettingsReader || !SettingsReader->ReadString(key, value, "General Info")) {
        DebugTrace("%s is not specified in the registry. Returning FALSE.", key);
        LastStatus().Set(ERROR_REGISTRY_VALUE);
        return false;
    }
    flag = DecimalValue(value.c_str());
    return true;
} catch (...) {
    ReportOperationException(key);
    return false;
}

void CTesselCamera::EnsureImage(size_t size) {
    if (EpalData.size() < size) EpalData.resize(size, 0);
}

int32_t CTesselCamera::WriteFpga(const uint8_t* data, int32_t length, int32_t alternative) {
    if (RefuseEmptyWrite(length)) return 0;
    int32_t compare = 0;
    if (!ReadRequiredFlag(kCompareFpgaKey, compare)) return 0;
    size_t count = Used(length, kBlockSize);
    if (!Readable(data, count)) {
        DebugTrace("Invalid read buffer.");
        return 0;
    }
    // The image is the staging block: what is not replaced is sent as it was.
    // The copy goes through a block of its own, as data may be the image.
    uint8_t sent[kBlockSize] = {};
    uint8_t* image = ImageRange(EpalData, 0, kBlockSize);
    if (image) std::memcpy(sent, image, kBlockSize);
    std::memcpy(sent, data, count);
    if (image) std::memcpy(image, sent, kBlockSize);
    uint16_t command = alternative ? vendor::kFpgaAlternative : vendor::kFpga;
    if (!ControlWrite(command, sent, kBlockSize)) {
        DebugTrace("Error writing FPGA data.");
        return 0;
    }
    if (!compare) return 1;
    uint8_t readBack[kBlockSize];
    if (!ControlRead(command, readBack, kBlockSize)) {
        DebugTrace("Error reading FPGA data.");
        return 0;
    }
    // The camera changes byte 32 itself; only the first 48 bytes are settings.
    readBack[kUncomparedByte] = sent[kUncomparedByte];
    if (std::memcmp(readBack, sent, kComparedBytes) != 0)
        DebugTrace("Fails FPGA read-write comparison.");
    return 1;
}

int32_t CTesselCamera::WriteClockVoltages(const uint8_t* data, int32_t length) {
    return WriteStagedBlock(vendor::kClockVoltages, data, length,
                            "Error writing clock voltage data.");
}

int32_t CTesselCamera::WriteOffsets(const uint8_t* data, int32_t length) {
    return WriteStagedBlock(vendor::kOffsets, data, length, "Error writing offset DAC data.");
}

int32_t CTesselCamera::WriteCalibration(const uint8_t* data, int32_t length) {
    return WriteStagedBlock(vendor::kCalibration, data, length, "Error writing calibration data.");
}

int32_t CTesselCamera::WriteProductInfo(const uint8_t* data, int32_t length) {
    return WriteStagedBlock(vendor::kProductInfo, data, length, "Error writing Product Info data.");
}

// Clock voltages and offsets travel in image bytes 64-127, which they update;
// calibration and product information use a fresh block of their own.
int32_t CTesselCamera::WriteStagedBlock(uint16_t command, const uint8_t* data, int32_t length,
                                        const char* failure) {
    if (RefuseEmptyWrite(length)) return 0;
    size_t count = Used(length, kBlockSize);
    if (!Readable(data, count)) {
        DebugTrace("Invalid read buffer.");
        return 0;
    }
    uint8_t staging[kBlockSize] = {};
    uint8_t* image = command == vendor::kClockVoltages || command == vendor::kOffsets
                         ? ImageRange(EpalData, kVoltageBlockStart, kBlockSize)
                         : nullptr;
    if (image) std::memcpy(staging, image, kBlockSize);
    std::memcpy(staging, data, count);
    if (image) std::memcpy(image, staging, kBlockSize);
    if (!ControlWrite(command, staging, kBlockSize)) {
        DebugTrace("%s", failure);
        return 0;
    }
    return 1;
}

int32_t CTesselCamera::ReadFpga(uint8_t* buffer, int32_t length, int32_t alternative) {
    return ReadStagedBlock(alternative ? vendor::kFpgaAlternative : vendor::kFpga, buffer, length,
                           "Error reading FPGA data.");
}

int32_t CTesselCamera::ReadCalibration(uint8_t* buffer, int32_t length) {
    return ReadStagedBlock(vendor::kCalibration, buffer, length, "Error reading calibration data.");
}

int32_t CTesselCamera::ReadProductInfo(uint8_t* buffer, int32_t length) {
    return ReadStagedBlock(vendor::kProductInfo, buffer, length,
                           "Error reading Product Info data.");
}

// The read lands in a block of its own first, so a failed read leaves the
// caller's buffer untouched.
int32_t CTesselCamera::ReadStagedBlock(uint16_t command, uint8_t* buffer, int32_t length,
                                       const char* failure) {
    size_t count = Used(length, kBlockSize);
    if (buffer == nullptr || !Writable(buffer, count)) {
        DebugTrace("Invalid write buffer.");
        return 0;
    }
    uint8_t staging[kBlockSize];
    if (!ControlRead(command, staging, kBlockSize)) {
        DebugTrace("%s", failure);
        return 0;
    }
    if (count) std::memcpy(buffer, staging, count);
    return 1;
}

int32_t CTesselCamera::ReadOffsets(uint8_t* buffer, int32_t length) {
    size_t count = Used(length, vendor::kHalfBlock);
    if (buffer != nullptr && !Writable(buffer + vendor::kHalfBlock, count)) {
        DebugTrace("Invalid write buffer.");
        return 0;
    }
    uint8_t staging[kBlockSize];
    if (!ControlRead(vendor::kOffsets, staging, kBlockSize)) {
        DebugTrace("Error reading offset data.");
        return 0;
    }
    uint8_t* image = ImageRange(EpalData, kOffsetsInImage, vendor::kHalfBlock);
    if (image && count) std::memcpy(image, staging + vendor::kHalfBlock, count);
    if (buffer == nullptr) return 0;
    if (count) std::memcpy(buffer + vendor::kHalfBlock, staging + vendor::kHalfBlock, count);
    return 1;
}

int32_t CTesselCamera::ReadClockVoltages(uint8_t* buffer, int32_t length) {
    size_t count = Used(length, vendor::kHalfBlock);
    const uint8_t* image = ImageRange(EpalData, kVoltageBlockStart, vendor::kHalfBlock);
    if (image == nullptr || buffer == nullptr || !Writable(buffer, count)) return 0;
    if (count) std::memcpy(buffer, image, count);
    return 1;
}

int32_t CTesselCamera::Download(uint8_t* buffer, int32_t length) {
    if (buffer == nullptr) {
        DebugTrace("Cannot allocate memory for buffer.");
        return 0;
    }
    // All four blocks go to fixed places in the first 192 bytes.
    if (length < kUploadSize || !Writable(buffer, static_cast<size_t>(length))) {
        DebugTrace("Invalid write buffer.");
        return 0;
    }
    int32_t fpga = ReadFpga(buffer, kBlockSize, 0);
    int32_t voltages = ReadClockVoltages(buffer + kVoltageBlockStart, kBlockSize);
    int32_t offsets = ReadOffsets(buffer + kVoltageBlockStart, kBlockSize);
    int32_t calibration = ReadCalibration(buffer + kCalibrationStart, kBlockSize);
    return fpga && voltages && offsets && calibration ? 1 : 0;
}

int32_t CTesselCamera::Upload(const uint8_t* data, int32_t length) {
    if (data == nullptr) {
        DebugTrace("Cannot allocate memory for buffer.");
        return 0;
    }
    if (RefuseEmptyWrite(length)) return 0;
    if (length < kUploadSize || !Readable(data, static_cast<size_t>(length))) {
        DebugTrace("Invalid read buffer.");
        return 0;
    }
    int32_t result = 1;
    int32_t send = 0;
    if (!ReadRequiredFlag(kSendFpgaKey, send)) return 0;
    if (send) {
        DebugTrace("Send FPGA data enabled in registry during Initialize.");
        result = WriteFpga(data, kBlockSize, 0);
    }
    if (!ReadRequiredFlag(kSendClockKey, send)) return 0;
    if (send) {
        DebugTrace("Send FPGA data enabled in registry during Initialize.");
        result = WriteClockVoltages(data + kVoltageBlockStart, kBlockSize) && result;
    }
    if (!ReadRequiredFlag(kSendOffsetKey, send)) return 0;
    if (send) {
        DebugTrace("Send FPGA data enabled in registry during Initialize.");
        result = WriteOffsets(data + kVoltageBlockStart, kBlockSize) && result;
    }
    if (!ReadRequiredFlag(kSendCalibrationKey, send)) return 0;
    if (send) {
        DebugTrace("Send calibration data enabled in registry during Initialize.");
        result = WriteCalibration(data + kCalibrationStart, kBlockSize) && result;
    }
    return result;
}
