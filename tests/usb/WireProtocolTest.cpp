// The records as they travel, byte for byte: the library, the simulated
// device and the tests all build them from the protocol headers, so only a
// literal here can notice a header that drifted from what the driver and the
// camera expect.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "camera/VendorProtocol.h"
#include "sim/CameraFirmware.h"
#include "usb/DriverProtocol.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes TransferRecord() {
    Bytes bytes(usb::kTransferRecordSize);
    // Every field in record order, each with bytes of its own.
    usb::StoreRecord(
        bytes.data(),
        usb::SUsbTransferRecord{0xC0, vendor::kRequest, 0x0102, 0x0304, 0x0506, 0x0708090A, 0, 0x82,
                                usb::kDriverStatusCancelled, usb::kUsbStatusStall, 0x11121314,
                                0x21222324, usb::kTransferRecordSize, 0x31323334});
    return bytes;
}

Bytes SizeRecord() {
    Bytes bytes(usb::kBufferSizeRecordSize);
    usb::StoreRecord(bytes.data(), usb::SUsbBufferSizeRecord{0x82, 0x00012345});
    return bytes;
}

// The first bytes of a record the firmware answers to a vendor read.
Bytes FirmwareRecord(sim::CameraFirmware& firmware, uint16_t command, size_t bytes) {
    Bytes record(vendor::kBlockSize);
    const sim::SetupPacket setup{0xC0, vendor::kRequest, command, 0, 64};
    firmware.HandleControl(setup, record.data(), 64);
    record.resize(bytes);
    return record;
}

// After one frame with a zero exposure: idle, one frame read.
Bytes StatusRecord() {
    sim::CameraFirmware firmware;
    Bytes fpga(vendor::kBlockSize, 0);
    uint8_t trigger = 0;
    firmware.HandleControl({0x40, vendor::kRequest, vendor::kFpga, 0, 64}, fpga.data(), 64);
    firmware.HandleControl({0x40, vendor::kRequest, vendor::kSoftwareTrigger, 0, 1}, &trigger, 1);
    Bytes frame(16);
    uint32_t produced = 0;
    firmware.Fill(0x82, frame.data(), 16, produced);
    return FirmwareRecord(firmware, vendor::kStatus, 11);
}

// With an unreachable setpoint the cooler runs flat out: full current (300)
// on top, 2 % less below, the heat sink 2 K above ambient, the sensor 60 K
// below the heat sink.
Bytes TemperatureRecord() {
    auto clock = std::make_shared<sim::SimClock>(0.0);
    sim::CameraFirmware firmware(clock);
    Bytes calibration(vendor::kBlockSize, 0);
    firmware.HandleControl({0x40, vendor::kRequest, vendor::kCalibration, 0, 64},
                           calibration.data(), 64);
    return FirmwareRecord(firmware, vendor::kTemperatures, 8);
}

struct Case {
    const char* name;
    std::function<Bytes()> produce;
    Bytes expected;
};

TEST(WireProtocol, RecordsHaveTheirLiteralBytes) {
    const Case cases[] = {
        {"transfer record",
         TransferRecord,
         {0xC0, 0xAB, 0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0x0A, 0x09, 0x08, 0x07, 0x00,
          0x82, 0x20, 0x01, 0x00, 0xC0, 0x04, 0x00, 0x00, 0xC0, 0x14, 0x13, 0x12, 0x11,
          0x24, 0x23, 0x22, 0x21, 0x26, 0x00, 0x00, 0x00, 0x34, 0x33, 0x32, 0x31}},
        {"buffer-size record", SizeRecord, {0x82, 0x45, 0x23, 0x01, 0x00}},
        {"status record", StatusRecord, {1, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0x01}},
        {"temperature record", TemperatureRecord, {0x75, 0x3F, 0x5D, 0xCF, 0x01, 0x2C, 0x01, 0x26}},
    };
    for (const Case& c : cases) EXPECT_EQ(c.produce(), c.expected) << c.name;
}

}  // namespace
