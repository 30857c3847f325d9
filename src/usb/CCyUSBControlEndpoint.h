#pragma once
// Endpoint 0: each transfer carries its setup fields in the record, and the
// data travel inside the record both ways.
#include "usb/CCyUSBEndpoint.h"

namespace usb {

class CCyUSBControlEndpoint : public CCyUSBEndpoint {
  public:
    // descriptor: an endpoint descriptor naming a control endpoint, or null
    // for endpoint 0, whose values the device fills in.
    explicit CCyUSBControlEndpoint(platform::UsbHandle handle, const uint8_t* descriptor = nullptr);

    TransferRecord BeginTransfer(uint8_t* buffer, int32_t length,
                                 platform::UsbOverlapped& overlapped) override;

    // Device to host, then host to device; length holds the payload moved.
    bool Read(uint8_t* buffer, int32_t& length);
    bool Write(uint8_t* buffer, int32_t& length);

    uint32_t Target = 0;     // recipient, 0 = device; 5 bits used
    uint32_t ReqType = 2;    // 2 = vendor; 2 bits used
    uint32_t Direction = 0;  // 0 host to device, 1 device to host
    uint8_t ReqCode = 0;
    uint16_t Value = 0;
    uint16_t Index = 0;
};

// The driver's timeout field counts whole seconds; any wait under a second
// still needs one, or the driver would not wait at all.
uint32_t ControlTimeoutSeconds(uint32_t timeoutMs);

}  // namespace usb
