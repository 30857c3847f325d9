#include "usb/CCyUSBBulkEndpoint.h"

namespace usb {

TransferRecord CCyUSBBulkEndpoint::BeginTransfer(uint8_t* buffer, int32_t length,
                                                 platform::UsbOverlapped& overlapped) {
    if (!HandleValid()) return nullptr;
    return TransferMode == kDirectTransfer ? BeginDirectTransfer(buffer, length, overlapped)
                                           : BeginBufferedTransfer(buffer, length, overlapped);
}

}  // namespace usb
