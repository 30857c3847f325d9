#include "usb/CCyUSBIsocEndpoint.h"

#include <cstdint>
#include <cstring>

#include "usb/DriverProtocol.h"

namespace usb {

uint32_t CCyUSBIsocEndpoint::PacketCount(int32_t length) const {
    // A zero packet size would divide by zero; such an endpoint moves nothing.
    if (length <= 0 || MaxPktSize == 0) return 0;
    return (static_cast<uint32_t>(length) + MaxPktSize - 1u) / MaxPktSize;
}

TransferRecord CCyUSBIsocEndpoint::BeginDirectTransfer(uint8_t* buffer, int32_t length,
                                                       platform::UsbOverlapped& overlapped) {
    if (!HandleValid()) return nullptr;
    const uint32_t packets = PacketCount(length);
    if (packets == 0) return nullptr;
    if (uint64_t{kIsocPacketEntrySize} * packets > INT32_MAX) return nullptr;
    const uint32_t tableLength = kIsocPacketEntrySize * packets;
    auto record = std::make_unique<TransferRecordBuffer>(kTransferRecordSize + tableLength);
    SUsbTransferRecord header{};
    header.EndpointAddress = Address;
    header.PacketTableOffset = kTransferRecordSize;
    header.PacketTableLength = tableLength;
    record->SetHeader(header);
    return IssueDirect(std::move(record), buffer, length, overlapped);
}

TransferRecord CCyUSBIsocEndpoint::BeginBufferedTransfer(uint8_t* buffer, int32_t length,
                                                         platform::UsbOverlapped& overlapped) {
    if (!HandleValid()) return nullptr;
    const uint32_t packets = PacketCount(length);
    if (packets == 0) return nullptr;
    const uint64_t tableLength = uint64_t{kIsocPacketEntrySize} * packets;
    const uint32_t dataLength = static_cast<uint32_t>(length);
    // One-byte packets would need a table eight times the data; refuse sizes
    // whose record cannot be described in 32 bits.
    if (uint64_t{kTransferRecordSize} + tableLength + dataLength > INT32_MAX) return nullptr;
    const uint32_t dataOffset = kTransferRecordSize + static_cast<uint32_t>(tableLength);
    auto record = std::make_unique<TransferRecordBuffer>(dataOffset + dataLength);
    SUsbTransferRecord header{};
    header.EndpointAddress = Address;
    header.PacketTableOffset = kTransferRecordSize;
    header.PacketTableLength = static_cast<uint32_t>(tableLength);
    header.DataOffset = dataOffset;
    header.DataLength = dataLength;
    record->SetHeader(header);
    std::memcpy(record->data() + dataOffset, buffer, dataLength);
    return IssueInRecord(kIoctlBufferedTransfer, std::move(record), overlapped);
}

TransferRecord CCyUSBIsocEndpoint::BeginTransfer(uint8_t* buffer, int32_t length,
                                                 platform::UsbOverlapped& overlapped) {
    if (!HandleValid()) return nullptr;
    return TransferMode == kDirectTransfer ? BeginDirectTransfer(buffer, length, overlapped)
                                           : BeginBufferedTransfer(buffer, length, overlapped);
}

}  // namespace usb
