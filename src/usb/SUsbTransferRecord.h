#pragma once
// The header the driver exchanges for every transfer, followed in the same
// allocation by the data area or the isochronous packet table.
#include <cstdint>
#include <cstring>
#include <memory>

namespace usb {

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
#pragma pack(pop)

constexpr uint32_t kTransferRecordSize = 38;
static_assert(sizeof(SUsbTransferRecord) == kTransferRecordSize, "the driver expects 38 bytes");
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the driver's records are little-endian; this host is not"
#endif

// One allocated record: the header and whatever follows it. The header lives
// in a byte buffer the driver writes to, so it is read and written by copy.
class TransferRecordBuffer {
  public:
    // Zero-filled, size at least the header.
    explicit TransferRecordBuffer(uint32_t size)
        : size_(size < kTransferRecordSize ? kTransferRecordSize : size),
          bytes_(new uint8_t[size_]()) {}

    uint8_t* data() { return bytes_.get(); }
    uint32_t size() const { return size_; }

    SUsbTransferRecord Header() const {
        SUsbTransferRecord header;
        std::memcpy(&header, bytes_.get(), sizeof header);
        return header;
    }
    void SetHeader(const SUsbTransferRecord& header) {
        std::memcpy(bytes_.get(), &header, sizeof header);
    }

  private:
    uint32_t size_;
    std::unique_ptr<uint8_t[]> bytes_;
};

using TransferRecord = std::unique_ptr<TransferRecordBuffer>;

}  // namespace usb
