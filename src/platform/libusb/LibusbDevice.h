#pragma once
// One camera opened through libusb, answering the driver's requests as the
// Windows driver does: the transfer records become libusb transfers (data
// moved straight into the caller's buffer or the record's data area, never
// copied), the information requests are answered from libusb's view of the
// device, and the endpoint buffer sizes are kept here.
#include <libusb.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/UsbDriver.h"
#include "usb/DriverProtocol.h"

namespace platform {

class LibusbDevice {
  public:
    // Takes an open handle whose interface `interfaceNumber` is claimed.
    // `node` is the device file, for messages.
    LibusbDevice(libusb_device_handle* handle, int interfaceNumber, std::string node);
    // Cancels what is pending, waits (bounded) for it to complete, lets the
    // interface go and closes the handle. The event thread must still run.
    ~LibusbDevice();
    LibusbDevice(const LibusbDevice&) = delete;
    LibusbDevice& operator=(const LibusbDevice&) = delete;

    libusb_device* Device() const { return libusb_get_device(handle_); }
    const std::string& Node() const { return node_; }

    // A driver request, as UsbDeviceRequest describes it. Blocks until a
    // synchronous transfer completes (bounded by its record's timeout, for
    // control transfers); never holds a lock while waiting.
    bool Request(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                 uint32_t* bytesReturned, UsbOverlapped* overlapped);

    // The device left the bus and its removal is being noticed: what is
    // pending ends with ERROR_DEVICE_NOT_CONNECTED, and so does every later
    // request.
    void MarkGone();
    // True once MarkGone ran: the removal was handed on.
    bool RemovalNoticed();

    // Called with the device when a transfer finds it gone; set once, before
    // any request.
    void OnGone(std::function<void(LibusbDevice&)> report) { onGone_ = std::move(report); }

  private:
    struct Pending;

    void ReadEndpointTypes();
    bool SubmitTransfer(uint32_t code, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                        uint32_t* bytesReturned, UsbOverlapped* overlapped);
    // Gives the count of bytes answered.
    bool AnswerInformation(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out,
                           uint32_t outSize, uint32_t& count);
    void CancelPending(uint8_t endpoint, bool everyEndpoint);
    static void LIBUSB_CALL TransferDone(libusb_transfer* transfer);
    void Finish(Pending& pending, const libusb_transfer& transfer);
    unsigned char TypeOf(uint8_t endpoint) const;

    libusb_device_handle* handle_;
    int interface_;
    std::string node_;
    std::map<uint8_t, unsigned char> endpointTypes_;  // LIBUSB_TRANSFER_TYPE_*, by address
    std::function<void(LibusbDevice&)> onGone_;

    std::mutex mutex_;  // everything below
    std::condition_variable drained_;
    std::set<Pending*> pending_;
    std::map<uint8_t, uint32_t> bufferSizes_;
    bool gone_ = false;
    bool removalNoticed_ = false;
};

}  // namespace platform
