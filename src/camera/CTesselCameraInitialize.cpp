// Initialization: from a mode number to a camera that takes pictures.

#include <algorithm>
#include <cctype>
#include <fstream>
#include <optional>

#include "Vela2UsbCameraStatus.h"
#include "camera/CTesselCamera.h"
#include "camera/CameraSettings.h"
#include "camera/HexToDecimal.h"
#include "camera/ProcessObjects.h"
#include "platform/Clock.h"
#include "platform/DebugTrace.h"
#include "platform/FileSystem.h"
#include "platform/Guid.h"
#include "platform/Module.h"
#include "platform/Profile.h"
#include "platform/Thread.h"
#include "platform/UsbDriver.h"
#include "settings/CAbsPropertyReader.h"
#include "usb/CCyUSBDevice.h"

using platform::DebugTrace;

namespace {
constexpr size_t kMaxPath = 260;
constexpr size_t kEpalImageSize = 400;
constexpr uint8_t kBulkAttributes = 2;
constexpr int32_t kRequiredEndpoints = 4;

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The mode file beside the library, named after it. Where paths ignore case
// the library's name is taken in lower case, so any spelling of it finds
// the same file. A shared object's name ends in ".so" and maybe a version
// (libX.so.4), all of which the ".ini" replaces.
std::string DefaultModeFile(const std::string& modulePath) {
    if (platform::kCaseInsensitivePaths) return ReplaceAll(LowerCase(modulePath), ".dll", ".ini");
    size_t slash = modulePath.rfind(platform::kPathSeparator);
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t end = modulePath.rfind('.');
    for (size_t so = modulePath.find(".so", nameStart); so != std::string::npos;
         so = modulePath.find(".so", so + 1))
        if (so + 3 == modulePath.size() || modulePath[so + 3] == '.') {
            end = so;
            break;
        }
    if (end == std::string::npos || end < nameStart) return modulePath + ".ini";
    return modulePath.substr(0, end) + ".ini";
}

// The first of the platform's settings folders that holds the file (name
// given with its leading separator), if any.
std::optional<std::string> FindInSettingsFolders(const std::string& separatorAndName) {
    for (const std::string& folder : platform::SettingsFolders())
        if (platform::FileExists(folder + separatorAndName)) return folder + separatorAndName;
    return std::nullopt;
}

// A settings file named after a place beside the library: that file in the
// settings folders first.
std::string LocateBesideLibrary(const std::string& besideLibrary) {
    size_t separator = besideLibrary.rfind(platform::kPathSeparator);
    if (separator == std::string::npos) return besideLibrary;
    return FindInSettingsFolders(besideLibrary.substr(separator)).value_or(besideLibrary);
}

std::string ReadModeHexFile(const std::string& modeFile, int32_t mode) {
    char section[32];
    std::snprintf(section, sizeof section, "Mode%d", static_cast<int>(mode));
    char hexFile[kMaxPath + 1] = {};
    platform::ProfileReadString(section, "Configuration File", "", hexFile, sizeof hexFile,
                                modeFile.c_str());
    return hexFile;
}

bool Fail(int32_t status) {
    LastStatus().Set(status);
    return false;
}

// The settings' device list, as the driver layer takes it.
std::vector<platform::UsbDeviceId> ListedDevices() {
    std::vector<platform::UsbDeviceId> accepted;
    for (const CVidPid& pair : Process().VidPidList)
        if (pair.VendorId <= 0xFFFF && pair.ProductId <= 0xFFFF)
            accepted.push_back(
                {static_cast<uint16_t>(pair.VendorId), static_cast<uint16_t>(pair.ProductId)});
    return accepted;
}

}  // namespace

int32_t CTesselCamera::InitializeForMode(int32_t mode, const char* modeFile, int32_t registry) {
    LifecycleCall pending(LifecycleCallsPending);
    std::lock_guard<std::mutex> lifecycle(LifecycleLock);
    // A capture in progress would hold off the initialization, which waits
    // for every user of the device to leave.
    AbortCapture();
    CameraGate::Exclusive alone(Gate);
    return InitializeForModeAlone(mode, modeFile, registry);
}

int32_t CTesselCamera::InitializeForModeAlone(int32_t mode, const char* modeFileArgument,
                                              int32_t registry) {
    LastStatus().Set(ERROR_CAMERA_NOT_INITIALIZED);
    ProcessObjects& process = Process();
    std::string hexFile;
    try {
        if (process.ModulePath.empty())
            process.ModulePath = platform::ModuleFilePath().substr(0, kMaxPath);
        std::string modeFile = modeFileArgument && *modeFileArgument
                                   ? modeFileArgument
                                   : LocateBesideLibrary(DefaultModeFile(process.ModulePath));
        if (!platform::FileExists(modeFile)) {
            LastStatus().Set(ERROR_INI_FILENAME);
            return ERROR_INI_FILENAME;
        }
        hexFile = platform::ResolveNamedPath(ReadModeHexFile(modeFile, mode), modeFile);
        if (!platform::FileExists(hexFile)) {
            LastStatus().Set(ERROR_HEX_FILENAME);
            return ERROR_HEX_FILENAME;
        }
    } catch (...) {
        return CAMERA_FILE_ERROR;
    }
    SetFrameSize(0, 0, 0, 0, 0);
    if (registry) {
        process.HardwareRegistryLocation = "Software\\Quintaris Riravir\\USB\\VELA2_USB";
    } else if (auto found = FindInSettingsFolders(process.IniFileName)) {
        process.HardwareRegistryLocation = *found;
    } else {
        size_t separator = process.ModulePath.rfind(platform::kPathSeparator);
        if (separator == std::string::npos || separator == 0) return ERROR_INI_FILENAME;
        process.HardwareRegistryLocation =
            process.ModulePath.substr(0, separator) + process.IniFileName;
        if (!platform::FileExists(process.HardwareRegistryLocation)) return ERROR_INI_FILENAME;
    }
    return Initialize(hexFile, process.HardwareRegistryLocation, registry)
               ? 0
               : ERROR_CAMERA_NOT_INITIALIZED;
}

int32_t CTesselCamera::Initialize(const std::string& hexFile, const std::string& location,
                                  int32_t registry) {
    LastStatus().Set(CAMERA_BUSY);
    StateBuffer.assign(64, 0);
    std::string registryPath;
    if (!camera_settings::PrepareReader(*this, location, registry, registryPath)) return 0;
    camera_settings::InitializationValues values;
    if (!camera_settings::ReadInitializationSettings(*this, hexFile, values)) return 0;
    if (!camera_settings::BuildDeviceList(*this, registry, registryPath)) return 0;

    if (!SimulationMode && Initialized && SoftResetOnInitialize) Reset(0);
    Initialized = 0;
    try {
        // Sending the FPGA block only makes sense with an image size to read.
        bool ready = InitializeDevice() &&
                     (values.sendFpga == 0 || (EpalQuadrantWidth > 0 && EpalQuadrantHeight > 0));
        if (!ready) {
            DebugTrace("Error initializing hardware.");
            return Fail(INVALID_USB_DEVICE);
        }
        DebugTrace("Delaying after initialization for %ld ms...",
                   static_cast<long>(values.settleDelayMs));
        platform::SleepMs(values.settleDelayMs);
        if (!StartWorkerThreads()) return Fail(ERROR_CAPTURE_THREAD_START);
        if (!SimulationMode && SoftResetOnInitialize && !Reset(0))
            return Fail(ERROR_CAMERA_NOT_INITIALIZED);
    } catch (...) {
        DebugTrace("Unknown hardware error during initialization.");
        return Fail(ERROR_CAMERA_NOT_INITIALIZED);
    }
    Initialized = 1;
    LastStatus().Set(CAMERA_SUCCESS);
    return 1;
}

int32_t CTesselCamera::InitializeDevice() {
    CAbsPropertyReader& reader = *SettingsReader;
    auto readUsb = [&](const char* key) {
        std::string value;
        reader.ReadString(key, value, "Usb Settings");
        return value;
    };
    auto missing = [&](const char* key) {
        DebugTrace("%s not specified in the registry.", key);
        return Fail(ERROR_REGISTRY_VALUE);
    };
    int32_t endpointNumber = DecimalValue(readUsb("Bulk IN endpoint number").c_str());
    if (endpointNumber <= 0) return missing("Bulk IN endpoint number");
    ControlEndpointTimeout = DecimalValue(readUsb("Control Endpoint timeout").c_str());
    if (ControlEndpointTimeout <= 0) return missing("Control Endpoint timeout");
    std::string bufferSize = readUsb("Bulk endpoint internal buffer size");
    if (bufferSize.empty()) return missing("Bulk endpoint internal buffer size");

    if (UseNotificationWindow && !PrepareNotificationWindow()) return 0;

    std::fill(Reconstruction.begin(), Reconstruction.end(), 0);
    if (!SimulationMode) {
        platform::Guid interfaceClass{};
        if (!platform::ParseGuid(DriverInterfaceGuid, interfaceClass))
            return Fail(CAMERA_INVALID_VALUE);
        void* window = NotificationWindowHandle == -1
                           ? nullptr
                           : reinterpret_cast<void*>(NotificationWindowHandle);
        // Before the device object counts and opens devices: where the driver
        // layer reaches a whole bus, only listed devices are ever opened.
        platform::SetAcceptedUsbDevices(ListedDevices());
        if (!UsbDevice) {
            try {
                UsbDevice = std::make_unique<usb::CCyUSBDevice>(window, interfaceClass, true);
            } catch (...) {
                DebugTrace("Failed allocating new CCyUSBDevice.");
                return Fail(INVALID_USB_DEVICE);
            }
        }
        if (!FindListedDevice()) return 0;
        if (!FindBulkInEndpoint(endpointNumber,
                                static_cast<uint32_t>(DecimalValue(bufferSize.c_str()))))
            return 0;
    }
    if (!LoadHexFile()) return 0;
    if (!SimulationMode) {
        try {
            if (!Upload(EpalData.data(), static_cast<int32_t>(EpalData.size()))) return 0;
        } catch (...) {
            DebugTrace("Failed call to Upload.");
            return 0;
        }
    }
    try {
        if (!ConfigureFromHexfile(EpalData.data(), static_cast<int32_t>(EpalData.size()))) return 0;
    } catch (...) {
        DebugTrace("Failed call to ConfigureFromHexfile.");
        return 0;
    }
    return 1;
}

bool CTesselCamera::PrepareNotificationWindow() {
    ProcessObjects& process = Process();
    try {
        // Bring-up never runs inside a window's procedure: closed windows'
        // objects can go once no driver thread is still returning from one.
        auto& closing = process.ClosingNotificationWindows;
        closing.erase(std::remove_if(closing.begin(), closing.end(),
                                     [](const auto& window) { return !window->InUse(); }),
                      closing.end());
        if (!process.NotificationWindow) {
            process.NotificationWindow = std::make_unique<usb::CSubclassedWnd>(
                [this] {
                    // Asked from the window's thread, maybe while Close runs on another.
                    CameraGate::Shared inside(Gate);
                    return static_cast<platform::UsbHandle>(GetDeviceHandle());
                },
                [this] { Close(1); });
        }
        if (!process.NotificationWindow->Create("Tamberlin Notification Window")) {
            DebugTrace("Error creating notification window.");
            return Fail(ERROR_NOTIFICATION_WINDOW);
        }
        NotificationWindowHandle = reinterpret_cast<intptr_t>(process.NotificationWindow->Handle());
        return true;
    } catch (...) {
        DebugTrace("Exception while registering window.");
        return Fail(ERROR_NOTIFICATION_WINDOW);
    }
}

bool CTesselCamera::FindListedDevice() {
    try {
        uint8_t count = UsbDevice->CountDevices();
        DebugTrace("#USB Camera devices found: %d", count);
        for (uint8_t i = 0; i < count; ++i) {
            UsbDevice->Open(i);
            if (!UsbDevice->IsOpen()) {
                DebugTrace("Initial call to Open failed for device# %d.", i);
                UsbDevice->Open(i);
                if (!UsbDevice->IsOpen()) {
                    DebugTrace("Second call to Open failed for device# %d.", i);
                    Close(1);
                    return false;
                }
            }
            for (const CVidPid& pair : Process().VidPidList) {
                DebugTrace("Looking for a USB device with VID=%04X and PID=%04X.", pair.VendorId,
                           pair.ProductId);
                if (pair.VendorId == UsbDevice->VendorID && pair.ProductId == UsbDevice->ProductID)
                    return true;
            }
        }
    } catch (...) {
        DebugTrace("Failed opening device.");
        return Fail(INVALID_USB_DEVICE);
    }
    if (UsbDevice) {
        UsbDevice->ReleaseDevice();
        try {
            UsbDevice->Close();
        } catch (...) {
        }
    }
    DebugTrace("ERROR: Cannot find a USB device with correct vendor and product ID.");
    return Fail(INVALID_USB_DEVICE);
}

bool CTesselCamera::FindBulkInEndpoint(int32_t endpointNumber, uint32_t bufferSize) {
    if (UsbDevice->EndPoints == nullptr || UsbDevice->EndpointCount() != kRequiredEndpoints)
        return Fail(INVALID_USB_DEVICE);
    try {
        for (int32_t i = 0; i < kRequiredEndpoints; ++i) {
            usb::CCyUSBEndpoint* endpoint = UsbDevice->EndPoints[i];
            if (endpoint == nullptr || endpoint->Attributes != kBulkAttributes) continue;
            DebugTrace("Bulk endpoint found at index %d", i);
            if (endpoint->Address == 0x80 + endpointNumber) {
                BulkInEndpointIndex = i;
                DebugTrace("BULK-IN found at endpoint #%d, address %04x, index %d", i + 1,
                           endpoint->Address, i);
            }
            endpoint->SetBufferSize(bufferSize);
        }
    } catch (...) {
        DebugTrace("Unhandled exception: Error with bulk endpoints during Initialization.");
        return Fail(INVALID_USB_DEVICE);
    }
    if (BulkInEndpointIndex < 0) {
        DebugTrace("ERROR: Cannot find a bulk IN endpoint.");
        return Fail(INVALID_USB_DEVICE);
    }
    return true;
}

bool CTesselCamera::LoadHexFile() {
    try {
        // Bytes 58-59 belong to the running camera, not to the file.
        bool keep = EpalData.size() > 59;
        uint8_t kept[2] = {keep ? EpalData[58] : uint8_t(0), keep ? EpalData[59] : uint8_t(0)};
        if (!OpenHexFile(HexFilename, EpalData, kEpalImageSize)) {
            DebugTrace("Failed OpenHexFile(EPAL) in CTesselCamera::Initialize(). Returning FALSE.");
            return Fail(ERROR_HEX_FILENAME);
        }
        if (keep) {
            EpalData[58] = kept[0];
            EpalData[59] = kept[1];
        }
        return true;
    } catch (...) {
        DebugTrace("Failed call to OpenHexFile.");
        return Fail(ERROR_HEX_FILENAME);
    }
}

bool CTesselCamera::OpenHexFile(const std::string& path, std::vector<uint8_t>& bytes, size_t size) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        DebugTrace("Error opening file in CTesselCamera::OpenHexFile().");
        return false;
    }
    file.seekg(0, std::ios::end);
    std::streamoff length = file.tellg();
    if (length < 0 || static_cast<size_t>(length) < size) {
        DebugTrace("Error with file size in CTesselCamera::OpenHexFile().");
        return false;
    }
    file.seekg(0);
    bytes.assign(size, 0);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    if (static_cast<size_t>(file.gcount()) != size) {
        DebugTrace("Error reading data in CTesselCamera::OpenHexFile().");
        return false;
    }
    return true;
}
