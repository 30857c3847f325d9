// The records as they travel, byte for byte: the library, the simulated
// device and the tests all build them from the protocol headers, so only a
// literal here can notice a header that drifted from what the driver and the
// camera expect.
#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <vector>

#include "camera/VendorProtocol.h"
#include "sim/CameraFirmware.h"
#include "usb/DriverProtocol.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <typename Record>
Bytes Stored(const Record& record, size_t size) {
    Bytes bytes(size);
    usb::StoreRecord(bytes.data(), record);
    return bytes;
}

// The first `bytes` of the firmware's answer to a vendor read, after a zeroed
// block was sent with each of `writes` and, if asked, one frame was read.
Bytes FirmwareRecord(std::vector<uint16_t> writes, bool frame, uint16_t command, size_t bytes) {
    sim::CameraFirmware firmware(std::make_shared<sim::SimClock>(0.0));
    Bytes block(vendor::kBlockSize, 0);
    for (uint16_t write : writes)
        firmware.HandleControl({0x40, vendor::kRequest, write, 0, 64}, block.data(), 64);
    uint32_t produced = 0;
    if (frame) firmware.Fill(0x82, block.data(), 16, produced);
    firmware.HandleControl({0xC0, vendor::kRequest, command, 0, 64}, block.data(), 64);
    block.resize(bytes);
    return block;
}

TEST(WireProtocol, RecordsHaveTheirLiteralBytes) {
    const std::tuple<const char*, Bytes, Bytes> cases[] = {
        // Every field in record order, each with bytes of its own.
        {"transfer record",
         Stored(
             usb::SUsbTransferRecord{0xC0, vendor::kRequest, 0x0102, 0x0304, 0x0506, 0x0708090A, 0,
                                     0x82, usb::kDriverStatusCancelled, usb::kUsbStatusStall,
                                     0x11121314, 0x21222324, usb::kTransferRecordSize, 0x31323334},
             usb::kTransferRecordSize),
         {0xC0, 0xAB, 0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0x0A, 0x09, 0x08, 0x07, 0x00,
          0x82, 0x20, 0x01, 0x00, 0xC0, 0x04, 0x00, 0x00, 0xC0, 0x14, 0x13, 0x12, 0x11,
          0x24, 0x23, 0x22, 0x21, 0x26, 0x00, 0x00, 0x00, 0x34, 0x33, 0x32, 0x31}},
        {"buffer-size record",
         Stored(usb::SUsbBufferSizeRecord{0x82, 0x00012345}, usb::kBufferSizeRecordSize),
         {0x82, 0x45, 0x23, 0x01, 0x00}},
        // After one frame with a zero exposure: idle, one frame read.
        {"status record",
         FirmwareRecord({vendor::kFpga, vendor::kSoftwareTrigger}, true, vendor::kStatus, 11),
         {1, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0x01}},
        // With an unreachable setpoint the cooler runs flat out: full current
        // (300) on top, 2 % less below, the heat sink 2 K above ambient, the
        // sensor 60 K below the heat sink.
        {"temperature record",
         FirmwareRecord({vendor::kCalibration}, false, vendor::kTemperatures, 8),
         {0x75, 0x3F, 0x5D, 0xCF, 0x01, 0x2C, 0x01, 0x26}},
    };
    for (const auto& [name, produced, expected] : cases) EXPECT_EQ(produced, expected) << name;
}

}  // namespace
