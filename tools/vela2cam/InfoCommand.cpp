// vela2cam info: what the library reports about the camera in one mode.

#include <cstdio>

#include "CameraSession.h"
#include "Commands.h"
#include "Setpoint.h"
#include "Vela2UsbCameraDll.h"

namespace vela2cam {

std::string FormatCelsius(const std::optional<double>& value) {
    if (!value) return "unavailable";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f C", *value);
    return text;
}

std::string FormatAmperes(const std::optional<double>& value) {
    if (!value) return "unavailable";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f A", *value);
    return text;
}

JsonValue OptionalNumber(const std::optional<double>& value) {
    return value ? JsonValue(*value) : JsonValue();
}

namespace {

std::string Size(int32_t width, int32_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

JsonValue SizeJson(int32_t width, int32_t height) {
    JsonValue size = JsonValue::Object();
    size.Set("width", width);
    size.Set("height", height);
    return size;
}

void ReportGeometry(Report& report) {
    Geometry geometry = CameraSession::ReadGeometry();
    report.Field("quadrants", "quadrants", geometry.quadrants, std::to_string(geometry.quadrants));
    report.Field("quadrant", "quadrant size", SizeJson(geometry.width, geometry.height),
                 Size(geometry.width, geometry.height));
    report.Field("overscan", "overscan size",
                 SizeJson(geometry.overscanWidth, geometry.overscanHeight),
                 Size(geometry.overscanWidth, geometry.overscanHeight));
    report.Field("raw_quadrant", "raw quadrant size",
                 SizeJson(geometry.rawQuadrantWidth, geometry.rawQuadrantHeight),
                 Size(geometry.rawQuadrantWidth, geometry.rawQuadrantHeight));
    report.Field("raw_image", "raw image size",
                 SizeJson(geometry.rawImageWidth, geometry.rawImageHeight),
                 Size(geometry.rawImageWidth, geometry.rawImageHeight));
}

void ReportModes(Report& report) {
    uint32_t type = 0;
    if (LD_GetCameraType(&type) == CAMERA_SUCCESS) {
        report.Field("camera_type", "camera type", type,
                     std::to_string(type) + (type == 1 ? " (sensor _5253)" : ""));
    }
    bool software = LD_GetEnableSoftwareTrigger() != 0;
    report.Field("trigger", "trigger", software ? "software" : "hardware",
                 software ? "software" : "hardware");
    uint32_t exposure = 0, length = 0, start = 0;
    if (LD_GetExposureTime(&exposure, &length, &start) == CAMERA_SUCCESS) {
        report.Field("exposure_ms", "exposure", exposure, std::to_string(exposure) + " ms");
    }
    uint32_t pattern = 0;
    if (LD_GetTestPatternMode(&pattern) == CAMERA_SUCCESS) {
        report.Field("test_pattern", "test pattern", pattern, std::to_string(pattern));
    }
}

void ReportVersion(Report& report) {
    std::string version = CameraSession::VersionReport();
    if (report.json()) {
        report.root().Set("version", version);
    } else if (!version.empty()) {
        std::printf("%s\n", version.c_str());
    }
}

void ReportTemperatures(Report& report) {
    Temperatures readings = CameraSession::ReadTemperatures();
    report.Field("ccd_temperature", "CCD temperature", OptionalNumber(readings.ccd),
                 FormatCelsius(readings.ccd));
    report.Field("heat_sink_temperature", "heat sink", OptionalNumber(readings.heatSink),
                 FormatCelsius(readings.heatSink));
    std::optional<double> setpoint = Setpoint::Read();
    report.Field("setpoint", "setpoint", OptionalNumber(setpoint), FormatCelsius(setpoint));
}

}  // namespace

int RunInfo(const Options& options, Report& report) {
    CameraSession session;
    Failure failure = session.Open(options);
    bool initialized = IsInitialized() != 0;
    report.Field("initialized", "initialized", initialized, initialized ? "yes" : "no");
    report.Field("mode", "mode", options.mode, std::to_string(options.mode));
    report.Field("settings", "settings", GetHardwareRegistryLocation(),
                 GetHardwareRegistryLocation());
    if (failure.failed()) {
        ReportVersion(report);
        return report.Fail(failure);
    }
    ReportGeometry(report);
    ReportModes(report);
    ReportTemperatures(report);
    ReportVersion(report);
    return report.Succeed();
}

}  // namespace vela2cam
