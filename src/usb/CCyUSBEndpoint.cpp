#include "usb/CCyUSBEndpoint.h"

#include <algorithm>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/SystemError.h"
#include "usb/DriverProtocol.h"

namespace usb {

namespace {
uint32_t NonNegative(int32_t length) { return length > 0 ? static_cast<uint32_t>(length) : 0; }
}  // namespace

CCyUSBEndpoint::CCyUSBEndpoint(platform::UsbHandle handle, const uint8_t* descriptor)
    : handle_(handle) {
    if (descriptor == nullptr) return;
    DscLen = descriptor[0];
    DscType = descriptor[1];
    Address = descriptor[2];
    Attributes = descriptor[3];
    const uint16_t wMaxPacketSize = platform::LoadLe16(descriptor + 4);
    PktsPerFrame = static_cast<uint16_t>(((wMaxPacketSize >> 11) & 3) + 1);
    MaxPktSize = static_cast<uint16_t>((wMaxPacketSize & 0x7FF) * PktsPerFrame);
    Interval = descriptor[6];
    bIn = (Address & 0x80) != 0;
}

TransferRecord CCyUSBEndpoint::IssueInRecord(uint32_t code, TransferRecord record,
                                             platform::UsbOverlapped& overlapped) {
    uint8_t* bytes = record->data();
    platform::UsbDeviceRequest(handle_, code, bytes, record->size(), bytes, record->size(), nullptr,
                               &overlapped);
    LastError = platform::LastSystemError();
    return record;
}

TransferRecord CCyUSBEndpoint::IssueDirect(TransferRecord record, uint8_t* buffer, int32_t length,
                                           platform::UsbOverlapped& overlapped) {
    platform::UsbDeviceRequest(handle_, kIoctlDirectTransfer, record->data(), record->size(),
                               buffer, NonNegative(length), nullptr, &overlapped);
    LastError = platform::LastSystemError();
    return record;
}

TransferRecord CCyUSBEndpoint::BeginDirectTransfer(uint8_t* buffer, int32_t length,
                                                   platform::UsbOverlapped& overlapped) {
    if (!HandleValid()) return nullptr;
    auto record = std::make_unique<TransferRecordBuffer>(kTransferRecordSize);
    SUsbTransferRecord header{};
    header.EndpointAddress = Address;
    record->SetHeader(header);
    return IssueDirect(std::move(record), buffer, length, overlapped);
}

TransferRecord CCyUSBEndpoint::BeginBufferedTransfer(uint8_t* buffer, int32_t length,
                                                     platform::UsbOverlapped& overlapped) {
    if (!HandleValid()) return nullptr;
    const uint32_t dataLength = NonNegative(length);
    auto record = std::make_unique<TransferRecordBuffer>(kTransferRecordSize + dataLength);
    SUsbTransferRecord header{};
    header.EndpointAddress = Address;
    header.DataOffset = kTransferRecordSize;
    header.DataLength = dataLength;
    record->SetHeader(header);
    if (dataLength > 0) std::memcpy(record->data() + kTransferRecordSize, buffer, dataLength);
    return IssueInRecord(kIoctlBufferedTransfer, std::move(record), overlapped);
}

bool CCyUSBEndpoint::FinishTransfer(uint8_t* buffer, int32_t& length,
                                    platform::UsbOverlapped& overlapped, TransferRecord record,
                                    uint8_t* packetTable) {
    uint32_t count = 0;
    const bool ok = platform::UsbOverlappedResult(handle_, overlapped, count);
    const SUsbTransferRecord header = record->Header();
    // A count below the data offset is a driver fault; it moved nothing.
    const uint32_t payload = count > header.DataOffset ? count - header.DataOffset : 0;
    length = static_cast<int32_t>(std::min<uint32_t>(payload, INT32_MAX));
    BytesTransferred = static_cast<uint32_t>(length);
    UsbStatus = header.UsbStatus;
    NtStatus = header.DriverStatus;

    if (bIn && TransferMode == kBufferedTransfer && length > 0) {
        // Never copy more than the record holds, whatever the driver claims.
        const uint64_t available =
            header.DataOffset <= record->size() ? record->size() - header.DataOffset : 0;
        const uint32_t copy =
            static_cast<uint32_t>(std::min<uint64_t>(static_cast<uint32_t>(length), available));
        std::memcpy(buffer, record->data() + header.DataOffset, copy);
    }
    if (packetTable != nullptr && length >= 1) {
        // The table's place is read back from the driver's record; one that
        // no longer lies inside the record is not followed.
        const uint64_t end =
            static_cast<uint64_t>(header.PacketTableOffset) + header.PacketTableLength;
        if (end <= record->size()) {
            std::memset(packetTable, 0, header.PacketTableLength);
            std::memcpy(packetTable, record->data() + header.PacketTableOffset,
                        header.PacketTableLength);
        }
    }
    return ok && UsbStatus == 0 && NtStatus == 0;
}

bool CCyUSBEndpoint::Transfer(uint8_t* buffer, int32_t& length, uint8_t* packetTable) {
    platform::Event done(platform::EventReset::Auto);
    platform::UsbOverlapped overlapped(done);
    TransferRecord record = BeginTransfer(buffer, length, overlapped);
    if (!record) return false;
    const bool waited = WaitForTransfer(overlapped);
    const bool finished =
        FinishTransfer(buffer, length, overlapped, std::move(record), packetTable);
    return waited && finished;
}

bool CCyUSBEndpoint::WaitForTransfer(platform::UsbOverlapped& overlapped) {
    LastError = platform::LastSystemError();
    if (LastError == platform::kErrorSuccess) return true;
    if (LastError != platform::kErrorIoPending) return false;
    switch (overlapped.done().Wait(TimeOut)) {
        case platform::WaitStatus::Signaled:
            return true;
        case platform::WaitStatus::Timeout:
            // The record and buffer stay the driver's until it completes the
            // cancelled request, so the wait goes on without limit.
            Abort();
            overlapped.done().Wait(platform::kInfinite);
            return false;
        default:
            return false;
    }
}

bool CCyUSBEndpoint::Abort() {
    uint8_t address = Address;
    uint32_t returned = 0;
    return platform::UsbDeviceRequest(handle_, kIoctlAbortEndpoint, &address, 1, nullptr, 0,
                                      &returned, nullptr);
}

uint32_t CCyUSBEndpoint::GetBufferSize() {
    SUsbBufferSizeRecord record{Address, 0};
    uint32_t returned = 0;
    const bool ok = platform::UsbDeviceRequest(handle_, kIoctlGetBufferSize, &record, sizeof record,
                                               &record, sizeof record, &returned, nullptr);
    return ok && returned >= sizeof record ? record.Size : 0;
}

void CCyUSBEndpoint::SetBufferSize(uint32_t size) {
    if (!HandleValid()) return;
    // Without a packet size there is nothing to round to; the size goes as given.
    if (MaxPktSize != 0) size = (size / MaxPktSize + (size % MaxPktSize != 0)) * MaxPktSize;
    SUsbBufferSizeRecord record{Address, size};
    uint32_t returned = 0;
    platform::UsbDeviceRequest(handle_, kIoctlSetBufferSize, &record, sizeof record, &record,
                               sizeof record, &returned, nullptr);
}

}  // namespace usb
