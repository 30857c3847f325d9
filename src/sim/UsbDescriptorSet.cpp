#include "sim/UsbDescriptorSet.h"

#include "platform/ByteOrder.h"

namespace sim {

namespace {
void PutWord(std::vector<uint8_t>& bytes, uint16_t value) {
    bytes.resize(bytes.size() + 2);
    platform::StoreLe16(&bytes[bytes.size() - 2], value);
}
}  // namespace

std::vector<uint8_t> DeviceDescriptor(uint16_t vendorId, uint16_t productId, uint8_t configurations,
                                      uint8_t packetSize0) {
    std::vector<uint8_t> d{18, 1};
    PutWord(d, 0x0200);  // bcdUSB
    d.insert(d.end(), {0xFF, 0x00, 0x00, packetSize0});
    PutWord(d, vendorId);
    PutWord(d, productId);
    PutWord(d, 0x0001);  // bcdDevice
    d.insert(d.end(), {1, 2, 3, configurations});
    return d;
}

std::vector<uint8_t> ConfigurationDescriptor(uint16_t totalLength, uint8_t interfaces,
                                             uint8_t value) {
    std::vector<uint8_t> d{9, 2};
    PutWord(d, totalLength);
    d.insert(d.end(), {interfaces, value, 0, 0x80, 50});
    return d;
}

std::vector<uint8_t> InterfaceDescriptor(uint8_t number, uint8_t alternateSetting,
                                         uint8_t endpoints) {
    return {9, 4, number, alternateSetting, endpoints, 0xFF, 0x00, 0x00, 0};
}

std::vector<uint8_t> EndpointDescriptor(uint8_t address, uint8_t attributes, uint16_t maxPacketSize,
                                        uint8_t interval) {
    std::vector<uint8_t> d{7, 5, address, attributes};
    PutWord(d, maxPacketSize);
    d.push_back(interval);
    return d;
}

std::vector<uint8_t> LanguageDescriptor(const std::vector<uint16_t>& languages) {
    std::vector<uint8_t> d{static_cast<uint8_t>(2 + 2 * languages.size()), 3};
    for (uint16_t language : languages) PutWord(d, language);
    return d;
}

std::vector<uint8_t> StringDescriptor(const std::u16string& text) {
    std::vector<uint8_t> d{static_cast<uint8_t>(2 + 2 * text.size()), 3};
    for (char16_t c : text) PutWord(d, static_cast<uint16_t>(c));
    return d;
}

std::vector<uint8_t> ConfigurationSet(const std::vector<std::vector<uint8_t>>& descriptors,
                                      uint8_t interfaces) {
    size_t total = 9;
    for (const auto& d : descriptors) total += d.size();
    std::vector<uint8_t> set = ConfigurationDescriptor(static_cast<uint16_t>(total), interfaces);
    for (const auto& d : descriptors) set.insert(set.end(), d.begin(), d.end());
    return set;
}

UsbDescriptorSet UsbDescriptorSet::Camera() {
    UsbDescriptorSet set;
    set.device = DeviceDescriptor(kCameraVendorId, kCameraProductId, 1);
    set.configurations.push_back(ConfigurationSet({
        InterfaceDescriptor(0, 0, 3),
        EndpointDescriptor(kCameraBulkInAddress, 2, kCameraBulkPacketSize),
        EndpointDescriptor(kCameraBulkOutAddress, 2, kCameraBulkPacketSize),
        EndpointDescriptor(kCameraInterruptInAddress, 3, 64, 1),
    }));
    set.languages = LanguageDescriptor({0x0409});
    set.strings[1] = StringDescriptor(u"Quintaris Riravir");
    set.strings[2] = StringDescriptor(u"VELA2 USB Camera");
    set.strings[3] = StringDescriptor(u"SIM0001");
    return set;
}

}  // namespace sim
