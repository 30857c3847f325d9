// Exposure timing and test pattern live in the FPGA block (the first 64
// bytes of the EPAL block): the operations edit those bytes and send them.

#include <cstring>
#include <vector>

#include "Vela2UsbCameraStatus.h"
#include "camera/CTesselCamera.h"
#include "camera/ProcessObjects.h"
#include "platform/DebugTrace.h"
#include "reconstruction/EpalData.h"
#include "reconstruction/ExposureTiming.h"

using platform::DebugTrace;
using EpalView = reconstruction::EpalData;

namespace {
// The camera's own FPGA block, read into a scratch EPAL area: 0 with the
// view, or the status of the failure.
int32_t ReadCameraBlock(CTesselCamera& camera, uint8_t (&scratch)[EpalView::kSize],
                        EpalView& view) {
    if (!camera.ReadFpga(scratch, EpalView::kFpgaBlockSize, 0)) return ERROR_CONTROL_ENDPOINT_READ;
    view = EpalView::Convert(scratch);
    if (view) return 0;
    DebugTrace("Failed EpalData.Convert() in CTesselCamera::Initialize(). Returning FALSE.");
    return ERROR_UNINITIALIZED_BUFFER;
}

// The library's copy of the block; an empty view when none is loaded.
EpalView ImageView(std::vector<uint8_t>& image, const char* failure) {
    EpalView view = EpalView::Convert(image.size() >= EpalView::kSize ? image.data() : nullptr);
    if (!view) DebugTrace("%s", failure);
    return view;
}
}  // namespace

void CTesselCamera::ApplyExposureTimeout() {
    Timeout = static_cast<uint32_t>(reconstruction::CaptureTimeout(
        SoftwareTrigger != 0, SoftwareTriggerMargin, HardwareTriggerMargin, ExposureTime));
}

int32_t CTesselCamera::GetExposureTime(uint32_t* exposure, uint32_t* length, uint32_t* start) {
    if (!Initialized) return ERROR_CAMERA_NOT_INITIALIZED;
    // The camera is asked, in simulation mode too: the block it holds is the truth.
    uint8_t scratch[EpalView::kSize] = {};
    EpalView view = EpalView::Convert(nullptr);
    if (int32_t status = ReadCameraBlock(*this, scratch, view)) return status;
    reconstruction::ExposureSetting setting = reconstruction::ReadExposure(view);
    if (exposure) *exposure = setting.exposure;
    if (length) *length = setting.length;
    if (start) *start = setting.start;
    return 0;
}

int32_t CTesselCamera::SetExposureTime(uint32_t exposure, uint32_t length, uint32_t start) {
    if (!Initialized) return ERROR_CAMERA_NOT_INITIALIZED;
    uint8_t scratch[EpalView::kSize] = {};
    EpalView view = EpalView::Convert(nullptr);
    if (int32_t status = ReadCameraBlock(*this, scratch, view)) return status;
    reconstruction::StoreExposure(view, {exposure, length, start});
    ExposureTime = static_cast<int32_t>(exposure & 0xFFFF);
    ApplyExposureTimeout();
    return WriteFpga(scratch, EpalView::kFpgaBlockSize, 0) ? 0 : ERROR_CONTROL_ENDPOINT_WRITE;
}

int32_t CTesselCamera::SetTestPatternMode(uint32_t mode) {
    if (!Initialized) return ERROR_CAMERA_NOT_INITIALIZED;
    EpalView view =
        ImageView(EpalData, "Failed EpalData.Convert() in CTesselCamera::LD_SetTestPatternMode().");
    if (!view) return ERROR_UNINITIALIZED_BUFFER;
    view.SetTestPatternMode(static_cast<uint8_t>(mode & 0xFF));
    return WriteFpga(EpalData.data(), EpalView::kFpgaBlockSize, 0) ? 0
                                                                   : ERROR_CONTROL_ENDPOINT_WRITE;
}

int32_t CTesselCamera::GetTestPatternMode(uint32_t* mode) {
    if (!Initialized) return ERROR_CAMERA_NOT_INITIALIZED;
    EpalView view =
        ImageView(EpalData, "Failed EpalData.Convert() in CTesselCamera::LD_GetTestPatternMode().");
    if (!view) return ERROR_UNINITIALIZED_BUFFER;
    if (mode) *mode = view.TestPatternMode();
    return 0;
}

int32_t CTesselCamera::GetCameraType(uint32_t* type) {
    if (!Initialized) return ERROR_CAMERA_NOT_INITIALIZED;
    EpalView view =
        ImageView(EpalData, "Failed EpalData.Convert() in CTesselCamera::LD_GetCameraType().=");
    if (!view) return ERROR_UNINITIALIZED_BUFFER;
    uint8_t productInfo[kBlockSize];
    if (!ControlRead(vendor::kProductInfo, productInfo, kBlockSize))
        return ERROR_UNINITIALIZED_BUFFER;
    int32_t count = CameraTypeLastByte - CameraTypeFirstByte + 1;
    if (count < 1 || CameraTypeFirstByte < 0 ||
        static_cast<size_t>(CameraTypeFirstByte) + static_cast<size_t>(count) > EpalData.size())
        return ERROR_UNINITIALIZED_BUFFER;
    uint8_t* copy = EpalData.data() + CameraTypeFirstByte;
    std::memset(copy, 0, static_cast<size_t>(count));
    std::memcpy(copy, productInfo, std::min<size_t>(static_cast<size_t>(count), kBlockSize));
    int32_t detected =
        reconstruction::CameraTypeFromProductInfo(copy, static_cast<size_t>(count), SensorSuffix);
    DebugTrace(detected ? "Camera type is 5253." : "Camera type is 3572.");
    if (type) *type = static_cast<uint32_t>(detected);
    return 0;
}
