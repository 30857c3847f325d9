#include "CameraSession.h"

#include <vector>

#include "Text.h"
#include "Vela2UsbCameraDll.h"

namespace vela2cam {

namespace {

void Read(int32_t (*reading)(double*), std::optional<double>& into, int32_t& firstFailure) {
    double value = 0.0;
    int32_t status = reading(&value);
    if (status == CAMERA_SUCCESS) {
        into = value;
    } else if (firstFailure == CAMERA_SUCCESS) {
        firstFailure = status;
    }
}

}  // namespace

CameraSession::~CameraSession() {
    if (open_) Close();
}

Failure CameraSession::Open(const Options& options) {
    int32_t result = LD_Initialize(options.mode, 0, options.modeFile.c_str(), options.registry);
    // Close also after a failed attempt: bring-up may have opened the device.
    open_ = true;
    if (result == CAMERA_SUCCESS) return {};
    const int32_t reason = InitializationFailure(result);
    std::string what = reason == INVALID_USB_DEVICE
                           ? "no camera found"
                           : "cannot initialize mode " + std::to_string(options.mode);
    if (reason != result) what += " (LD_Initialize: " + StatusName(result) + ")";
    return Failure::WithStatus(kExitInitialization, what, reason);
}

void CameraSession::Abort() { LD_Reset(1); }

Geometry CameraSession::ReadGeometry() {
    Geometry geometry;
    static_cast<QuadrantGeometry&>(geometry) = QuadrantGeometry::Read();
    geometry.rawQuadrantWidth = GetWidth();
    geometry.rawQuadrantHeight = GetHeight();
    geometry.rawImageWidth = LD_GetRawImageWidth();
    geometry.rawImageHeight = LD_GetRawImageHeight();
    return geometry;
}

Temperatures CameraSession::ReadTemperatures() {
    Temperatures readings;
    Read(LD_GetCcdTemperature, readings.ccd, readings.status);
    Read(LD_GetHeatSinkTemperature, readings.heatSink, readings.status);
    Read(LD_GetTopTecCurrent, readings.topTec, readings.status);
    Read(LD_GetBottomTecCurrent, readings.bottomTec, readings.status);
    return readings;
}

std::string CameraSession::VersionReport() {
    std::vector<char> text(4096, '\0');
    if (LD_GetVersion(text.data(), static_cast<int32_t>(text.size())) != CAMERA_SUCCESS) return "";
    text.back() = '\0';
    return text.data();
}

std::string CameraSession::VersionField(const std::string& report, const std::string& name) {
    return ReportField(report, name);
}

}  // namespace vela2cam
