#pragma once
// A bulk or interrupt endpoint: the transfer mode picks direct or buffered.
#include "usb/CCyUSBEndpoint.h"

namespace usb {

class CCyUSBBulkEndpoint : public CCyUSBEndpoint {
  public:
    using CCyUSBEndpoint::CCyUSBEndpoint;
    TransferRecord BeginTransfer(uint8_t* buffer, int32_t length,
                                 platform::UsbOverlapped& overlapped) override;
};

}  // namespace usb
