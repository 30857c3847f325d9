#pragma once
// The library's handle on one USB camera: finds the devices the driver
// publishes under an interface class, opens one, reads its descriptors into a
// tree of configuration, interface and endpoint objects, and selects the
// driver's current alternate setting of configuration 0.
//
// No lock of its own: opened and closed on one thread; afterwards endpoint 0
// is used under the caller's control lock and the bulk IN endpoint by one
// capture thread.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Guid.h"
#include "platform/UsbDriver.h"
#include "usb/CCyUSBConfig.h"
#include "usb/CCyUSBControlEndpoint.h"
#include "usb/CCyUSBEndpoint.h"
#include "usb/UsbDescriptors.h"
#include "usb/UsbDeviceError.h"

namespace usb {

constexpr uint32_t kNameTextSize = 256;
constexpr uint32_t kStringChars = 256;

class CCyUSBDevice {
  public:
    // window: receives device notifications, or null. openNow: Open(0) at once.
    CCyUSBDevice(platform::WindowHandle window, const platform::Guid& interfaceClass, bool openNow);
    // Closes and drops the class registration; swallows what Close would raise,
    // since nothing may leave a destructor. Call Close first to see failures.
    ~CCyUSBDevice();
    CCyUSBDevice(const CCyUSBDevice&) = delete;
    CCyUSBDevice& operator=(const CCyUSBDevice&) = delete;

    uint8_t CountDevices();
    bool Open(uint8_t deviceNumber);
    // Throws UsbDeviceError when the system refuses to close a handle or a
    // registration; everything is released all the same.
    void Close();
    uint8_t EndpointCount() const;
    void ReleaseDevice();
    // Synchronous request with one buffer for input and output. False at once
    // when no device is open; the returned count lands in BytesReturned.
    bool DriverRequest(uint32_t code, void* buffer, uint32_t length);

    bool IsOpen() const { return DeviceHandle != platform::kInvalidUsbHandle; }
    platform::UsbHandle GetDeviceHandle() const { return DeviceHandle; }
    CCyUSBConfig* Config(uint32_t index) const {
        return index < kMaxConfigurations ? Configs[index].get() : nullptr;
    }

    // The selected alternate setting's table: entry 0 the control endpoint,
    // 1..EndpointCount()-1 its endpoints (an entry may be null when the
    // device described an endpoint we cannot drive). Null before selection.
    CCyUSBEndpoint** EndPoints = nullptr;
    CCyUSBControlEndpoint* ControlEndPt = nullptr;
    CCyUSBEndpoint* IsocInEndPt = nullptr;
    CCyUSBEndpoint* IsocOutEndPt = nullptr;
    CCyUSBEndpoint* BulkInEndPt = nullptr;
    CCyUSBEndpoint* BulkOutEndPt = nullptr;
    CCyUSBEndpoint* InterruptInEndPt = nullptr;
    CCyUSBEndpoint* InterruptOutEndPt = nullptr;

    uint16_t StrLangID = 0;
    uint32_t UsbStatus = 0;
    uint32_t DriverStatus = 0;
    uint32_t DriverVersion = 0;
    uint32_t SecondVersion = 0;
    char NameTextA[kNameTextSize] = {};
    char NameTextB[kNameTextSize] = {};
    char16_t Manufacturer[kStringChars] = {};
    char16_t Product[kStringChars] = {};
    char16_t SerialNumber[kStringChars] = {};
    std::string DevicePath;
    uint16_t BcdUSB = 0;
    uint16_t VendorID = 0;
    uint16_t ProductID = 0;
    uint8_t USBAddress = 0;
    uint8_t DevClass = 0;
    uint8_t DevSubClass = 0;
    uint8_t DevProtocol = 0;
    uint8_t MaxPacketSize = 0;
    uint16_t BcdDevice = 0;
    uint8_t ConfigValue = 0;
    uint8_t ConfigAttrib = 0;
    uint8_t MaxPower = 0;
    uint8_t IntfcClass = 0;
    uint8_t IntfcSubClass = 0;
    uint8_t IntfcProtocol = 0;
    uint32_t BytesReturned = 0;
    std::array<uint8_t, kDeviceDescriptorSize> DeviceDescriptor{};
    std::array<std::vector<uint8_t>, kMaxConfigurations> RawConfigSets;
    std::array<std::unique_ptr<CCyUSBConfig>, kMaxConfigurations> Configs;

    platform::WindowHandle NotificationWindow = nullptr;
    platform::UsbHandle DeviceHandle = platform::kInvalidUsbHandle;
    platform::NotificationHandle InterfaceNotification = nullptr;
    platform::NotificationHandle HandleNotification = nullptr;
    platform::Guid InterfaceClass{};

    uint8_t Devices = 0;
    uint8_t Interfaces = 0;      // bNumInterfaces of the selected configuration
    uint8_t AltInterfaces = 0;   // interface objects of the selected configuration
    uint8_t Configurations = 0;  // bNumConfigurations
    uint8_t DevNum = 0;
    uint8_t CfgNum = 0;
    uint8_t IntfcNum = 0;
    uint8_t AltIntfcIndex = 0;

  private:
    bool OpenHandle(uint8_t deviceNumber);
    // GET_DESCRIPTOR on endpoint 0: the data area of `length` bytes (zeros
    // past what the device sent) and how many bytes it sent.
    bool GetDescriptor(uint16_t value, uint16_t index, uint16_t length, std::vector<uint8_t>& data,
                       uint32_t& received);
    void ReadDeviceDescriptor();
    void ReadStringLanguage();
    void ReadString(uint8_t index, char16_t* field);
    void ReadDriverInformation();
    void ReadConfiguration(uint8_t index);
    void CreateControlEndpoint();
    void SelectConfiguration();
    void SelectAlternateSetting(uint8_t alternateSetting);
    void AssignTypedEndpoints();
    void FreeDescriptorTree();
    // Fills a fixed field from a request that answers into it.
    template <typename T>
    void ReadScalar(uint32_t code, T& field);

    std::unique_ptr<CCyUSBControlEndpoint> control_;  // ControlEndPt points here
};

}  // namespace usb
