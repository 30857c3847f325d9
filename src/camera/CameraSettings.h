#pragma once
// The camera's settings schema: where the settings live, the reader for
// them, every key read at initialization with its parsing rule, and the list
// of accepted USB devices.

#include <cstdint>
#include <string>

class CTesselCamera;

namespace camera_settings {

// What one initialization reads besides the camera's fields.
struct InitializationValues {
    int32_t sendFpga = 0;
    uint32_t settleDelayMs = 0;
};

// Replaces the camera's reader with one for the location (registry flag
// non-zero: a registry key path, or a registry file to import; zero: an INI
// file) and opens it. normalizedPath receives the registry path used. False
// with LastStatus -37 (location unusable) or -4; 3 when memory runs out, as
// for the two functions below.
bool PrepareReader(CTesselCamera& camera, const std::string& location, int32_t registry,
                   std::string& normalizedPath);

// Reads the initialization keys in their order into the camera. hexFile, when
// not empty, is the EPAL file and "Current Hex File" is not read. The two
// delays are at most 60000 ms. False with LastStatus -4 when "Send FPGA data
// during initialize?" cannot be read.
bool ReadInitializationSettings(CTesselCamera& camera, const std::string& hexFile,
                                InitializationValues& values);

// Fills the process's accepted devices: from the registry Devices key
// (replacing the list) or the INI "Device_" sections (appending). False with
// LastStatus -37 or -4.
bool BuildDeviceList(CTesselCamera& camera, int32_t registry, const std::string& normalizedPath);

// The state-mask rule: a number 1..128 (decimal, or hex with "0x"), else 0x21.
uint8_t StateMaskFromText(const std::string& text);

// Registry-path normalisation: the camera's own path when empty, and
// "\Camera Settings" appended unless the path already names it.
std::string NormalizeRegistryPath(const std::string& path, const char* defaultPath);

}  // namespace camera_settings
