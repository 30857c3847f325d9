// The capture pipeline: requests from the application's threads, and the
// capture thread that triggers the camera, waits for the wanted state, reads
// the frame in one bulk transfer and reconstructs it.

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "Vela2UsbCameraStatus.h"
#include "arrays/CArrayBase.h"
#include "camera/CTesselCamera.h"
#include "camera/DesiredState.h"
#include "camera/ProcessObjects.h"
#include "platform/Clock.h"
#include "platform/DebugTrace.h"
#include "platform/Memory.h"
#include "platform/Priority.h"
#include "platform/SystemError.h"
#include "platform/Thread.h"
#include "reconstruction/EpalData.h"
#include "settings/CThreadPriority.h"
#include "usb/CCyUSBDevice.h"

using platform::DebugTrace;
using platform::Event;
using platform::WaitStatus;

namespace {
constexpr uint32_t kCompletionPolls = 1000;
constexpr uint32_t kCompletionPollMs = 60;
constexpr uint32_t kBulkTimeoutMs = 0xFFFFFFFEu;  // one below "no limit"

int64_t ElapsedMs(int64_t start, int64_t ticksPerMs) {
    return (platform::PerformanceCounter() - start) / ticksPerMs;
}

}  // namespace

// --- Requests, on the application's threads --------------------------------

int32_t CTesselCamera::WaitUntilArmed() {
    CaptureContext& capture = Process().Capture;
    // A Close that stops the workers before one took the request would
    // otherwise leave the caller waiting for ever.
    Event* armedOrDone[] = {&capture.WaitingForTriggerEvent, &capture.CaptureCompleteEvent,
                            &capture.WorkersStoppedEvent};
    platform::WaitAnyResult result = platform::WaitForAny(armedOrDone, 3, platform::kInfinite);
    if (result.status != WaitStatus::Signaled) return CAMERA_FAILURE;
    switch (result.index) {
        case 0:
            return 0;
        case 1:
            return ERROR_TRIGGER_TIMEOUT;
        default:
            return ERROR_CAMERA_CAPTURE;
    }
}

int32_t CTesselCamera::StartPicture(uint16_t* images[4], int32_t width, int32_t height,
                                    uint16_t* overscans[4], int32_t overscanWidth,
                                    int32_t overscanHeight) {
    CaptureContext& capture = Process().Capture;
    // Sizes whose byte counts do not fit the capture's 32-bit arithmetic.
    const int64_t kLargest = INT32_MAX;
    if (width < 0 || height < 0 || overscanWidth < 0 || overscanHeight < 0 ||
        2 * int64_t{width} * height > kLargest ||
        2 * int64_t{overscanWidth} * overscanHeight > kLargest) {
        LastStatus().Set(ERROR_INCORRECT_IMAGE_BUFFER_SIZE);
        return ERROR_INCORRECT_IMAGE_BUFFER_SIZE;
    }
    capture.BlockMode = 0;
    capture.PictureMode = 1;
    if (!capture.IsCaptureThreadRunning()) return ERROR_CAMERA_CAPTURE;
    capture.WaitingForTriggerEvent.Reset();
    capture.CaptureCompleteEvent.Reset();
    SPictureRequest& request = capture.PictureRequest;
    for (int q = 0; q < 4; ++q) {
        request.Images[q] = images[q];
        request.Overscans[q] = overscans[q];
    }
    request.ImageWidth = width;
    request.ImageHeight = height;
    request.OverscanWidth = overscanWidth;
    request.OverscanHeight = overscanHeight;
    capture.PictureRequestEvent.Set();
    return WaitUntilArmed();
}

int32_t CTesselCamera::Capture(uint16_t* rawBuffer) {
    CaptureContext& capture = Process().Capture;
    capture.PictureMode = 0;
    capture.BlockMode = 0;
    if (!capture.IsCaptureThreadRunning()) return ERROR_CAMERA_CAPTURE;
    capture.WaitingForTriggerEvent.Reset();
    capture.CaptureCompleteEvent.Reset();
    capture.RawCaptureBuffer = rawBuffer;
    capture.CaptureRequestEvent.Set();
    int32_t result = WaitUntilArmed();
    capture.WaitingForTriggerEvent.Reset();
    return result;
}

int32_t CTesselCamera::IsCaptureComplete() {
    switch (Process().Capture.CaptureCompleteEvent.Wait(0)) {
        case WaitStatus::Signaled:
            return RECONSTRUCTION_COMPLETED;
        case WaitStatus::Timeout:
            return RECONSTRUCTION_IN_PROGRESS;
        default:
            return ERROR_RECONSTRUCTION_WAIT_FAILED;
    }
}

int32_t CTesselCamera::WaitForCapture(uint32_t timeMs) {
    Process().Capture.CaptureCompleteEvent.Wait(std::max(timeMs, Timeout.load()));
    int32_t status = IsCaptureComplete();
    for (uint32_t poll = 0; status != RECONSTRUCTION_COMPLETED && poll < kCompletionPolls; ++poll) {
        platform::SleepMs(kCompletionPollMs);
        status = IsCaptureComplete();
    }
    return status;
}

// --- Worker threads ----------------------------------------------------------

int32_t CTesselCamera::StartWorkerThreads() {
    return Process().Capture.StartThreads([this] { return CaptureThreadBody(); },
                                          [this] { return NotificationThreadBody(); });
}

uint32_t CTesselCamera::CaptureThreadBody() {
    platform::NameCurrentThread("vela2 capture");
    CaptureContext& capture = Process().Capture;
    Event* work[] = {&capture.CaptureStopEvent, &capture.CaptureRequestEvent,
                     &capture.PictureRequestEvent};
    for (;;) {
        platform::WaitAnyResult woken = platform::WaitForAny(work, 3, platform::kInfinite);
        if (woken.status != WaitStatus::Signaled) {
            DebugTrace("%s", platform::SystemErrorText(platform::LastSystemError()).c_str());
            return 1;
        }
        if (woken.index == 0) {
            capture.CaptureStoppedEvent.Set();
            return 0;
        }
        RunCapture();
        capture.CaptureCompleteEvent.Set();
    }
}

uint32_t CTesselCamera::NotificationThreadBody() {
    platform::NameCurrentThread("vela2 notify");
    // Block-wise reading, which would feed this thread, has no entry point;
    // the thread only waits to be stopped.
    CaptureContext& capture = Process().Capture;
    Event* work[] = {&capture.NotificationStopEvent, &capture.BlockReadyEvent};
    for (;;) {
        platform::WaitAnyResult woken = platform::WaitForAny(work, 2, platform::kInfinite);
        if (woken.status != WaitStatus::Signaled) {
            DebugTrace("%s", platform::SystemErrorText(platform::LastSystemError()).c_str());
            return 1;
        }
        if (woken.index == 0) {
            capture.NotificationStoppedEvent.Set();
            return 0;
        }
    }
}

// --- The capture body, on the capture thread --------------------------------

int32_t CTesselCamera::RunCapture() {
    CameraGate::Shared inside(Gate);
    {
        std::lock_guard<std::mutex> blocks(BlockImageLock);
        CaptureBlockImage = EpalData;
    }
    platform::ScopedLock lock(CaptureLock);
    CaptureRunning = true;
    LastStatus().Set(CAMERA_BUSY);
    int32_t result = CAMERA_FAILURE;
    try {
        // Seen here or by the lifecycle call's abort, whichever comes last.
        result = LifecycleCallsPending.load() > 0 ? ERROR_CAMERA_NOT_INITIALIZED : CaptureFrame();
    } catch (const std::bad_alloc&) {
        DebugTrace("Out of memory during the capture.");
        result = ERROR_INCORRECT_IMAGE_BUFFER_SIZE;
    } catch (...) {
        // Leaving the capture thread would end the host process.
        DebugTrace("Unhandled exception during the capture.");
    }
    LastStatus().Set(result);
    CaptureRunning = false;
    return result == 0 ? 1 : 0;
}

int32_t CTesselCamera::CaptureFrame() {
    if (!Initialized) return ERROR_CAMERA_NOT_INITIALIZED;
    CThreadPriority priorities(ThreadPriority, platform::CurrentThreadPseudoHandle(), PriorityClass,
                               "capture");
    int64_t frequency = 0;
    if (!platform::PerformanceFrequency(frequency) || frequency < 1000) return CAMERA_INVALID_VALUE;
    const int64_t ticksPerMs = frequency / 1000;

    CaptureContext& capture = Process().Capture;
    const int32_t transferBytes = ComputeTransferSize();
    const int32_t rawBytes = 2 * NumberOfQuadrants * RawQuadrantWidth * RawQuadrantHeight;
    // StartPicture refused sizes whose byte counts overflow.
    const int32_t pictureBytes = static_cast<int32_t>(
        2 * int64_t{capture.PictureRequest.ImageWidth} * capture.PictureRequest.ImageHeight);

    const std::string rawImageFile = RawImageFile();
    if (SimulationMode) {
        if (rawImageFile.empty()) return 0;  // never armed: the request answers -50
        arrays::CArrayBase frame;
        try {
            frame.OpenImageFile(rawImageFile);
        } catch (...) {
            return 0;
        }
        capture.WaitingForTriggerEvent.Set();
        // A file smaller than the mode's frame has nothing to reconstruct.
        if (capture.PictureMode && frame.Size() < rawBytes) return ERROR_UNINITIALIZED_BUFFER;
        return FinishCapture(frame.Pixels(), pictureBytes);
    }

    AbortRequested.exchange(0);
    int32_t idle = WaitForIdle(ticksPerMs);
    if (idle != 0) return idle;

    uint16_t* destination = capture.RawCaptureBuffer;
    if (capture.PictureMode) {
        size_t pixels = (static_cast<size_t>(transferBytes) + 1) / 2;
        if (capture.FrameBuffer.size() < pixels) capture.FrameBuffer.resize(pixels);
        destination = capture.FrameBuffer.data();
    }
    if (destination == nullptr || transferBytes < 0 ||
        !platform::IsWritable(destination, static_cast<size_t>(transferBytes)))
        return ERROR_INCORRECT_IMAGE_BUFFER_SIZE;

    try {
        if (!UsbDevice) {
            DebugTrace("Invalid CCyUSBDevice pointer.");
            return INVALID_USB_DEVICE;
        }
        if (BulkInEndpointIndex < 0 || BulkInEndpointIndex >= UsbDevice->EndpointCount() ||
            UsbDevice->EndPoints == nullptr) {
            DebugTrace("Invalid bulk-in endpoint index.");
            return INVALID_USB_DEVICE;
        }
        usb::CCyUSBEndpoint* endpoint = UsbDevice->EndPoints[BulkInEndpointIndex];
        if (endpoint == nullptr) {
            DebugTrace("Invalid CCyUSBEndpoint pointer.");
            return INVALID_USB_DEVICE;
        }
        endpoint->TimeOut = kBulkTimeoutMs;
        DebugTrace("Bulk endpoint timeout: %d", static_cast<int32_t>(endpoint->TimeOut));
        DebugTrace("Bulk endpoint packet size: %d", endpoint->MaxPktSize);
        DebugTrace("Bulk endpoint internal buffer size: %u", endpoint->GetBufferSize());

        int32_t armed = TriggerAndWaitForState(ticksPerMs);
        if (armed != 0) return armed;

        DebugTrace("Reading data from camera.");
        int32_t length = transferBytes;
        if (!endpoint->Transfer(reinterpret_cast<uint8_t*>(destination), length) ||
            endpoint->UsbStatus != 0) {
            DebugTrace("Error reading BULK IN endpoint: USB status = %d",
                       static_cast<int32_t>(endpoint->UsbStatus));
            return ERROR_BULK_READ;
        }
    } catch (...) {
        DebugTrace("Unhandled exception using Bulk IN endpoint.");
        return ERROR_CAPTURE_BULK_ENDPOINT;
    }

    if (CreateRawImageFile) {
        DebugTrace("Saving raw image to file %s.", rawImageFile.c_str());
        try {
            arrays::CArrayBase frame(RawQuadrantHeight, NumberOfQuadrants * RawQuadrantWidth, 0);
            if (frame.Pixels() == nullptr) return ERROR_INCORRECT_IMAGE_BUFFER_SIZE;
            std::memcpy(frame.Pixels(), destination,
                        static_cast<size_t>(std::min(transferBytes, frame.Size())));
            if (!rawImageFile.empty()) frame.SaveImageFile(rawImageFile);
        } catch (...) {
            return CAMERA_FILE_ERROR;
        }
    }
    return FinishCapture(destination, pictureBytes);
}

int32_t CTesselCamera::WaitForIdle(int64_t ticksPerMs) {
    const int64_t start = platform::PerformanceCounter();
    uint8_t state = 0;
    if (!ReadCameraState(StateBuffer.data(), state)) return ERROR_GET_CAMERA_STATE;
    if (state & (vendor::kIdle | vendor::kWaitForTrigger)) return 0;
    while (!(state & vendor::kIdle)) {
        // A Close waits only two seconds for the capture thread to stop:
        // the idle wait, up to ten, must end on the abort too.
        if (AbortRequested.load()) return ERROR_CAPTURE_ABORTED;
        if (ElapsedMs(start, ticksPerMs) > static_cast<int64_t>(IdleStateTimeoutMs))
            return IDLE_STATE_TIMEOUT;
        if (!ReadCameraState(StateBuffer.data(), state)) return ERROR_GET_CAMERA_STATE;
    }
    return 0;
}

int32_t CTesselCamera::TriggerAndWaitForState(int64_t ticksPerMs) {
    const uint8_t zero = 0;
    if (SoftwareTrigger) {
        DebugTrace("Sending SOFTWARE trigger command = 0x%04X", vendor::kSoftwareTrigger);
        if (!ControlWrite(vendor::kSoftwareTrigger, &zero, 1)) {
            DebugTrace("Error sending software trigger command.");
            return ERROR_SETTING_TRIGGER;
        }
        Timeout = static_cast<uint32_t>(ExposureTime + SoftwareTriggerMargin);
    } else {
        DebugTrace("Sending HARDWARE trigger (Scan) command = 0x%04X", vendor::kHardwareTrigger);
        if (!ControlWrite(vendor::kHardwareTrigger, &zero, 1)) {
            DebugTrace("Error sending hardware trigger command.");
            return ERROR_SETTING_TRIGGER;
        }
    }
    const int64_t triggered = platform::PerformanceCounter();
    CaptureContext& capture = Process().Capture;
    bool armedSignalled = false;
    for (;;) {
        if (AbortRequested.load() == 1) break;
        if (!armedSignalled) {
            capture.WaitingForTriggerEvent.Set();
            armedSignalled = true;
        }
        uint8_t state = 0;
        // A failed read does not end the wait, but the wait stays bounded by
        // the timeout all the same: a camera that stopped answering must not
        // hold the capture (and its lock) for ever.
        if (!ReadCameraState(StateBuffer.data(), state)) {
            // A read that fails at once (a device gone) is not paced by the
            // camera: pause rather than spin until the timeout.
            platform::SleepMs(1);
        } else if (DesiredStateReached(state, DesiredCameraState)) {
            break;
        }
        if (static_cast<uint64_t>(ElapsedMs(triggered, ticksPerMs)) > Timeout)
            return ERROR_CAMERA_TIMEOUT;
    }
    if (AbortRequested.load()) {
        DebugTrace("Capture Aborted.");
        return ERROR_CAPTURE_ABORTED;
    }
    return 0;
}

int32_t CTesselCamera::FinishCapture(const uint16_t* frame, int32_t pictureBytes) {
    if (frame == nullptr) return ERROR_UNINITIALIZED_BUFFER;
    CaptureContext& capture = Process().Capture;
    if (!capture.PictureMode) return 0;
    // All four images in one look at the address space: each look is costly
    // and this runs for every picture.
    if (pictureBytes < 0) return ERROR_INCORRECT_IMAGE_BUFFER_SIZE;
    platform::AccessRange images[4];
    for (int q = 0; q < 4; ++q) {
        uint16_t* image = capture.PictureRequest.Images[q];
        if (image == nullptr) return ERROR_INCORRECT_IMAGE_BUFFER_SIZE;
        images[q] = {image, static_cast<size_t>(pictureBytes), true};
    }
    if (!platform::AllAccessible(images, 4)) return ERROR_INCORRECT_IMAGE_BUFFER_SIZE;
    // The block image is the camera's own memory: only its size can be wrong.
    if (CaptureBlockImage.size() < reconstruction::EpalData::kSize) {
        DebugTrace("Failed EpalData.Convert() in CTesselCamera::Initialize(). Returning FALSE.");
        return ERROR_UNINITIALIZED_BUFFER;
    }
    try {
        // A picture that could not be reconstructed is reported as such, not
        // as a success with untouched buffers.
        if (!ReconstructFrame(frame, CaptureBlockImage)) return ERROR_IMAGE_RECONSTRUCTION;
    } catch (...) {
        return ERROR_UNINITIALIZED_BUFFER;
    }
    return 0;
}
