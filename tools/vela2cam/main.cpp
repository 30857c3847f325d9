// vela2cam: take pictures with the camera from the command line, and look
// after it: temperatures, memory blocks, vendor requests.

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "ConfigLookup.h"
#include "Options.h"
#include "Report.h"
#include "Vela2UsbCameraDll.h"

namespace {

using namespace vela2cam;

// The configuration folder gives the mode file and, where the library has no
// settings of its own, the settings; found before the library's first call.
void UseConfiguration(Options& options) {
    std::optional<std::string> folder = ConfigLookup::FindFolder(options.configDir);
    if (!folder) return;
    ConfigLookup::ShareWithLibrary(*folder, options.configDir);
    if (options.modeFile.empty()) options.modeFile = *folder + "/modes.ini";
}

// The simulated camera is chosen before the library first looks for a
// device, and reads its readout geometry from the same modes.
bool UseSimulatedCamera(const Options& options, Report& report, int& exitCode) {
    setenv("VELA2_USB_BACKEND", "sim", 1);
    if (!options.modeFile.empty()) {
        setenv("VELA2_SIM_MODE_FILE", options.modeFile.c_str(), 0);
        return true;
    }
    exitCode = report.Fail(
        Failure::Plain(kExitInitialization,
                       "no configuration found for --simulated: no modes.ini in --config-dir, "
                       "$VELA2_CONFIG_DIR, ~/.config/vela2, /etc/vela2 or the installed samples; "
                       "use --config-dir or --mode-file"));
    return false;
}

int PrintVersion() {
    char report[512] = {};
    std::printf("vela2cam %s\n", VELA2_LIBRARY_VERSION);
    if (LD_GetVersion(report, sizeof report) == 0) std::printf("%s\n", report);
    return kExitOk;
}

int Run(Options& options, Report& report) {
    switch (options.command) {
        case Command::Help:
            std::fputs(UsageText(), stdout);
            return kExitOk;
        case Command::Version:
            return PrintVersion();
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
    UseConfiguration(options);
    if (options.simulated && !UseSimulatedCamera(options, report, exitCode)) return exitCode;
    try {
        return Run(options, report);
    } catch (const std::exception& error) {
        // Out of memory for a frame, mostly; the camera session has closed.
        return report.Fail(Failure::Plain(kExitCapture, std::string("stopped: ") + error.what()));
    }
}
