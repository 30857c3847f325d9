#pragma once
// One interface descriptor (one interface in one alternate setting) with the
// endpoints that follow it in the configuration's descriptor set.
#include <array>
#include <cstdint>
#include <memory>

#include "platform/UsbDriver.h"
#include "usb/CCyUSBEndpoint.h"
#include "usb/UsbDescriptors.h"

namespace usb {

class CCyUSBInterface {
  public:
    // descriptor points at the interface descriptor; available is how many
    // bytes of the set remain from there (at least its 9). Never reads past
    // them: a descriptor that does not fit ends the walk.
    CCyUSBInterface(platform::UsbHandle handle, const uint8_t* descriptor, uint32_t available);
    CCyUSBInterface(const CCyUSBInterface&) = delete;
    CCyUSBInterface& operator=(const CCyUSBInterface&) = delete;

    // Entry 0 is left for the device's control endpoint; 1.. are owned here.
    std::array<CCyUSBEndpoint*, kMaxEndpointSlots> EndPoints{};

    uint8_t bLength = 0;
    uint8_t bDescriptorType = 0;
    uint8_t bInterfaceNumber = 0;
    uint8_t bAlternateSetting = 0;
    uint8_t bNumEndpoints = 0;  // as used: at most 15, however many the device claims
    uint8_t bInterfaceClass = 0;
    uint8_t bInterfaceSubClass = 0;
    uint8_t bInterfaceProtocol = 0;
    uint8_t iInterface = 0;
    uint8_t bAltSettings = 0;   // interface objects of the configuration with this number
    uint16_t wTotalLength = 0;  // bytes of its own and every descriptor walked for it

  private:
    std::unique_ptr<CCyUSBEndpoint> CreateEndpoint(platform::UsbHandle handle,
                                                   const uint8_t* descriptor) const;
    std::array<std::unique_ptr<CCyUSBEndpoint>, kMaxEndpointSlots> owned_;
};

}  // namespace usb
