#pragma once
// One endpoint of the open device: its descriptor values, timeout and the
// status of its last transfer. A transfer is one driver request, issued
// overlapped, waited for with the timeout and cancelled when the wait runs out.
#include <cstdint>

#include "platform/UsbDriver.h"
#include "usb/DriverProtocol.h"

namespace usb {

enum TransferMode : int32_t { kBufferedTransfer = 0, kDirectTransfer = 1 };

class CCyUSBEndpoint {
  public:
    // descriptor: the 7 bytes of an endpoint descriptor, or null for the
    // control endpoint, whose values the device fills in.
    CCyUSBEndpoint(platform::UsbHandle handle, const uint8_t* descriptor);
    virtual ~CCyUSBEndpoint() = default;
    CCyUSBEndpoint(const CCyUSBEndpoint&) = delete;
    CCyUSBEndpoint& operator=(const CCyUSBEndpoint&) = delete;

    // Each begin operation returns the record it issued (null when nothing was
    // issued); FinishTransfer takes it back and frees it.
    virtual TransferRecord BeginDirectTransfer(uint8_t* buffer, int32_t length,
                                               platform::UsbOverlapped& overlapped);
    virtual TransferRecord BeginBufferedTransfer(uint8_t* buffer, int32_t length,
                                                 platform::UsbOverlapped& overlapped);
    virtual TransferRecord BeginTransfer(uint8_t* buffer, int32_t length,
                                         platform::UsbOverlapped& overlapped) = 0;
    virtual bool FinishTransfer(uint8_t* buffer, int32_t& length,
                                platform::UsbOverlapped& overlapped, TransferRecord record,
                                uint8_t* packetTable);

    // One complete transfer; length holds the payload moved on return.
    // packetTable, when given, receives the isochronous packet table.
    bool Transfer(uint8_t* buffer, int32_t& length, uint8_t* packetTable = nullptr);
    bool WaitForTransfer(platform::UsbOverlapped& overlapped);
    // Cancels the endpoint's pending transfers; synchronous.
    bool Abort();
    uint32_t GetBufferSize();
    void SetBufferSize(uint32_t size);

    // Descriptor values.
    uint8_t DscLen = 0;
    uint8_t DscType = 0;
    uint8_t Address = 0;
    uint8_t Attributes = 0;
    uint16_t MaxPktSize = 0;
    uint16_t PktsPerFrame = 0;
    uint8_t Interval = 0;

    uint32_t TimeOut = 10000;  // milliseconds
    uint32_t UsbStatus = 0;
    uint32_t NtStatus = 0;  // the driver's status word
    uint32_t BytesTransferred = 0;
    uint32_t LastError = 0;
    bool bIn = false;
    int32_t TransferMode = kDirectTransfer;

    platform::UsbHandle DeviceHandle() const { return handle_; }

  protected:
    // Issues a record-carrying request whose data travel inside the record.
    TransferRecord IssueInRecord(uint32_t code, TransferRecord record,
                                 platform::UsbOverlapped& overlapped);
    // Issues a record with the caller's buffer as the output buffer.
    TransferRecord IssueDirect(TransferRecord record, uint8_t* buffer, int32_t length,
                               platform::UsbOverlapped& overlapped);
    bool HandleValid() const { return handle_ != platform::kInvalidUsbHandle; }

  private:
    platform::UsbHandle handle_;
};

}  // namespace usb
