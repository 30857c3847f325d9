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

// The status words of a transfer that failed on the bus or was cancelled.
enum : uint32_t {
    kUsbStatusStall = 0xC0000004,
    kUsbStatusCanceled = 0xC0010000,
    kDriverStatusCancelled = 0xC0000120,
    kDriverStatusUnsuccessful = 0xC0000001,
};

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
