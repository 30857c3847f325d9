#pragma once
// One initialized camera for the life of a command: LD_Initialize on Open,
// Close when the session ends on any path, and the readings every command
// shares, all through the library's public interface.

#include <cstdint>
#include <optional>
#include <string>

#include "Options.h"
#include "QuadrantGeometry.h"
#include "Status.h"

namespace vela2cam {

struct Geometry : QuadrantGeometry {
    int32_t rawQuadrantWidth = 0, rawQuadrantHeight = 0;
    int32_t rawImageWidth = 0, rawImageHeight = 0;
};

struct Temperatures {
    std::optional<double> ccd, heatSink, topTec, bottomTec;
    int32_t status = 0;  // the first failed reading's status
};

class CameraSession {
  public:
    CameraSession() = default;
    ~CameraSession();
    CameraSession(const CameraSession&) = delete;
    CameraSession& operator=(const CameraSession&) = delete;

    // LD_Initialize for the options' mode, mode file and settings source.
    Failure Open(const Options& options);
    // Stops a capture still running: LD_Reset(1).
    void Abort();

    static Geometry ReadGeometry();
    static Temperatures ReadTemperatures();
    // The library's version report; empty when it has none.
    static std::string VersionReport();
    // The value of one "Name \t = value" line of the report.
    static std::string VersionField(const std::string& report, const std::string& name);

  private:
    bool open_ = false;
};

}  // namespace vela2cam
