// The flat C interface: each export is a thin wrapper around one operation of
// the one camera. No exception may leave the library, so every wrapper runs
// its operation inside a guard that turns one into a failure result.

#include <mutex>

#include "Vela2UsbCameraDll.h"
#include "api/CTesselCameraDllApp.h"
#include "api/StatusNames.h"
#include "api/VersionReport.h"
#include "camera/ProcessObjects.h"
#include "platform/Memory.h"

namespace {

// The common frame: the library's own module state (a no-op outside the
// framework that needs one; naming the application object keeps it linked
// in wherever an export is), the camera, and the guard.
template <typename Result, typename Operation>
Result Call(Result onException, Operation operation) noexcept {
    (void)TheApp();
    try {
        return operation(TheCamera());
    } catch (...) {
        return onException;
    }
}

template <typename Operation>
void CallVoid(Operation operation) noexcept {
    (void)TheApp();
    try {
        operation(TheCamera());
    } catch (...) {
    }
}

// Operations that use the device, or what initialization builds, run inside
// the camera's gate: a Close or an initialization on another thread waits
// for them, and they never meet a device being freed or rebuilt.
template <typename Result, typename Operation>
Result Inside(Result onException, Operation operation) noexcept {
    return Call<Result>(onException, [&](CTesselCamera& camera) {
        CameraGate::Shared inside(camera.Gate);
        return operation(camera);
    });
}

template <typename Operation>
void InsideVoid(Operation operation) noexcept {
    CallVoid([&](CTesselCamera& camera) {
        CameraGate::Shared inside(camera.Gate);
        operation(camera);
    });
}

// The block image is read and changed by one operation at a time: several
// of them copy into it and send what they copied.
template <typename Result, typename Operation>
Result WithBlocks(Result onException, Operation operation) noexcept {
    return Inside<Result>(onException, [&](CTesselCamera& camera) {
        std::lock_guard<std::mutex> blocks(camera.BlockImageLock);
        return operation(camera);
    });
}

// Hardening: a destination the caller cannot write is refused as a null one
// is, instead of ending the host process.
template <typename T>
bool Unwritable(T* destination) {
    return destination != nullptr && !platform::IsWritable(destination, sizeof(T));
}

// Temperature and current readings answer a null destination with their own
// status; an unwritable one gets the same.
double* WritableOrNull(double* destination) {
    return Unwritable(destination) ? nullptr : destination;
}

// Getters with a destination store before they test, so the caller receives
// -1 together with -3.
int32_t StoreChecked(int32_t* destination, int32_t value) {
    if (destination == nullptr || Unwritable(destination)) return CAMERA_FAILURE;
    *destination = value;
    return value < 0 ? CAMERA_INVALID_VALUE : CAMERA_SUCCESS;
}

}  // namespace

extern "C" {

int32_t VELA2_CALL IsInitialized(void) {
    return Inside<int32_t>(0, [](CTesselCamera& camera) { return camera.IsInitialized(); });
}

int32_t VELA2_CALL LD_IsInitialized(void) { return IsInitialized(); }

void VELA2_CALL Close(void) {
    CallVoid([](CTesselCamera& camera) { camera.Close(1); });
}

int32_t VELA2_CALL LD_GetStatus(void) {
    return Call<int32_t>(CAMERA_FAILURE, [](CTesselCamera&) { return LastStatus().Get(); });
}

void VELA2_CALL LD_GetError(int32_t code, char* text) {
    CallVoid([&](CTesselCamera&) { CopyStatusName(Process().StatusNames, code, text); });
}

int32_t VELA2_CALL LD_SetTimeout(uint32_t timeMs) {
    return Inside<int32_t>(CAMERA_FAILURE, [&](CTesselCamera& camera) {
        camera.SetTimeout(timeMs);
        return CAMERA_SUCCESS;
    });
}

int32_t VELA2_CALL LD_GetTimeout(uint32_t* timeMs) {
    return Inside<int32_t>(CAMERA_FAILURE, [&](CTesselCamera& camera) {
        return Unwritable(timeMs) ? VELA2_INVALID_PARAMETER : camera.GetTimeout(timeMs);
    });
}

int32_t VELA2_CALL LD_GetQuadrantWidth(int32_t* width) {
    return Inside<int32_t>(CAMERA_FAILURE, [&](CTesselCamera& camera) {
        return StoreChecked(width, camera.GetActiveWidth());
    });
}

int32_t VELA2_CALL LD_GetQuadrantHeight(int32_t* height) {
    return Inside<int32_t>(CAMERA_FAILURE, [&](CTesselCamera& camera) {
        return StoreChecked(height, camera.GetActiveHeight());
    });
}

int32_t VELA2_CALL LD_GetOverscanWidth(int32_t* width) {
    return Inside<int32_t>(CAMERA_FAILURE, [&](CTesselCamera& camera) {
        return StoreChecked(width, camera.GetOverscanWidth());
    });
}

int32_t VELA2_CALL LD_GetOverscanHeight(int32_t* height) {
    return Inside<int32_t>(CAMERA_FAILURE, [&](CTesselCamera& camera) {
        return StoreChecked(height, camera.GetOverscanHeight());
    });
}

int32_t VELA2_CALL LD_GetEpalQuadrantWidth(int32_t* width) {
    return Inside<int32_t>(CAMERA_FAILURE, [&](CTesselCamera& camera) {
        return StoreChecked(width, camera.GetEpalQuadrantWidth());
    });
}

int32_t VELA2_CALL LD_GetEpalQuadrantHeight(int32_t* height) {
    return Inside<int32_t>(CAMERA_FAILURE, [&](CTesselCamera& camera) {
        return StoreChecked(height, camera.GetEpalQuadrantHeight());
    });
}

int32_t VELA2_CALL LD_GetActiveWidth(void) {
    return Inside<int32_t>(0, [](CTesselCamera& camera) { return camera.GetActiveWidth(); });
}

int32_t VELA2_CALL LD_GetActiveHeight(void) {
    return Inside<int32_t>(0, [](CTesselCamera& camera) { return camera.GetActiveHeight(); });
}

int32_t VELA2_CALL LD_GetRawImageWidth(void) {
    return Inside<int32_t>(0, [](CTesselCamera& camera) { return camera.GetRawImageWidth(); });
}

int32_t VELA2_CALL LD_GetRawImageHeight(void) {
    return Inside<int32_t>(0, [](CTesselCamera& camera) { return camera.GetRawImageHeight(); });
}

int32_t VELA2_CALL GetWidth(void) {
    return Inside<int32_t>(CTesselCamera::kNoGeometry,
                           [](CTesselCamera& camera) { return camera.GetWidth(); });
}

int32_t VELA2_CALL GetHeight(void) {
    return Inside<int32_t>(CTesselCamera::kNoGeometry,
                           [](CTesselCamera& camera) { return camera.GetHeight(); });
}

int32_t VELA2_CALL GetNumberOfQuadrants(void) {
    return Inside<int32_t>(0, [](CTesselCamera& camera) { return camera.GetNumberOfQuadrants(); });
}

int32_t VELA2_CALL LD_GetReadoutTime(void) {
    return Inside<int32_t>(0, [](CTesselCamera& camera) { return camera.GetReadoutTime(); });
}

intptr_t VELA2_CALL GetDeviceHandle(void) {
    return Inside<intptr_t>(-1, [](CTesselCamera& camera) { return camera.GetDeviceHandle(); });
}

const char* VELA2_CALL GetHardwareRegistryLocation(void) {
    return Inside<const char*>(
        "", [](CTesselCamera&) { return Process().HardwareRegistryLocation.c_str(); });
}

void VELA2_CALL SetCameraState(uint8_t mask) {
    InsideVoid([&](CTesselCamera& camera) { camera.SetDesiredCameraState(mask); });
}

uint8_t VELA2_CALL GetCameraState(void) {
    return Inside<uint8_t>(0, [](CTesselCamera& camera) { return camera.GetDesiredCameraState(); });
}

void VELA2_CALL SetSoftwareTrigger(int32_t flag) {
    InsideVoid([&](CTesselCamera& camera) { camera.SetSoftwareTrigger(flag); });
}

void VELA2_CALL SetHardwareTrigger(int32_t flag) {
    InsideVoid([&](CTesselCamera& camera) { camera.SetSoftwareTrigger(flag == 0 ? 1 : 0); });
}

int32_t VELA2_CALL LD_SetEnableSoftwareTrigger(uint32_t flag) {
    return Inside<int32_t>(CAMERA_FAILURE, [&](CTesselCamera& camera) {
        camera.SetSoftwareTrigger(static_cast<int32_t>(flag));
        return CAMERA_SUCCESS;
    });
}

int32_t VELA2_CALL LD_GetEnableSoftwareTrigger(void) {
    return Inside<int32_t>(0, [](CTesselCamera& camera) { return camera.SoftwareTrigger.load(); });
}

int32_t VELA2_CALL LD_SetSimulationMode(int32_t flag) {
    return Inside<int32_t>(CAMERA_FAILURE,
                           [&](CTesselCamera& camera) { return camera.SetSimulationMode(flag); });
}

int32_t VELA2_CALL LD_GetSimulationMode(int32_t* flag) {
    return Inside<int32_t>(CAMERA_FAILURE, [&](CTesselCamera& camera) {
        return Unwritable(flag) ? int32_t{CAMERA_FAILURE} : camera.GetSimulationMode(flag);
    });
}

void VELA2_CALL LD_SetRawImageFilename(const char* path) {
    InsideVoid([&](CTesselCamera& camera) { camera.SetRawImageFilename(path); });
}

int32_t VELA2_CALL LD_SetCreateRawImageFile(int32_t flag) {
    return Inside<int32_t>(
        CAMERA_FAILURE, [&](CTesselCamera& camera) { return camera.SetCreateRawImageFile(flag); });
}

int32_t VELA2_CALL LD_Reset(int32_t kind) {
    return Inside<int32_t>(0, [&](CTesselCamera& camera) { return camera.Reset(kind); });
}

int32_t VELA2_CALL LD_GetCameraStatus(uint8_t* buffer, int32_t length) {
    return Inside<int32_t>(
        0, [&](CTesselCamera& camera) { return camera.GetCameraStatus(buffer, length); });
}

int32_t VELA2_CALL WriteVendorRequest(const char* request, const char* value, const char* index,
                                      uint8_t* buffer, int32_t length) {
    return Inside<int32_t>(0, [&](CTesselCamera& camera) {
        return camera.WriteVendorRequest(request, value, index, buffer, length);
    });
}

int32_t VELA2_CALL ReadVendorRequest(const char* request, const char* value, const char* index,
                                     uint8_t* buffer, int32_t length) {
    return Inside<int32_t>(0, [&](CTesselCamera& camera) {
        return camera.ReadVendorRequest(request, value, index, buffer, length);
    });
}

int32_t VELA2_CALL LD_GetTemperature(double* celsius) {
    return Inside<int32_t>(ERROR_TEMP_CONTROL_ENDPOINT_READ, [&](CTesselCamera& camera) {
        return camera.GetCcdTemperature(WritableOrNull(celsius));
    });
}

int32_t VELA2_CALL LD_GetHeatSinkTemperature(double* celsius) {
    return Inside<int32_t>(ERROR_TEMP_CONTROL_ENDPOINT_READ, [&](CTesselCamera& camera) {
        return camera.GetHeatSinkTemperature(WritableOrNull(celsius));
    });
}

// The cooler-current name has always answered with the heat-sink reading;
// applications rely on it, so it stays that way.
int32_t VELA2_CALL LD_GetTecCurrent(double* value) { return LD_GetHeatSinkTemperature(value); }

int32_t VELA2_CALL LD_GetTopTecCurrent(double* amperes) {
    return Inside<int32_t>(ERROR_TEMP_CONTROL_ENDPOINT_READ, [&](CTesselCamera& camera) {
        return camera.GetTopTecCurrent(WritableOrNull(amperes));
    });
}

int32_t VELA2_CALL LD_GetBottomTecCurrent(double* amperes) {
    return Inside<int32_t>(ERROR_TEMP_CONTROL_ENDPOINT_READ, [&](CTesselCamera& camera) {
        return camera.GetBottomTecCurrent(WritableOrNull(amperes));
    });
}

int32_t VELA2_CALL LD_SetTemperatureSetpoint(int32_t setpoint) {
    return WithBlocks<int32_t>(ERROR_TEMP_CONTROL_ENDPOINT_READ, [&](CTesselCamera& camera) {
        return camera.SetTemperatureSetpoint(setpoint);
    });
}

int32_t VELA2_CALL LD_UpdateTempVolts(uint8_t* buffer, int32_t length) {
    return Inside<int32_t>(
        0, [&](CTesselCamera& camera) { return camera.UpdateTemperature(buffer, length); });
}

int32_t VELA2_CALL WriteFpga(const uint8_t* data, int32_t size, int32_t alternative) {
    return WithBlocks<int32_t>(
        0, [&](CTesselCamera& camera) { return camera.WriteFpga(data, size, alternative); });
}

int32_t VELA2_CALL WriteClockVoltages(const uint8_t* data, int32_t size) {
    return WithBlocks<int32_t>(
        0, [&](CTesselCamera& camera) { return camera.WriteClockVoltages(data, size); });
}

int32_t VELA2_CALL WriteOffsets(const uint8_t* data, int32_t size) {
    return WithBlocks<int32_t>(
        0, [&](CTesselCamera& camera) { return camera.WriteOffsets(data, size); });
}

int32_t VELA2_CALL WriteCalibration(const uint8_t* data, int32_t size) {
    return WithBlocks<int32_t>(
        0, [&](CTesselCamera& camera) { return camera.WriteCalibration(data, size); });
}

int32_t VELA2_CALL WriteProductInfo(const uint8_t* data, int32_t size) {
    return WithBlocks<int32_t>(
        0, [&](CTesselCamera& camera) { return camera.WriteProductInfo(data, size); });
}

int32_t VELA2_CALL ReadFpga(uint8_t* buffer, int32_t size, int32_t alternative) {
    return WithBlocks<int32_t>(
        0, [&](CTesselCamera& camera) { return camera.ReadFpga(buffer, size, alternative); });
}

int32_t VELA2_CALL ReadClockVoltages(uint8_t* buffer, int32_t size) {
    return WithBlocks<int32_t>(
        0, [&](CTesselCamera& camera) { return camera.ReadClockVoltages(buffer, size); });
}

int32_t VELA2_CALL ReadOffsets(uint8_t* buffer, int32_t size) {
    return WithBlocks<int32_t>(
        0, [&](CTesselCamera& camera) { return camera.ReadOffsets(buffer, size); });
}

int32_t VELA2_CALL ReadCalibration(uint8_t* buffer, int32_t size) {
    return WithBlocks<int32_t>(
        0, [&](CTesselCamera& camera) { return camera.ReadCalibration(buffer, size); });
}

int32_t VELA2_CALL ReadProductInfo(uint8_t* buffer, int32_t size) {
    return WithBlocks<int32_t>(
        0, [&](CTesselCamera& camera) { return camera.ReadProductInfo(buffer, size); });
}

int32_t VELA2_CALL Upload(const uint8_t* data, int32_t size) {
    return WithBlocks<int32_t>(0, [&](CTesselCamera& camera) { return camera.Upload(data, size); });
}

int32_t VELA2_CALL Download(uint8_t* buffer, int32_t size) {
    return WithBlocks<int32_t>(
        0, [&](CTesselCamera& camera) { return camera.Download(buffer, size); });
}

int32_t VELA2_CALL LD_GetExposureTime(uint32_t* exposure, uint32_t* length, uint32_t* start) {
    return WithBlocks<int32_t>(CAMERA_FAILURE, [&](CTesselCamera& camera) {
        if (Unwritable(exposure) || Unwritable(length) || Unwritable(start))
            return int32_t{CAMERA_FAILURE};
        return camera.GetExposureTime(exposure, length, start);
    });
}

int32_t VELA2_CALL LD_SetExposureTime(uint32_t exposure, uint32_t length, uint32_t start) {
    return WithBlocks<int32_t>(CAMERA_FAILURE, [&](CTesselCamera& camera) {
        return camera.SetExposureTime(exposure, length, start);
    });
}

int32_t VELA2_CALL LD_SetTestPatternMode(uint32_t mode) {
    return WithBlocks<int32_t>(
        CAMERA_FAILURE, [&](CTesselCamera& camera) { return camera.SetTestPatternMode(mode); });
}

int32_t VELA2_CALL LD_GetTestPatternMode(uint32_t* mode) {
    return WithBlocks<int32_t>(CAMERA_FAILURE, [&](CTesselCamera& camera) {
        return Unwritable(mode) ? int32_t{CAMERA_FAILURE} : camera.GetTestPatternMode(mode);
    });
}

int32_t VELA2_CALL LD_GetCameraType(uint32_t* type) {
    return WithBlocks<int32_t>(CAMERA_FAILURE, [&](CTesselCamera& camera) {
        return Unwritable(type) ? int32_t{CAMERA_FAILURE} : camera.GetCameraType(type);
    });
}

int32_t VELA2_CALL LD_Initialize(int32_t mode, uint32_t unused, const char* modeFile,
                                 int32_t registry) {
    (void)unused;
    return Call<int32_t>(ERROR_CAMERA_NOT_INITIALIZED, [&](CTesselCamera& camera) {
        return camera.InitializeForMode(mode, modeFile, registry);
    });
}

int32_t VELA2_CALL LD_InitializeWithStatus(int32_t mode, uint32_t unused, const char* modeFile,
                                           uint32_t ignored, int32_t registry) {
    (void)ignored;
    return LD_Initialize(mode, unused, modeFile, registry);
}

int32_t VELA2_CALL LD_StartPicture(uint16_t* image1, uint16_t* image2, uint16_t* image3,
                                   uint16_t* image4, int32_t width, int32_t height,
                                   uint16_t* overscan1, uint16_t* overscan2, uint16_t* overscan3,
                                   uint16_t* overscan4, int32_t overscanWidth,
                                   int32_t overscanHeight) {
    return Call<int32_t>(CAMERA_FAILURE, [&](CTesselCamera& camera) {
        LastStatus().Set(CAMERA_BUSY);
        uint16_t* images[4] = {image1, image2, image3, image4};
        uint16_t* overscans[4] = {overscan1, overscan2, overscan3, overscan4};
        return camera.StartPicture(images, width, height, overscans, overscanWidth, overscanHeight);
    });
}

int32_t VELA2_CALL LD_Capture(uint16_t* rawBuffer) {
    return Call<int32_t>(CAMERA_FAILURE,
                         [&](CTesselCamera& camera) { return camera.Capture(rawBuffer); });
}

int32_t VELA2_CALL LD_WaitForCapture(uint32_t timeMs) {
    return Call<int32_t>(ERROR_RECONSTRUCTION_WAIT_FAILED,
                         [&](CTesselCamera& camera) { return camera.WaitForCapture(timeMs); });
}

int32_t VELA2_CALL LD_IsCaptureComplete(void) {
    return Call<int32_t>(ERROR_RECONSTRUCTION_WAIT_FAILED,
                         [](CTesselCamera& camera) { return camera.IsCaptureComplete(); });
}

int32_t VELA2_CALL LD_GetVersion(char* buffer, int32_t size) {
    return WithBlocks<int32_t>(ERROR_CAMERA_VERSION_INFO, [&](CTesselCamera& camera) {
        return GetVersionReport(camera, buffer, size);
    });
}

// Names that share one entry point. On Windows the module-definition file
// exports the one entry point under each name.
#ifndef _WIN32
int32_t VELA2_CALL LD_GetCameraTemperature(double*) __attribute__((alias("LD_GetTemperature")));
int32_t VELA2_CALL LD_GetCcdTemperature(double*) __attribute__((alias("LD_GetTemperature")));
int32_t VELA2_CALL LD_UpdateTemperature(uint8_t*, int32_t)
    __attribute__((alias("LD_UpdateTempVolts")));
#endif

}  // extern "C"
