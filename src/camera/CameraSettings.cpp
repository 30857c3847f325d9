#include "camera/CameraSettings.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>

#include "Vela2UsbCameraStatus.h"
#include "camera/CTesselCamera.h"
#include "camera/FailedAllocation.h"
#include "camera/HexToDecimal.h"
#include "camera/ProcessObjects.h"
#include "platform/DebugTrace.h"
#include "platform/Registry.h"
#include "settings/CIniPropertyReader.h"
#include "settings/CRegistryPropertyReader.h"
#include "settings/CThreadPriority.h"

using platform::DebugTrace;

namespace camera_settings {
namespace {

constexpr uint8_t kDefaultStateMask = 0x21;

constexpr char kGeneral[] = "General Info";
constexpr char kTemperature[] = "Temperature Settings";
constexpr const char* kBinningKeys[] = {"1x1", "2x2", "4x4", "8x8"};
constexpr int32_t kBinningFactors[] = {1, 2, 4, 8};

bool Fail(int32_t status) {
    LastStatus().Set(status);
    return false;
}

// The reader's answer; a failed read gives "" and the key's empty rule.
std::string Read(CAbsPropertyReader& reader, const char* section, const char* key) {
    std::string value;
    reader.ReadString(key, value, section);
    return value;
}

int32_t ReadInteger(CAbsPropertyReader& reader, const char* section, const char* key) {
    return DecimalValue(Read(reader, section, key).c_str());
}

// Deliberate hardening: a pause longer than a minute is a typing error (or
// an unsigned -1 written by a tool) that would hold initialization, or every
// control write, for days.
constexpr uint32_t kLongestDelayMs = 60000;

// "Delay" settings in ms: -1 stands for the protocol's standard pause; other
// values are unsigned and at most a minute.
uint32_t ReadDelay(CAbsPropertyReader& reader, const char* key, uint32_t standard) {
    int32_t value = ReadInteger(reader, kGeneral, key);
    if (value == -1) return standard;
    return std::min(static_cast<uint32_t>(value), kLongestDelayMs);
}

int32_t ReadFlagDefaultingToZero(CAbsPropertyReader& reader, const char* key) {
    std::string value = Read(reader, kGeneral, key);
    return DecimalValue(value.empty() ? "0" : value.c_str());
}

void ReadBinningTable(CAbsPropertyReader& reader, const char* section,
                      std::map<int32_t, int32_t>& table) {
    for (size_t i = 0; i < 4; ++i) {
        std::string value = Read(reader, section, kBinningKeys[i]);
        if (!value.empty()) table[kBinningFactors[i]] = DecimalValue(value.c_str());
    }
}

// A device ID as the settings write it: hexadecimal, with or without "0x".
bool DeviceId(const std::string& text, uint32_t& id) {
    std::string hex = LowerCase(text);
    if (hex.find("0x") == std::string::npos) hex = "0x" + hex;
    int32_t value = 0;
    if (!HexToDecimal(hex.c_str(), value)) return false;
    id = static_cast<uint32_t>(value);
    return true;
}

bool AppendDevices(CAbsPropertyReader& reader, const std::string& section,
                   const std::string& vendorText) {
    CAbsPropertyReader::StringMap products;
    reader.ReadSection(section, products);
    for (const auto& product : products) {
        CVidPid pair;
        if (!DeviceId(vendorText, pair.VendorId) || !DeviceId(product.first, pair.ProductId)) {
            DebugTrace("Error with HexToDecimal.");
            return Fail(ERROR_CAMERA_NOT_INITIALIZED);
        }
        Process().VidPidList.push_back(pair);
    }
    return true;
}

bool OpenRegistryReader(CTesselCamera& camera, std::string path, std::string& normalizedPath) {
    const std::string software = "Software\\";
    if (!path.empty() && path.find(software) == std::string::npos) {
        // Not a key path: a registry file whose first key names the place.
        std::string firstKey;
        if (!platform::ImportRegistryFile(path, firstKey)) return Fail(ERROR_REGISTRY_NAME);
        size_t at = firstKey.find(software);
        if (at == std::string::npos ||
            firstKey.substr(0, at).find("HKEY_CURRENT_USER\\") == std::string::npos)
            return Fail(ERROR_REGISTRY_NAME);
        path = firstKey.substr(at);
    }
    normalizedPath = NormalizeRegistryPath(path, camera.SettingsKeyPath);
    auto reader = std::make_unique<CRegistryPropertyReader>();
    CRegistryPropertyReader& opened = *reader;
    camera.SettingsReader = std::move(reader);
    if (!opened.OpenAt(normalizedPath, platform::PredefinedRegKey(camera.RegistryRoot))) {
        DebugTrace("Error opening registry file %s.", normalizedPath.c_str());
        return Fail(ERROR_REGISTRY_NAME);
    }
    return true;
}

}  // namespace

std::string NormalizeRegistryPath(const std::string& path, const char* defaultPath) {
    std::string normalized = path.empty() ? defaultPath : path;
    if (LowerCase(normalized).find("\\camera settings") == std::string::npos) {
        if (normalized.empty() || normalized.back() != '\\') normalized += '\\';
        normalized += "Camera Settings";
    }
    return normalized;
}

uint8_t StateMaskFromText(const std::string& text) {
    int32_t mask = DecimalValue(text.c_str());
    if (LowerCase(text).find("0x") != std::string::npos) HexToDecimal(text.c_str(), mask);
    return mask >= 1 && mask <= 128 ? static_cast<uint8_t>(mask) : kDefaultStateMask;
}

bool PrepareReader(CTesselCamera& camera, const std::string& location, int32_t registry,
                   std::string& normalizedPath) try {
    camera.SettingsReader.reset();
    if (registry) return OpenRegistryReader(camera, location, normalizedPath);
    if (location.empty()) return Fail(ERROR_CAMERA_NOT_INITIALIZED);
    auto reader = std::make_unique<CIniPropertyReader>();
    bool opened = reader->Open(location);
    camera.SettingsReader = std::move(reader);
    if (!opened) {
        DebugTrace("Error opening registry file %s.", location.c_str());
        return Fail(ERROR_REGISTRY_NAME);
    }
    return true;
} catch (...) {
    ReportOperationException("Preparing the settings reader");
    return false;
}

bool ReadInitializationSettings(CTesselCamera& camera, const std::string& hexFile,
                                InitializationValues& values) try {
    CAbsPropertyReader& reader = *camera.SettingsReader;
    camera.SimulationMode = ReadInteger(reader, kGeneral, "Simulated Data");
    camera.RawImageFilename = Read(reader, kGeneral, "Raw Image Filename");
    camera.CreateRawImageFile = ReadInteger(reader, kGeneral, "Save Raw Image File?");
    camera.HexFilename = hexFile.empty() ? Read(reader, kGeneral, "Current Hex File") : hexFile;
    camera.SoftwareTrigger = ReadInteger(reader, kGeneral, "Use Software Trigger");
    camera.ControlWriteDelay = ReadDelay(reader, "Delay after Control Endpoint Write (mSec)", 2000);
    values.settleDelayMs = ReadDelay(reader, "Delay after Initialization (mSec)", 5000);
    camera.SoftResetOnInitialize =
        ReadFlagDefaultingToZero(reader, "Issue Soft Reset during Initialize?");
    camera.DesiredCameraState = StateMaskFromText(
        Read(reader, kGeneral, "Camera State bit mask to wait on during capture"));
    camera.TemperatureScale = std::atof(Read(reader, kTemperature, "Gain").c_str());
    camera.KelvinOffset = std::atof(Read(reader, kTemperature, "Offset").c_str());
    ReadBinningTable(reader, "Number of Pre-scan Columns", camera.PrescanColumnsByBinning);
    ReadBinningTable(reader, "Number of Pre-scan Rows", camera.PrescanRowsByBinning);
    ReadBinningTable(reader, "Number of Fixed Pre-scan Columns",
                     camera.FixedPrescanColumnsByBinning);

    const char* sendFpgaKey = "Send FPGA data during initialize?";
    std::string sendFpga;
    if (!reader.ReadString(sendFpgaKey, sendFpga, kGeneral)) {
        DebugTrace("%s is not specified in the registry. Returning FALSE.", sendFpgaKey);
        return Fail(ERROR_CAMERA_NOT_INITIALIZED);
    }
    values.sendFpga = DecimalValue(sendFpga.c_str());

    camera.UseNotificationWindow = ReadFlagDefaultingToZero(
        reader, "Create invisible window to receive USB device notifications?");
    camera.InvertShutterSignals = ReadFlagDefaultingToZero(reader, "Invert shutter signals?");
    std::string threadPriority = Read(reader, kGeneral, "Capture thread priority");
    if (!threadPriority.empty() && IsThreadPriorityName(threadPriority))
        camera.ThreadPriority = threadPriority;
    std::string priorityClass = Read(reader, kGeneral, "Capture process priority class");
    if (!priorityClass.empty() && IsPriorityClassName(priorityClass))
        camera.PriorityClass = priorityClass;
    return true;
} catch (...) {
    ReportOperationException("Reading the settings");
    return false;
}

bool BuildDeviceList(CTesselCamera& camera, int32_t registry,
                     const std::string& normalizedPath) try {
    if (!registry) {
        // INI mode appends to what earlier initializations found.
        CAbsPropertyReader::StringList sections;
        camera.SettingsReader->GetSections(sections);
        for (const std::string& section : sections) {
            if (section.find("Device_") == std::string::npos) continue;
            std::string vendor = section.substr(section.find('_') + 1);
            if (!AppendDevices(*camera.SettingsReader, section, vendor)) return false;
        }
        return true;
    }
    CRegistryPropertyReader devices;
    std::string path = normalizedPath + "\\Usb Settings\\Devices";
    if (!devices.OpenAt(path, platform::PredefinedRegKey(camera.RegistryRoot))) {
        DebugTrace("Error opening registry file %s.", path.c_str());
        return Fail(ERROR_REGISTRY_NAME);
    }
    CAbsPropertyReader::StringList vendors;
    devices.GetSections(vendors);
    Process().VidPidList.clear();
    for (const std::string& vendor : vendors)
        if (!AppendDevices(devices, vendor, vendor)) return false;
    return true;
} catch (...) {
    ReportOperationException("Reading the device list");
    return false;
}

}  // namespace camera_settings
