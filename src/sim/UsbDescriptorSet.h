#pragma once
// The descriptors a simulated device answers GET_DESCRIPTOR with, kept as the
// raw bytes a device would send so that tests can hand over malformed ones.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

struct UsbDescriptorSet {
    std::vector<uint8_t> device;                       // the 18-byte device descriptor
    std::vector<std::vector<uint8_t>> configurations;  // whole sets, by configuration index
    std::vector<uint8_t> languages;                    // string descriptor 0
    std::map<uint8_t, std::vector<uint8_t>> strings;   // string descriptors by index

    // The camera: one configuration, one interface whose setting 0 has a bulk
    // IN endpoint 0x82, a bulk OUT endpoint 0x02 and an interrupt IN 0x81.
    static UsbDescriptorSet Camera();
};

constexpr uint16_t kCameraVendorId = 0x04B4;
constexpr uint16_t kCameraProductId = 0x1002;
constexpr uint8_t kCameraBulkInAddress = 0x82;
constexpr uint8_t kCameraBulkOutAddress = 0x02;
constexpr uint8_t kCameraInterruptInAddress = 0x81;
constexpr uint16_t kCameraBulkPacketSize = 512;

// Builders for hand-made sets.
std::vector<uint8_t> DeviceDescriptor(uint16_t vendorId, uint16_t productId, uint8_t configurations,
                                      uint8_t packetSize0 = 64);
std::vector<uint8_t> ConfigurationDescriptor(uint16_t totalLength, uint8_t interfaces,
                                             uint8_t value = 1);
std::vector<uint8_t> InterfaceDescriptor(uint8_t number, uint8_t alternateSetting,
                                         uint8_t endpoints);
std::vector<uint8_t> EndpointDescriptor(uint8_t address, uint8_t attributes, uint16_t maxPacketSize,
                                        uint8_t interval = 0);
std::vector<uint8_t> LanguageDescriptor(const std::vector<uint16_t>& languages);
std::vector<uint8_t> StringDescriptor(const std::u16string& text);
// A configuration set from its interface and endpoint descriptors, with
// wTotalLength and bNumInterfaces filled in.
std::vector<uint8_t> ConfigurationSet(const std::vector<std::vector<uint8_t>>& descriptors,
                                      uint8_t interfaces = 1);

}  // namespace sim
