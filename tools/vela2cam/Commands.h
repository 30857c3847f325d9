#pragma once
// The commands of vela2cam. Each initializes the camera it needs through a
// CameraSession, prints through the Report and returns the exit code.

#include <optional>
#include <string>

#include "Options.h"
#include "Report.h"

namespace vela2cam {

int RunInfo(const Options& options, Report& report);
int RunCapture(const Options& options, Report& report);
int RunTemp(const Options& options, Report& report);
int RunBlocks(const Options& options, Report& report);
int RunVendor(const Options& options, Report& report);

// Text forms shared by the commands.
std::string FormatCelsius(const std::optional<double>& value);
std::string FormatAmperes(const std::optional<double>& value);
JsonValue OptionalNumber(const std::optional<double>& value);

}  // namespace vela2cam
