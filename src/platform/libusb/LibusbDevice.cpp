#include "platform/libusb/LibusbDevice.h"

#include <algorithm>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/DebugTrace.h"
#include "platform/SystemError.h"

namespace platform {

namespace {

// Closing waits this long for cancelled transfers to come back; libusb
// removes any still out when the handle closes.
constexpr auto kDrainLimit = std::chrono::seconds(5);

bool Fail(uint32_t error) {
    SetLastSystemError(error);
    return false;
}

// A finished transfer in the driver's words.
struct Outcome {
    uint32_t usbStatus = 0;
    uint32_t driverStatus = 0;
    uint32_t error = 0;
};

Outcome OutcomeOf(libusb_transfer_status status, bool gone) {
    switch (status) {
        case LIBUSB_TRANSFER_COMPLETED:
            return {};
        case LIBUSB_TRANSFER_STALL:
            // The request itself succeeds; the status words say the device refused.
            return {usb::kUsbStatusStall, usb::kDriverStatusUnsuccessful, 0};
        case LIBUSB_TRANSFER_CANCELLED:
        case LIBUSB_TRANSFER_TIMED_OUT:
            return {usb::kUsbStatusCanceled, usb::kDriverStatusCancelled,
                    gone ? kErrorDeviceNotConnected : kErrorOperationAborted};
        case LIBUSB_TRANSFER_NO_DEVICE:
            return {usb::kUsbStatusCanceled, usb::kDriverStatusCancelled, kErrorDeviceNotConnected};
        case LIBUSB_TRANSFER_OVERFLOW:
            return {usb::kUsbStatusBabble, usb::kDriverStatusUnsuccessful, kErrorGenFailure};
        case LIBUSB_TRANSFER_ERROR:
        default:
            return {usb::kUsbStatusDeviceNotResponding, usb::kDriverStatusUnsuccessful,
                    kErrorGenFailure};
    }
}

// libusb's version as one number, for the driver's second version.
uint32_t LibraryVersion() {
    const libusb_version* version = libusb_get_version();
    return (uint32_t(version->major) << 24) | (uint32_t(version->minor) << 16) |
           (uint32_t(version->micro) & 0xFFFF);
}

// A name text as the driver gives it: cut to the buffer, always terminated.
uint32_t StoreText(uint8_t* out, uint32_t outSize, const std::string& text) {
    const uint32_t length = std::min<uint32_t>(static_cast<uint32_t>(text.size()), outSize - 1);
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
    return length + 1;
}

}  // namespace

// One transfer in flight. A synchronous caller owns it and waits on `done`;
// an overlapped one's is freed by the completion.
struct LibusbDevice::Pending {
    LibusbDevice* device = nullptr;
    usb::TransferRequest request;
    libusb_transfer* transfer = nullptr;
    UsbOverlapped* overlapped = nullptr;
    // A control transfer's setup packet and data stage, which libusb wants
    // in one piece; the record has its header in front of the data instead.
    std::unique_ptr<uint8_t[]> control;

    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    uint32_t count = 0;
    uint32_t error = 0;

    ~Pending() {
        if (transfer != nullptr) libusb_free_transfer(transfer);
    }
};

LibusbDevice::LibusbDevice(libusb_device_handle* handle, int interfaceNumber, std::string node)
    : handle_(handle), interface_(interfaceNumber), node_(std::move(node)) {
    try {
        ReadEndpointTypes();
    } catch (const std::bad_alloc&) {
        endpointTypes_.clear();  // every endpoint taken for bulk: what the camera has
    }
}

void LibusbDevice::ReadEndpointTypes() {
    libusb_config_descriptor* raw = nullptr;
    if (libusb_get_active_config_descriptor(Device(), &raw) != LIBUSB_SUCCESS) return;
    const std::unique_ptr<libusb_config_descriptor, void (*)(libusb_config_descriptor*)> config(
        raw, libusb_free_config_descriptor);
    for (int i = 0; i < config->bNumInterfaces; ++i)
        for (int a = 0; a < config->interface[i].num_altsetting; ++a) {
            const libusb_interface_descriptor& setting = config->interface[i].altsetting[a];
            for (int e = 0; e < setting.bNumEndpoints; ++e)
                endpointTypes_.emplace(setting.endpoint[e].bEndpointAddress,
                                       setting.endpoint[e].bmAttributes & 3);
        }
}

LibusbDevice::~LibusbDevice() {
    CancelPending(0, true);
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!drained_.wait_for(lock, kDrainLimit, [this] { return pending_.empty(); }))
            DebugTrace("USB transfers of %s did not end when it closed.", node_.c_str());
    }
    if (interface_ >= 0) libusb_release_interface(handle_, interface_);
    libusb_close(handle_);
}

void LibusbDevice::MarkGone() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        gone_ = removalNoticed_ = true;
    }
    CancelPending(0, true);
}

bool LibusbDevice::RemovalNoticed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return removalNoticed_;
}

bool LibusbDevice::Request(uint32_t code, const void* in, uint32_t inSize, void* out,
                           uint32_t outSize, uint32_t* bytesReturned, UsbOverlapped* overlapped) {
    if (bytesReturned) *bytesReturned = 0;
    if ((in == nullptr && inSize > 0) || (out == nullptr && outSize > 0))
        return Fail(kErrorInvalidParameter);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (gone_) return Fail(kErrorDeviceNotConnected);
    }
    if (code == usb::kIoctlControlTransfer || code == usb::kIoctlBufferedTransfer ||
        code == usb::kIoctlDirectTransfer)
        return SubmitTransfer(code, in, inSize, out, outSize, bytesReturned, overlapped);
    uint32_t count = 0;
    if (!AnswerInformation(code, static_cast<const uint8_t*>(in), inSize,
                           static_cast<uint8_t*>(out), outSize, count))
        return false;
    if (bytesReturned) *bytesReturned = count;
    // An overlapped request the driver finishes at once still completes it.
    if (overlapped) overlapped->Complete(count, 0);
    SetLastSystemError(0);
    return true;
}

bool LibusbDevice::AnswerInformation(uint32_t code, const uint8_t* in, uint32_t inSize,
                                     uint8_t* out, uint32_t outSize, uint32_t& count) {
    switch (code) {
        case usb::kIoctlDriverVersion:
        case usb::kIoctlSecondVersion:
            if (outSize < 4) return Fail(kErrorInvalidParameter);
            // Data go straight into callers' buffers, as the driver
            // generation that first did so: that version is what it reports.
            StoreLe32(out, code == usb::kIoctlDriverVersion ? usb::kFirstDirectDriverVersion
                                                            : LibraryVersion());
            count = 4;
            break;
        case usb::kIoctlCurrentAltSetting:
            if (outSize < 1) return Fail(kErrorInvalidParameter);
            out[0] = 0;  // claimed as it is, never switched
            count = 1;
            break;
        case usb::kIoctlAddress:
            if (outSize < 1) return Fail(kErrorInvalidParameter);
            out[0] = libusb_get_device_address(Device());
            count = 1;
            break;
        case usb::kIoctlNameTextA:
        case usb::kIoctlNameTextB:
            if (outSize < 1) return Fail(kErrorInvalidParameter);
            count = StoreText(out, outSize, code == usb::kIoctlNameTextA ? "libusb" : node_);
            break;
        case usb::kIoctlReleaseDevice: {
            // A device the bring-up lets go is free for other programs at once.
            std::lock_guard<std::mutex> lock(mutex_);
            if (interface_ >= 0) libusb_release_interface(handle_, interface_);
            interface_ = -1;
            break;
        }
        case usb::kIoctlGetBufferSize:
        case usb::kIoctlSetBufferSize: {
            if (inSize < usb::kBufferSizeRecordSize) return Fail(kErrorInvalidParameter);
            auto record = usb::LoadRecord<usb::SUsbBufferSizeRecord>(in);
            std::lock_guard<std::mutex> lock(mutex_);
            if (code == usb::kIoctlSetBufferSize)
                bufferSizes_[record.EndpointAddress] = record.Size;
            if (outSize < usb::kBufferSizeRecordSize) break;
            auto size = bufferSizes_.find(record.EndpointAddress);
            record.Size =
                size == bufferSizes_.end() ? usb::kDefaultEndpointBufferSize : size->second;
            usb::StoreRecord(out, record);
            count = usb::kBufferSizeRecordSize;
            break;
        }
        case usb::kIoctlAbortEndpoint:
            if (inSize < 1) return Fail(kErrorInvalidParameter);
            CancelPending(in[0], false);
            break;
        default:
            return Fail(kErrorInvalidFunction);
    }
    return true;
}

unsigned char LibusbDevice::TypeOf(uint8_t endpoint) const {
    auto it = endpointTypes_.find(endpoint);
    return it == endpointTypes_.end() ? static_cast<unsigned char>(LIBUSB_TRANSFER_TYPE_BULK)
                                      : it->second;
}

bool LibusbDevice::SubmitTransfer(uint32_t code, const void* in, uint32_t inSize, void* out,
                                  uint32_t outSize, uint32_t* bytesReturned,
                                  UsbOverlapped* overlapped) {
    auto pending = std::make_unique<Pending>();
    pending->device = this;
    pending->overlapped = overlapped;
    usb::TransferRequest& request = pending->request;
    if (!usb::DecodeTransferRequest(code, in, inSize, out, outSize, request))
        return Fail(kErrorInvalidParameter);
    const bool control = code == usb::kIoctlControlTransfer;
    if (control && request.dataLength > 0xFFFF) return Fail(kErrorInvalidParameter);
    if (!control && request.dataLength > INT32_MAX) return Fail(kErrorInvalidParameter);
    pending->transfer = libusb_alloc_transfer(0);
    if (pending->transfer == nullptr) return Fail(kErrorNotEnoughMemory);

    if (control) {
        const uint32_t size = LIBUSB_CONTROL_SETUP_SIZE + request.dataLength;
        pending->control.reset(new (std::nothrow) uint8_t[size]);
        if (!pending->control) return Fail(kErrorNotEnoughMemory);
        // The setup packet's length is the data stage's, whatever the record's
        // header claims: libusb moves exactly that many bytes.
        libusb_fill_control_setup(pending->control.get(), request.requestType, request.request,
                                  request.value, request.index,
                                  static_cast<uint16_t>(request.dataLength));
        if (!request.in && request.dataLength > 0)
            std::memcpy(pending->control.get() + LIBUSB_CONTROL_SETUP_SIZE, request.data,
                        request.dataLength);
        const unsigned int timeoutMs =
            request.timeoutSeconds > UINT32_MAX / 1000 ? 0 : request.timeoutSeconds * 1000;
        libusb_fill_control_transfer(pending->transfer, handle_, pending->control.get(),
                                     &LibusbDevice::TransferDone, pending.get(), timeoutMs);
    } else {
        const unsigned char type = TypeOf(request.endpoint);
        if (type == LIBUSB_TRANSFER_TYPE_ISOCHRONOUS) return Fail(kErrorInvalidFunction);
        // No copy: libusb moves the data where the caller wants them. Such
        // transfers end when they are done or aborted, as the driver's do.
        libusb_fill_bulk_transfer(pending->transfer, handle_, request.endpoint, request.data,
                                  static_cast<int>(request.dataLength), &LibusbDevice::TransferDone,
                                  pending.get(), 0);
        pending->transfer->type = type;
    }

    Pending* submitted = pending.get();
    bool refusedGone = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (gone_) return Fail(kErrorDeviceNotConnected);
        const int result = libusb_submit_transfer(submitted->transfer);
        if (result == LIBUSB_SUCCESS) {
            pending_.insert(submitted);
        } else {
            DebugTrace("A USB transfer to %s was refused: %s", node_.c_str(),
                       libusb_error_name(result));
            if (result != LIBUSB_ERROR_NO_DEVICE) return Fail(kErrorGenFailure);
            gone_ = refusedGone = true;
        }
    }
    if (refusedGone) {
        if (onGone_) onGone_(*this);
        return Fail(kErrorDeviceNotConnected);
    }
    if (overlapped != nullptr) {
        pending.release();  // the completion frees it
        return Fail(kErrorIoPending);
    }
    std::unique_lock<std::mutex> lock(submitted->mutex);
    submitted->done.wait(lock, [submitted] { return submitted->finished; });
    if (bytesReturned) *bytesReturned = submitted->count;
    if (submitted->error != 0) return Fail(submitted->error);
    SetLastSystemError(0);
    return true;
}

void LIBUSB_CALL LibusbDevice::TransferDone(libusb_transfer* transfer) {
    auto* pending = static_cast<Pending*>(transfer->user_data);
    try {
        pending->device->Finish(*pending, *transfer);
    } catch (...) {
        // Nothing here throws; libusb's thread must never see an exception.
    }
}

void LibusbDevice::Finish(Pending& pending, const libusb_transfer& transfer) {
    const usb::TransferRequest& request = pending.request;
    uint32_t bytes = transfer.actual_length > 0 ? static_cast<uint32_t>(transfer.actual_length) : 0;
    bytes = std::min(bytes, request.dataLength);
    if (pending.control && request.in && bytes > 0)
        std::memcpy(request.data, libusb_control_transfer_get_data(pending.transfer), bytes);

    bool gone = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        gone = gone_;
    }
    if (transfer.status == LIBUSB_TRANSFER_NO_DEVICE && !gone) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            gone_ = true;
        }
        if (onGone_) onGone_(*this);
    }
    const Outcome outcome = OutcomeOf(transfer.status, gone);
    const uint32_t count =
        usb::CompleteTransferRecord(request, bytes, outcome.usbStatus, outcome.driverStatus);
    UsbOverlapped* overlapped = pending.overlapped;
    {
        // The last touch of this device: once the pending set is empty, a
        // closing thread may destroy it.
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.erase(&pending);
        drained_.notify_all();
    }
    if (overlapped != nullptr) {
        delete &pending;
        overlapped->Complete(count, outcome.error);
        return;
    }
    std::lock_guard<std::mutex> lock(pending.mutex);
    pending.count = count;
    pending.error = outcome.error;
    pending.finished = true;
    pending.done.notify_all();
}

void LibusbDevice::CancelPending(uint8_t endpoint, bool everyEndpoint) {
    // Under the lock: a transfer stays allocated until its completion has
    // taken it out of the set, so each pointer here is still valid.
    std::lock_guard<std::mutex> lock(mutex_);
    for (Pending* pending : pending_)
        if (everyEndpoint || pending->request.endpoint == endpoint)
            libusb_cancel_transfer(pending->transfer);
}

}  // namespace platform
