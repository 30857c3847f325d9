#pragma once
// What the library and the camera's USB driver exchange: the request codes,
// the transfer record in front of every transfer's data, the buffer-size
// record and the status words a failed transfer leaves in its record.
#include <cstdint>
#include <cstring>
#include <memory>

namespace usb {

enum : uint32_t {
    kIoctlDriverVersion = 0x220000,
    kIoctlSecondVersion = 0x220004,
    kIoctlCurrentAltSetting = 0x220008,
    kIoctlAddress = 0x220010,
    kIoctlControlTransfer = 0x220020,
    kIoctlBufferedTransfer = 0x220024,
    kIoctlDirectTransfer = 0x22004B,
    kIoctlReleaseDevice = 0x220030,
    kIoctlGetBufferSize = 0x220034,
    kIoctlSetBufferSize = 0x220038,
    kIoctlNameTextA = 0x22003C,
    kIoctlNameTextB = 0x220040,
    kIoctlAbortEndpoint = 0x220044,
};

// Drivers from this version on move non-control data straight into the
// caller's buffer; older ones only through the transfer record.
constexpr uint32_t kFirstDirectDriverVersion = 0x01050500;

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the driver's records are little-endian; this host is not"
#endif

#pragma pack(push, 1)
struct SUsbTransferRecord {
    uint8_t RequestType;  // bmRequestType, control transfers only
    uint8_t Request;
    uint16_t Value;
    uint16_t Index;
    uint16_t Length;
    uint32_t TimeoutSeconds;
    uint8_t Reserved;
    uint8_t EndpointAddress;
    uint32_t DriverStatus;
    uint32_t UsbStatus;
    uint32_t PacketTableOffset;
    uint32_t PacketTableLength;
    uint32_t DataOffset;
    uint32_t DataLength;
};

struct SUsbBufferSizeRecord {
    uint8_t EndpointAddress;
    uint32_t Size;
};
#pragma pack(pop)

constexpr uint32_t kTransferRecordSize = 38;
constexpr uint32_t kBufferSizeRecordSize = 5;
static_assert(sizeof(SUsbTransferRecord) == kTransferRecordSize, "the driver expects 38 bytes");
static_assert(sizeof(SUsbBufferSizeRecord) == kBufferSizeRecordSize, "the driver expects 5 bytes");

// The records sit in byte buffers the driver writes to, unaligned, so they
// are read and written by copy.
template <typename Record>
Record LoadRecord(const uint8_t* bytes) {
    Record record;
    std::memcpy(&record, bytes, sizeof record);
    return record;
}

template <typename Record>
void StoreRecord(uint8_t* bytes, const Record& record) {
    std::memcpy(bytes, &record, sizeof record);
}

// What the driver reports for an endpoint whose buffer size was never set.
constexpr uint32_t kDefaultEndpointBufferSize = 0x10000;

// The status words of a transfer that failed on the bus or was cancelled.
enum : uint32_t {
    kUsbStatusStall = 0xC0000004,
    kUsbStatusDeviceNotResponding = 0xC0000005,
    kUsbStatusBabble = 0xC0000012,
    kUsbStatusCanceled = 0xC0010000,
    kDriverStatusCancelled = 0xC0000120,
    kDriverStatusUnsuccessful = 0xC0000001,
};

// A transfer request as a driver reads it: the endpoint, the setup packet of a
// control transfer, and where its data lie (inside the record, or the
// caller's own buffer for a direct transfer).
struct TransferRequest {
    uint8_t endpoint = 0;  // 0: a control transfer on endpoint 0
    bool in = false;
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
    uint32_t timeoutSeconds = 0;
    uint8_t* record = nullptr;
    uint32_t dataOffset = 0;  // 0 for a direct transfer: its count is the payload alone
    uint8_t* data = nullptr;
    uint32_t dataLength = 0;
};

// Takes a control (kIoctlControlTransfer), buffered (kIoctlBufferedTransfer)
// or direct (kIoctlDirectTransfer) request apart. False when the record is
// short, a record-carrying request does not answer in its own record, or its
// data area does not lie inside it: the driver refuses such a request with
// ERROR_INVALID_PARAMETER before anything reaches the bus.
inline bool DecodeTransferRequest(uint32_t code, const void* in, uint32_t inSize, void* out,
                                  uint32_t outSize, TransferRequest& request) {
    if (in == nullptr || inSize < kTransferRecordSize) return false;
    request = TransferRequest{};
    request.record = static_cast<uint8_t*>(const_cast<void*>(in));
    const auto header = LoadRecord<SUsbTransferRecord>(request.record);
    if (code == kIoctlDirectTransfer) {
        if (out == nullptr && outSize > 0) return false;
        request.data = static_cast<uint8_t*>(out);
        request.dataLength = outSize;
    } else {
        if (out != in || outSize != inSize) return false;
        if (header.DataOffset < kTransferRecordSize || header.DataOffset > inSize ||
            header.DataLength > inSize - header.DataOffset)
            return false;
        request.dataOffset = header.DataOffset;
        request.data = request.record + header.DataOffset;
        request.dataLength = header.DataLength;
    }
    if (code == kIoctlControlTransfer) {
        request.requestType = header.RequestType;
        request.request = header.Request;
        request.value = header.Value;
        request.index = header.Index;
        request.length = header.Length;
        request.in = (header.RequestType & 0x80) != 0;
    } else {
        request.endpoint = header.EndpointAddress;
        request.in = (header.EndpointAddress & 0x80) != 0;
    }
    request.timeoutSeconds = header.TimeoutSeconds;
    return true;
}

// Writes a finished transfer's status words into its record and gives the
// count the driver returns: the record up to the data, then the payload.
inline uint32_t CompleteTransferRecord(const TransferRequest& request, uint32_t bytes,
                                       uint32_t usbStatus, uint32_t driverStatus) {
    auto answer = LoadRecord<SUsbTransferRecord>(request.record);
    answer.DriverStatus = driverStatus;
    answer.UsbStatus = usbStatus;
    StoreRecord(request.record, answer);
    return request.dataOffset + bytes;
}

// One allocated record: the header and whatever follows it in the same
// allocation, the data area or the isochronous packet table.
class TransferRecordBuffer {
  public:
    // Zero-filled, size at least the header.
    explicit TransferRecordBuffer(uint32_t size)
        : size_(size < kTransferRecordSize ? kTransferRecordSize : size),
          bytes_(new uint8_t[size_]()) {}

    uint8_t* data() { return bytes_.get(); }
    uint32_t size() const { return size_; }

    SUsbTransferRecord Header() const { return LoadRecord<SUsbTransferRecord>(bytes_.get()); }
    void SetHeader(const SUsbTransferRecord& header) { StoreRecord(bytes_.get(), header); }

  private:
    uint32_t size_;
    std::unique_ptr<uint8_t[]> bytes_;
};

using TransferRecord = std::unique_ptr<TransferRecordBuffer>;

}  // namespace usb
