// Vendor requests: every command to the camera is one control transfer on
// endpoint 0 (camera/VendorProtocol.h).

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "Vela2UsbCameraStatus.h"
#include "camera/CTesselCamera.h"
#include "camera/HexToDecimal.h"
#include "camera/ProcessObjects.h"
#include "platform/Clock.h"
#include "platform/DebugTrace.h"
#include "platform/Memory.h"
#include "usb/CCyUSBDevice.h"

using platform::DebugTrace;

namespace {
// How long a reset keeps cancelling the frame transfer of the capture it aborts.
constexpr uint32_t kResetAbortLimitMs = 100;
constexpr int32_t kStatusCopyLimit = 32;

int32_t Fail(int32_t status) {
    LastStatus().Set(status);
    return 0;
}
}  // namespace

int32_t CTesselCamera::ControlWrite(uint16_t value, const uint8_t* buffer, int32_t length,
                                    uint8_t request, uint16_t index) {
    // The endpoint only reads from the buffer of an OUT transfer.
    return ControlTransfer(false, value, const_cast<uint8_t*>(buffer), length, request, index);
}

int32_t CTesselCamera::ControlRead(uint16_t value, uint8_t* buffer, int32_t length, uint8_t request,
                                   uint16_t index) {
    return ControlTransfer(true, value, buffer, length, request, index);
}

int32_t CTesselCamera::ControlTransfer(bool read, uint16_t value, uint8_t* buffer, int32_t length,
                                       uint8_t request, uint16_t index) {
    platform::ScopedLock lock(ControlLock);
    try {
        if (buffer == nullptr) {
            DebugTrace("Invalid input buffer.");
            return Fail(ERROR_UNINITIALIZED_BUFFER);
        }
        if (length < 1) {
            DebugTrace("Invalid input buffer size.");
            return Fail(ERROR_UNINITIALIZED_BUFFER);
        }
        size_t size = static_cast<size_t>(length);
        if (read ? !platform::IsWritable(buffer, size) : !platform::IsReadable(buffer, size)) {
            DebugTrace("Invalid input buffer.");
            return Fail(ERROR_UNINITIALIZED_BUFFER);
        }
        if (!UsbDevice) {
            DebugTrace("Invalid CCyUSBDevice pointer. Returning FALSE.");
            return Fail(INVALID_USB_DEVICE);
        }
        usb::CCyUSBControlEndpoint* endpoint = UsbDevice->ControlEndPt;
        if (endpoint == nullptr) {
            DebugTrace("Invalid USB endpoint handle. Returning FALSE.");
            return Fail(ERROR_USB_CONTROL_ENDPOINT);
        }
        endpoint->Target = 0;
        endpoint->ReqType = 2;
        endpoint->ReqCode = request;
        endpoint->Index = index;
        endpoint->Value = value;
        endpoint->TimeOut = static_cast<uint32_t>(ControlEndpointTimeout);
        DebugTrace(read ? "Control endpoint read from 0x%02x 0x%02x 0x%02x"
                        : "Control endpoint write to 0x%02x 0x%02x 0x%02x",
                   request, value, index);
        int32_t moved = length;
        if (read) {
            std::memset(buffer, 0, size);
            if (!endpoint->Read(buffer, moved)) {
                DebugTrace("Error reading from control endpoint.");
                return Fail(ERROR_CONTROL_ENDPOINT_READ);
            }
            if (moved != length) {
                DebugTrace("Error reading from control endpoint - invalid length.");
                return Fail(ERROR_CONTROL_ENDPOINT_READ);
            }
            return 1;
        }
        if (!endpoint->Write(buffer, moved)) {
            DebugTrace("Error writing to control endpoint.");
            return Fail(ERROR_CONTROL_ENDPOINT_WRITE);
        }
        platform::SleepMs(ControlWriteDelay);
        return 1;
    } catch (...) {
        DebugTrace("Unhandled exception using control endpoint.");
        return Fail(ERROR_USB_CONTROL_ENDPOINT);
    }
}

int32_t CTesselCamera::Reset(int32_t argument) {
    // A capture this reset aborts ends with its own result (-45), which is
    // what a thread waiting for that picture must read, whether the capture
    // or the reset finishes first.
    const bool captureBefore = CaptureRunning.load();
    AbortRequested.exchange(1);
    const uint8_t zero = 0;
    const bool sent = ControlWrite(argument ? vendor::kReset : vendor::kSoftReset, &zero, 1);
    // A reset camera sends no frame: a capture that triggered it before the
    // reset came would wait for one for ever.
    const bool captureAfter = CaptureRunning.load();
    if (captureBefore || captureAfter) AbortRunningCapture(kResetAbortLimitMs);
    if (!sent) {
        DebugTrace("Error sending reset command.");
        return 0;
    }
    if (!captureBefore && !captureAfter) LastStatus().Set(CAMERA_SUCCESS);
    return 1;
}

int32_t CTesselCamera::GetCameraStatus(uint8_t* buffer, int32_t length) {
    platform::ScopedLock lock(CaptureLock);
    uint8_t record[kBlockSize];
    if (!ControlRead(vendor::kStatus, record, kBlockSize)) {
        DebugTrace("Error reading LD_GetCameraStatus data.");
        return 0;
    }
    if (buffer == nullptr) {
        DebugTrace("Error: invalid pointer passed to CTesselCamera::LD_GetCameraStatus.");
        return Fail(CAMERA_INVALID_VALUE);
    }
    int32_t count = std::min(length, kStatusCopyLimit);
    if (count < 0 || !platform::IsWritable(buffer, static_cast<size_t>(count))) {
        DebugTrace("Error: invalid pointer passed to CTesselCamera::LD_GetCameraStatus.");
        return Fail(ERROR_UNINITIALIZED_BUFFER);
    }
    std::memcpy(buffer, record, static_cast<size_t>(count));
    return 1;
}

int32_t CTesselCamera::ReadCameraState(uint8_t* record, uint8_t& state) {
    if (record == nullptr) {
        DebugTrace("Invalid data in the input buffer.");
        return Fail(ERROR_UNINITIALIZED_BUFFER);
    }
    if (!ControlRead(vendor::kStatus, record, kBlockSize)) {
        DebugTrace("Error reading GetCameraState data.");
        return 0;
    }
    state = record[vendor::kStatusStateAt];
    DebugTrace("Current camera state = 0x%02x", state);
    return 1;
}

namespace {
// A request text as a number: decimal first; where the text holds "0x" (for
// the request code also "0X"), its hexadecimal value instead.
bool RequestNumber(const char* text, bool anyCasePrefix, int32_t& number) {
    std::string searched = text ? text : "";
    if (anyCasePrefix) searched = LowerCase(searched);
    number = DecimalValue(text);
    if (searched.find("0x") == std::string::npos) return true;
    if (HexToDecimal(text, number)) return true;
    DebugTrace("Error with HexToDecimal.");
    return false;
}
}  // namespace

int32_t CTesselCamera::WriteVendorRequest(const char* request, const char* value, const char* index,
                                          uint8_t* buffer, int32_t length) {
    return VendorRequest(false, request, value, index, buffer, length);
}

int32_t CTesselCamera::ReadVendorRequest(const char* request, const char* value, const char* index,
                                         uint8_t* buffer, int32_t length) {
    return VendorRequest(true, request, value, index, buffer, length);
}

int32_t CTesselCamera::VendorRequest(bool read, const char* request, const char* value,
                                     const char* index, uint8_t* buffer, int32_t length) {
    if (!Initialized) return 0;
    if (SimulationMode) return 1;
    try {
        int32_t requestCode = 0, valueNumber = 0, indexNumber = 0;
        if (!RequestNumber(request, true, requestCode) ||
            !RequestNumber(value, false, valueNumber) || !RequestNumber(index, false, indexNumber))
            return 0;
        uint8_t code = static_cast<uint8_t>(requestCode);
        uint16_t wValue = static_cast<uint16_t>(valueNumber);
        uint16_t wIndex = static_cast<uint16_t>(indexNumber);
        if (read ? !ControlRead(wValue, buffer, length, code, wIndex)
                 : !ControlWrite(wValue, buffer, length, code, wIndex)) {
            DebugTrace(read ? "Error reading vendor request." : "Error writing vendor request.");
            return 0;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}
