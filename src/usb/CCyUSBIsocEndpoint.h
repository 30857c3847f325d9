#pragma once
// An isochronous endpoint: its records carry a packet table of 8 bytes per
// packet, which the driver fills and the caller may take back.
#include "usb/CCyUSBEndpoint.h"

namespace usb {

constexpr uint32_t kIsocPacketEntrySize = 8;

class CCyUSBIsocEndpoint : public CCyUSBEndpoint {
  public:
    using CCyUSBEndpoint::CCyUSBEndpoint;
    TransferRecord BeginDirectTransfer(uint8_t* buffer, int32_t length,
                                       platform::UsbOverlapped& overlapped) override;
    TransferRecord BeginBufferedTransfer(uint8_t* buffer, int32_t length,
                                         platform::UsbOverlapped& overlapped) override;
    TransferRecord BeginTransfer(uint8_t* buffer, int32_t length,
                                 platform::UsbOverlapped& overlapped) override;

  private:
    // Packets for length bytes; 0 when nothing can be issued.
    uint32_t PacketCount(int32_t length) const;
};

}  // namespace usb
