#include "usb/CCyUSBInterface.h"

#include <algorithm>

#include "usb/CCyUSBBulkEndpoint.h"
#include "usb/CCyUSBControlEndpoint.h"
#include "usb/CCyUSBIsocEndpoint.h"

namespace usb {

CCyUSBInterface::CCyUSBInterface(platform::UsbHandle handle, const uint8_t* descriptor,
                                 uint32_t available) {
    bLength = descriptor[0];
    bDescriptorType = descriptor[1];
    bInterfaceNumber = descriptor[2];
    bAlternateSetting = descriptor[3];
    bNumEndpoints = static_cast<uint8_t>(std::min<uint32_t>(descriptor[4], kMaxEndpointSlots - 1));
    bInterfaceClass = descriptor[5];
    bInterfaceSubClass = descriptor[6];
    bInterfaceProtocol = descriptor[7];
    iInterface = descriptor[8];

    uint32_t offset = bLength;
    uint32_t walked = bLength;
    uint32_t skipped = 0;
    for (uint32_t slot = 1; slot <= bNumEndpoints; ++slot) {
        const uint32_t length = DescriptorLengthAt(descriptor, available, offset);
        if (length == 0) break;
        walked += length;
        if (descriptor[offset + 1] == kDescriptorEndpoint) {
            if (length >= kEndpointDescriptorSize)
                owned_[slot] = CreateEndpoint(handle, descriptor + offset);
            EndPoints[slot] = owned_[slot].get();
            offset += length;
        } else if (skipped < kMaxSkippedDescriptors) {
            // Class-specific descriptors sit between endpoints without taking a slot.
            ++skipped;
            offset += length;
            --slot;
        }
        // A twelfth one uses up the slot where it stands, so the walk still ends.
    }
    wTotalLength = static_cast<uint16_t>(std::min<uint32_t>(walked, UINT16_MAX));
}

std::unique_ptr<CCyUSBEndpoint> CCyUSBInterface::CreateEndpoint(platform::UsbHandle handle,
                                                                const uint8_t* descriptor) const {
    // The whole attributes byte decides: isochronous endpoints with
    // synchronisation or usage bits get no object.
    switch (descriptor[3]) {
        case 0:
            return std::make_unique<CCyUSBControlEndpoint>(handle, descriptor);
        case 1:
            return std::make_unique<CCyUSBIsocEndpoint>(handle, descriptor);
        case 2:
        case 3:
            return std::make_unique<CCyUSBBulkEndpoint>(handle, descriptor);
        default:
            return nullptr;
    }
}

}  // namespace usb
