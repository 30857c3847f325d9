#include "usb/CCyUSBConfig.h"

#include <algorithm>

#include "platform/ByteOrder.h"

namespace usb {

CCyUSBConfig::CCyUSBConfig(platform::UsbHandle handle, const uint8_t* set, uint32_t size) {
    bLength = set[0];
    bDescriptorType = set[1];
    wTotalLength = platform::LoadLe16(set + 2);
    bNumInterfaces = set[4];
    bConfigurationValue = set[5];
    iConfiguration = set[6];
    bmAttributes = set[7];
    MaxPower = set[8];

    const uint32_t end = std::min<uint32_t>(size, wTotalLength);
    // Walk from the end of the configuration descriptor, whatever bLength it claims.
    uint32_t offset = kConfigurationDescriptorSize;
    while (AltInterfaces < kMaxInterfaceObjects) {
        const uint32_t length = DescriptorLengthAt(set, end, offset);
        if (length == 0) break;
        if (set[offset + 1] == kDescriptorInterface && length >= kInterfaceDescriptorSize) {
            auto object = std::make_unique<CCyUSBInterface>(handle, set + offset, end - offset);
            offset += object->wTotalLength;
            Interfaces[AltInterfaces++] = std::move(object);
        } else {
            offset += length;
        }
    }
    for (uint32_t i = 0; i < AltInterfaces; ++i) {
        const uint8_t number = Interfaces[i]->bInterfaceNumber;
        Interfaces[i]->bAltSettings = static_cast<uint8_t>(std::count_if(
            Interfaces.begin(), Interfaces.begin() + AltInterfaces,
            [number](const auto& other) { return other->bInterfaceNumber == number; }));
    }
}

}  // namespace usb
