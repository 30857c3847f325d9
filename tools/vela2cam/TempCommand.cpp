// vela2cam temp: temperatures and cooler currents, once or repeatedly.

#include <chrono>
#include <cstdio>

#include "CameraSession.h"
#include "Commands.h"
#include "InterruptGuard.h"
#include "Setpoint.h"
#include "Vela2UsbCameraDll.h"

namespace vela2cam {

namespace {

JsonValue ReadingJson(const Temperatures& readings, double seconds) {
    JsonValue reading = JsonValue::Object();
    reading.Set("time_s", seconds);
    reading.Set("ccd_temperature", OptionalNumber(readings.ccd));
    reading.Set("heat_sink_temperature", OptionalNumber(readings.heatSink));
    reading.Set("top_tec_current", OptionalNumber(readings.topTec));
    reading.Set("bottom_tec_current", OptionalNumber(readings.bottomTec));
    return reading;
}

void PrintReading(const Temperatures& readings, double seconds, bool watching) {
    if (watching) {
        std::printf("%8.1f s  CCD %s  heat sink %s  TEC %s / %s\n", seconds,
                    FormatCelsius(readings.ccd).c_str(), FormatCelsius(readings.heatSink).c_str(),
                    FormatAmperes(readings.topTec).c_str(),
                    FormatAmperes(readings.bottomTec).c_str());
    } else {
        std::printf("%-20s %s\n", "CCD temperature:", FormatCelsius(readings.ccd).c_str());
        std::printf("%-20s %s\n", "heat sink:", FormatCelsius(readings.heatSink).c_str());
        std::printf("%-20s %s\n", "top TEC current:", FormatAmperes(readings.topTec).c_str());
        std::printf("%-20s %s\n", "bottom TEC current:", FormatAmperes(readings.bottomTec).c_str());
    }
    std::fflush(stdout);
}

}  // namespace

int RunTemp(const Options& options, Report& report) {
    InterruptGuard interrupts;
    CameraSession session;
    Failure failure = session.Open(options);
    if (failure.failed()) return report.Fail(failure);
    if (options.setpointCelsius) {
        int32_t status = Setpoint::Write(*options.setpointCelsius);
        if (status != CAMERA_SUCCESS)
            return report.Fail(
                Failure::WithStatus(kExitCameraCommand, "cannot set the setpoint", status));
        report.Note("setpoint set to " + FormatCelsius(options.setpointCelsius));
    }
    // Watching prints one document per reading (JSON lines), so a script
    // can follow it while it runs.
    JsonValue readingsJson = JsonValue::Array();
    auto start = std::chrono::steady_clock::now();
    for (uint32_t n = 1;; ++n) {
        Temperatures readings = CameraSession::ReadTemperatures();
        if (!readings.ccd && !readings.heatSink)
            return report.Fail(Failure::WithStatus(
                kExitCameraCommand, "cannot read the temperatures", readings.status));
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!options.json) {
            PrintReading(readings, seconds, options.watch);
        } else if (options.watch) {
            std::printf("%s\n", ReadingJson(readings, seconds).Serialize().c_str());
            std::fflush(stdout);
        } else {
            readingsJson.Append(ReadingJson(readings, seconds));
        }
        if (!options.watch || (options.count && n >= options.count)) break;
        if (!SleepUnlessInterrupted(options.intervalMs)) break;
    }
    if (options.watch) return kExitOk;
    report.root().Set("readings", readingsJson);
    return report.Succeed();
}

}  // namespace vela2cam
