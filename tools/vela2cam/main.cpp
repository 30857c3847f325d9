// vela2cam: take pictures with the camera from the command line, and look
// after it: temperatures, memory blocks, vendor requests.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Commands.h"
#include "Options.h"
#include "Report.h"

#ifndef VELA2CAM_BUNDLED_MODE_FILE
#define VELA2CAM_BUNDLED_MODE_FILE ""
#endif

namespace {

using namespace vela2cam;

// The simulated camera is chosen before the library first looks for a
// device, and the bundled modes stand in for the user's mode file.
bool UseSimulatedCamera(Options& options, Report& report, int& exitCode) {
    setenv("VELA2_USB_BACKEND", "sim", 1);
    if (options.modeFile.empty()) options.modeFile = VELA2CAM_BUNDLED_MODE_FILE;
    // The simulated camera reads its readout geometry from the same modes.
    if (!options.modeFile.empty()) {
        setenv("VELA2_SIM_MODE_FILE", options.modeFile.c_str(), 0);
        return true;
    }
    exitCode = report.Fail(
        Failure::Plain(kExitInitialization,
                       "this build has no bundled mode file for --simulated; use --mode-file"));
    return false;
}

int Run(Options& options, Report& report) {
    switch (options.command) {
        case Command::Help:
            std::fputs(UsageText(), stdout);
            return kExitOk;
        case Command::Info:
            return RunInfo(options, report);
        case Command::Capture:
            return RunCapture(options, report);
        case Command::Temp:
            return RunTemp(options, report);
        case Command::BlocksDownload:
        case Command::BlocksUpload:
            return RunBlocks(options, report);
        case Command::VendorRead:
        case Command::VendorWrite:
            return RunVendor(options, report);
    }
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    ParseResult parsed = ParseCommandLine(arguments);
    if (!parsed.ok()) {
        std::fprintf(stderr, "vela2cam: %s\n\n%s", parsed.error.c_str(), UsageText());
        return kExitUsage;
    }
    Options& options = parsed.options;
    Report report(options.json);
    int exitCode = kExitOk;
    if (options.simulated && !UseSimulatedCamera(options, report, exitCode)) return exitCode;
    try {
        return Run(options, report);
    } catch (const std::exception& error) {
        // Out of memory for a frame, mostly; the camera session has closed.
        return report.Fail(Failure::Plain(kExitCapture, std::string("stopped: ") + error.what()));
    }
}
