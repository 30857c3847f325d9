#include "camera/CTesselCamera.h"

#include <algorithm>
#include <cstdint>

#include "Vela2UsbCameraStatus.h"
#include "camera/ProcessObjects.h"
#include "platform/Clock.h"
#include "reconstruction/CReconstructionController.h"
#include "settings/CRegistryPropertyReader.h"
#include "usb/CCyUSBDevice.h"

CTesselCamera::CTesselCamera() : SettingsReader(std::make_unique<CRegistryPropertyReader>()) {}

CTesselCamera::~CTesselCamera() = default;

void CTesselCamera::FillBinningTables() {
    PrescanColumnsByBinning = {{1, 18}, {2, 9}, {4, 5}, {8, 2}};
    PrescanRowsByBinning = {{1, 16}, {2, 3}, {4, 2}, {8, 2}};
    FixedPrescanColumnsByBinning = {{1, 3}, {2, 3}, {4, 2}, {8, 4}};
}

void CTesselCamera::Close(int32_t) {
    LifecycleCall pending(LifecycleCallsPending);
    std::lock_guard<std::mutex> lifecycle(LifecycleLock);
    LastStatus().Set(ERROR_CAMERA_NOT_INITIALIZED);
    Initialized = 0;
    // The workers stop before the device goes, and without the gate: a
    // capture holds it until its aborted transfer returns.
    AbortCapture();
    ProcessObjects& process = Process();
    process.Capture.StopThreads();
    reconstruction::CReconstructionController::Instance().Release();
    CameraGate::Exclusive alone(Gate);
    {
        platform::ScopedLock capture(CaptureLock);
        if (UsbDevice) {
            try {
                UsbDevice->Close();
            } catch (...) {
                // Released all the same; nothing more to do about a refusing system.
            }
            UsbDevice.reset();
        }
    }
    // A capture that was stopped above has left its own result.
    LastStatus().Set(ERROR_CAMERA_NOT_INITIALIZED);
    if (UseNotificationWindow && process.NotificationWindow &&
        process.NotificationWindow->IsAlive()) {
        process.NotificationWindow->PostClose();
        // Forgotten at once, so that a bring-up before the close is handled
        // makes a window of its own instead of taking over the closing one.
        // Not destroyed here: this may run inside that window's procedure.
        try {
            process.ClosingNotificationWindows.push_back(std::move(process.NotificationWindow));
        } catch (...) {
            // Out of memory: the object stays the process's and is used again
            // once its window is gone.
        }
    }
}

void CTesselCamera::AbortRunningCapture(uint32_t limitMs) {
    AbortRequested.store(1);
    for (uint32_t waited = 0; waited < limitMs && CaptureRunning.load(); ++waited) {
        // Set again: a capture that started after the first clears it.
        AbortRequested.store(1);
        AbortBulkTransfer();
        platform::SleepMs(1);
    }
}

void CTesselCamera::AbortCapture() {
    // Long enough for any capture that can be aborted to end: one that
    // cannot (reconstructing a frame) is waited for by the gate.
    constexpr uint32_t kLimitMs = 2000;
    CameraGate::Shared inside(Gate);
    AbortRunningCapture(kLimitMs);
}

void CTesselCamera::AbortBulkTransfer() {
    usb::CCyUSBDevice* device = UsbDevice.get();
    if (device == nullptr || device->EndPoints == nullptr || BulkInEndpointIndex < 0 ||
        BulkInEndpointIndex >= device->EndpointCount())
        return;
    if (usb::CCyUSBEndpoint* endpoint = device->EndPoints[BulkInEndpointIndex]) endpoint->Abort();
}

bool CTesselCamera::HasOpenDevice() const { return UsbDevice != nullptr; }

int32_t CTesselCamera::IsInitialized() {
    if (Initialized != 1 || !HasOpenDevice()) return 0;
    if (!UseNotificationWindow) return 1;
    const auto& window = Process().NotificationWindow;
    return window && window->IsAlive() ? 1 : 0;
}

intptr_t CTesselCamera::GetDeviceHandle() {
    if (!Initialized || SimulationMode || !UsbDevice) return kInvalidHandle;
    return static_cast<intptr_t>(UsbDevice->GetDeviceHandle());
}

int32_t CTesselCamera::GetWidth() { return Initialized ? RawQuadrantWidth : kNoGeometry; }

int32_t CTesselCamera::GetHeight() { return Initialized ? RawQuadrantHeight : kNoGeometry; }

// Saturates: a wrapped sum would turn "wait for ever" into a few
// milliseconds.
uint32_t CTesselCamera::SetTimeout(uint32_t timeMs) {
    const int64_t margin = SoftwareTrigger ? SoftwareTriggerMargin : HardwareTriggerMargin;
    const int64_t sum = std::max<int64_t>(0, int64_t{timeMs} + margin);
    Timeout = static_cast<uint32_t>(std::min<int64_t>(sum, UINT32_MAX));
    return Timeout;
}

int32_t CTesselCamera::GetOverscanWidth() const {
    return Initialized ? Process().OverscanColumns : kNoGeometry;
}

int32_t CTesselCamera::GetOverscanHeight() const {
    return Initialized ? Process().OverscanRows : kNoGeometry;
}

int32_t CTesselCamera::SetSimulationMode(int32_t flag) {
    SimulationMode = flag;
    return 0;
}

int32_t CTesselCamera::GetSimulationMode(int32_t* flag) const {
    if (flag != nullptr) *flag = SimulationMode;  // a null destination is ignored, not a crash
    return 0;
}

void CTesselCamera::SetRawImageFilename(const char* path) {
    std::string name = path ? path : "";
    std::lock_guard<std::mutex> lock(RawImageFilenameLock);
    RawImageFilename.swap(name);
}

std::string CTesselCamera::RawImageFile() const {
    std::lock_guard<std::mutex> lock(RawImageFilenameLock);
    return RawImageFilename;
}

int32_t CTesselCamera::SetCreateRawImageFile(int32_t flag) {
    CreateRawImageFile = flag;
    return 0;
}

int32_t CTesselCamera::GetTimeout(uint32_t* timeMs) const {
    if (timeMs == nullptr) return VELA2_INVALID_PARAMETER;
    *timeMs = Timeout;
    return 0;
}
