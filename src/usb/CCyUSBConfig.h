#pragma once
// One configuration: its descriptor fields and an object per interface
// descriptor (per interface and alternate setting) found in its set.
#include <array>
#include <cstdint>
#include <memory>

#include "platform/UsbDriver.h"
#include "usb/CCyUSBInterface.h"
#include "usb/UsbDescriptors.h"

namespace usb {

class CCyUSBConfig {
  public:
    // set holds the whole configuration descriptor set, size bytes of it (at
    // least the 9 of the configuration descriptor). The walk stays inside
    // both size and wTotalLength.
    CCyUSBConfig(platform::UsbHandle handle, const uint8_t* set, uint32_t size);
    CCyUSBConfig(const CCyUSBConfig&) = delete;
    CCyUSBConfig& operator=(const CCyUSBConfig&) = delete;

    CCyUSBInterface* Interface(uint32_t index) const {
        return index < kMaxInterfaceObjects ? Interfaces[index].get() : nullptr;
    }

    std::array<std::unique_ptr<CCyUSBInterface>, kMaxInterfaceObjects> Interfaces;

    uint8_t bLength = 0;
    uint8_t bDescriptorType = 0;
    uint16_t wTotalLength = 0;
    uint8_t bNumInterfaces = 0;
    uint8_t bConfigurationValue = 0;
    uint8_t iConfiguration = 0;
    uint8_t bmAttributes = 0;
    uint8_t MaxPower = 0;
    uint8_t AltInterfaces = 0;  // interface objects built
};

}  // namespace usb
