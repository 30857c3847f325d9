#include "usb/CCyUSBControlEndpoint.h"

#include <cstring>

#include "usb/DriverProtocol.h"

namespace usb {

uint32_t ControlTimeoutSeconds(uint32_t timeoutMs) {
    return timeoutMs >= 1 && timeoutMs <= 999 ? 1 : timeoutMs / 1000;
}

CCyUSBControlEndpoint::CCyUSBControlEndpoint(platform::UsbHandle handle, const uint8_t* descriptor)
    : CCyUSBEndpoint(handle, descriptor) {
    TransferMode = kBufferedTransfer;
}

TransferRecord CCyUSBControlEndpoint::BeginTransfer(uint8_t* buffer, int32_t length,
                                                    platform::UsbOverlapped& overlapped) {
    if (!HandleValid()) return nullptr;
    bIn = Direction == 1;
    const uint32_t dataLength = length > 0 ? static_cast<uint32_t>(length) : 0;
    auto record = std::make_unique<TransferRecordBuffer>(kTransferRecordSize + dataLength);
    SUsbTransferRecord header{};
    header.RequestType =
        static_cast<uint8_t>((Direction << 7) | ((ReqType & 3) << 5) | (Target & 0x1F));
    header.Request = ReqCode;
    header.Value = Value;
    header.Index = Index;
    header.Length = static_cast<uint16_t>(dataLength);
    header.TimeoutSeconds = ControlTimeoutSeconds(TimeOut);
    header.DataOffset = kTransferRecordSize;
    header.DataLength = dataLength;
    record->SetHeader(header);
    if (dataLength > 0) std::memcpy(record->data() + kTransferRecordSize, buffer, dataLength);
    return IssueInRecord(kIoctlControlTransfer, std::move(record), overlapped);
}

bool CCyUSBControlEndpoint::Read(uint8_t* buffer, int32_t& length) {
    Direction = 1;
    return Transfer(buffer, length);
}

bool CCyUSBControlEndpoint::Write(uint8_t* buffer, int32_t& length) {
    Direction = 0;
    return Transfer(buffer, length);
}

}  // namespace usb
