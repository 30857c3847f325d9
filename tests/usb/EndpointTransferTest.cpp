// Transfers as the driver sees them: the records sent, and what the endpoint
// makes of the driver's answers.
#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <thread>

#include "SimCamera.h"
#include "sim/PreparedFrameSource.h"
#include "usb/CCyUSBBulkEndpoint.h"
#include "usb/DriverProtocol.h"

namespace {

using usbtest::HeaderOf;
using usbtest::SimCamera;

// Answers every vendor read with a counting pattern and takes every write.
class EchoHandler : public sim::VendorRequestHandler {
  public:
    sim::ControlOutcome HandleControl(const sim::SetupPacket& setup, uint8_t* data,
                                      uint32_t length) override {
        for (uint32_t i = 0; setup.DeviceToHost() && i < length; ++i) data[i] = uint8_t(i + 1);
        return {false, length};
    }
};

// An opened camera, its requests so far forgotten.
class BulkTransfer : public ::testing::Test {
  protected:
    void SetUp() override {
        device = camera.Open();
        ASSERT_TRUE(device->IsOpen());
        bulkIn = device->BulkInEndPt;
        ASSERT_NE(bulkIn, nullptr);
        camera.device->ClearRequests();
    }

    SimCamera camera;
    std::unique_ptr<usb::CCyUSBDevice> device;
    usb::CCyUSBEndpoint* bulkIn = nullptr;
};

class ControlTransfer : public BulkTransfer {
  protected:
    void SetUp() override {
        BulkTransfer::SetUp();
        camera.device->SetVendorRequestHandler(handler);
        // Recipient, type and index stay as a new endpoint has them: the
        // device, vendor, 0.
        control = device->ControlEndPt;
        control->ReqCode = 0xAB;
        control->Value = 5;
    }

    bool Read(int32_t size) {
        length = size;
        return control->Read(buffer, length);
    }
    std::vector<uint8_t> LastRecord() {
        auto records = camera.Requests(usb::kIoctlControlTransfer);
        return records.empty() ? std::vector<uint8_t>{} : records.back().input;
    }

    std::shared_ptr<EchoHandler> handler = std::make_shared<EchoHandler>();
    usb::CCyUSBControlEndpoint* control = nullptr;
    uint8_t buffer[64] = {};
    int32_t length = 0;
};

TEST_F(ControlTransfer, VendorReadAndWriteSendTheSetupInTheRecordAndMoveTheData) {
    control->TimeOut = 500;
    ASSERT_TRUE(Read(64));
    auto records = camera.Requests(usb::kIoctlControlTransfer);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records[0].inputSize == 102u && records[0].outputSize == 102u);
    EXPECT_EQ(usbtest::SetupOf(records[0].input),
              (std::vector<uint32_t>{0xC0, 0xAB, 5, 64, 1, 0, 38, 64}));
    EXPECT_EQ(
        (std::vector<uint32_t>{uint32_t(length), control->BytesTransferred, buffer[0], buffer[63]}),
        (std::vector<uint32_t>{64, 64, 1, 64}));

    uint8_t data[4] = {9, 8, 7, 6};
    length = 4;
    ASSERT_TRUE(control->Write(data, length));
    auto record = LastRecord();
    ASSERT_EQ(record.size(), 42u);
    EXPECT_EQ(+HeaderOf(record).RequestType, 0x40);
    EXPECT_EQ(std::vector<uint8_t>(record.begin() + 38, record.end()),
              std::vector<uint8_t>(data, data + 4));

    control->Target = 0x23;  // only 5 bits count
    control->ReqType = 5;    // only 2 bits count
    ASSERT_TRUE(Read(1));
    EXPECT_EQ(+HeaderOf(LastRecord()).RequestType, 0x80 | 0x20 | 0x03);

    // Whole seconds, at least one below a second.
    const std::pair<uint32_t, uint32_t> timeouts[] = {{0, 0}, {1, 1}, {999, 1}, {2500, 2}};
    for (const auto& [ms, seconds] : timeouts)
        EXPECT_EQ(usb::ControlTimeoutSeconds(ms), seconds) << ms;
}

// Each status word describes one transfer only; an empty answer (a count
// equal to the data offset) is a success that copies nothing.
TEST_F(ControlTransfer, FailedStalledOrEmptyAnswersAreReportedPerTransfer) {
    for (const auto& [usbStatus, ntStatus] : {std::pair{0xC0000004u, 0u}, {0u, 0xC0000001u}}) {
        camera.device->FailNextTransfer(usbStatus, ntStatus);
        EXPECT_FALSE(Read(8));
        EXPECT_EQ(std::pair(+control->UsbStatus, +control->NtStatus),
                  std::pair(usbStatus, ntStatus));
    }

    buffer[0] = 0xEE;
    camera.device->ShortenNextTransfer(0);
    ASSERT_TRUE(Read(64));
    EXPECT_EQ((std::vector<uint32_t>{uint32_t(length), control->BytesTransferred, buffer[0],
                                     control->NtStatus}),
              (std::vector<uint32_t>{0, 0, 0xEE, 0}));

    camera.device->SetVendorRequestHandler(nullptr);
    EXPECT_FALSE(Read(8));
    EXPECT_EQ(+control->UsbStatus, usb::kUsbStatusStall) << "a request nobody handles stalls";
}

// The capture thread waits in a bulk transfer until readout begins while
// other threads go on reading the camera's state over endpoint 0. The device
// has nothing to send until it is given a frame.
TEST_F(ControlTransfer, PendingBulkTransferDoesNotHoldUpControlTransfers) {
    std::vector<uint8_t> frame(8192);
    std::atomic<bool> captured{false};
    std::thread capture([&] {
        int32_t size = static_cast<int32_t>(frame.size());
        captured = bulkIn->Transfer(frame.data(), size) && size == 8192;
    });
    for (int i = 0; i < 20; ++i) {
        buffer[63] = 0;
        ASSERT_TRUE(Read(64) && buffer[63] == 64) << i;
    }
    EXPECT_FALSE(captured.load());
    camera.device->SetFrameSource(
        std::make_shared<sim::PreparedFrameSource>(std::vector<uint8_t>(8192, 0x22)));
    capture.join();
    EXPECT_TRUE(captured.load());
    EXPECT_EQ(frame[8191], 0x22);
}

// Direct transfers land in the caller's buffer without a copy; buffered ones
// carry the data in the record.
TEST_F(BulkTransfer, DirectAndBufferedTransfersMoveTheFrame) {
    for (bool direct : {true, false}) {
        SCOPED_TRACE(direct ? "direct" : "buffered");
        camera.device->ClearRequests();
        bulkIn->TransferMode = direct ? usb::kDirectTransfer : usb::kBufferedTransfer;
        std::vector<uint8_t> frame(1000);
        std::iota(frame.begin(), frame.end(), 0);
        auto source = std::make_shared<sim::PreparedFrameSource>(frame);
        camera.device->SetFrameSource(source);
        std::vector<uint8_t> buffer(1024);
        int32_t length = 1024;
        ASSERT_TRUE(bulkIn->Transfer(buffer.data(), length));
        EXPECT_EQ(length, 1000);
        EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 1000), frame);
        EXPECT_EQ(buffer[1000], 0);

        auto sent =
            camera.Requests(direct ? usb::kIoctlDirectTransfer : usb::kIoctlBufferedTransfer);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].inputSize, direct ? 38u : 38u + 1024u);
        const usb::SUsbTransferRecord header = HeaderOf(sent[0].input);
        EXPECT_EQ(+header.EndpointAddress, 0x82);
        if (direct) {
            EXPECT_TRUE(source->LastBuffer() == buffer.data() && sent[0].output == buffer.data());
            EXPECT_TRUE(sent[0].outputSize == 1024u && sent[0].overlapped);
        } else {
            EXPECT_EQ(std::pair(+header.DataOffset, +header.DataLength), std::pair(38u, 1024u));
        }
    }
}

TEST_F(BulkTransfer, StalledTransferIsAbortedAtTimeoutAndFails) {
    camera.device->StallNextTransfer();
    bulkIn->TimeOut = 30;
    std::vector<uint8_t> buffer(512);
    int32_t length = 512;
    EXPECT_FALSE(bulkIn->Transfer(buffer.data(), length));

    auto aborts = camera.Requests(usb::kIoctlAbortEndpoint);
    ASSERT_EQ(aborts.size(), 1u);
    EXPECT_EQ(aborts[0].input, std::vector<uint8_t>{0x82});
    EXPECT_FALSE(aborts[0].overlapped || aborts[0].outputSize);
    EXPECT_EQ(camera.device->PendingTransfers(), 0u) << "the cancelled request was waited for";
    EXPECT_TRUE(length == 0 && bulkIn->UsbStatus != 0u);
}

TEST_F(BulkTransfer, BufferSizeIsRoundedToWholePacketsAndAShortAnswerReadsAsZero) {
    ASSERT_EQ(bulkIn->MaxPktSize, 512);
    for (uint32_t size : {513u, 0u, 100000u}) bulkIn->SetBufferSize(size);
    auto sets = camera.Requests(usb::kIoctlSetBufferSize);
    ASSERT_EQ(sets.size(), 3u);
    EXPECT_EQ(sets[0].inputSize, 5u);
    const uint32_t rounded[] = {1024, 0, 100352};
    for (size_t i = 0; i < 3; ++i) {
        const auto record = usb::LoadRecord<usb::SUsbBufferSizeRecord>(sets[i].input.data());
        EXPECT_EQ(std::pair(+record.EndpointAddress, +record.Size), std::pair(0x82, rounded[i]));
    }
    EXPECT_EQ(bulkIn->GetBufferSize(), 100352u);
    EXPECT_EQ(camera.device->BufferSize(0x02), 0x10000u) << "kept per endpoint";

    camera.device->LimitAnswer(usb::kIoctlGetBufferSize, 4);
    EXPECT_EQ(bulkIn->GetBufferSize(), 0u);
    camera.device->LimitAnswer(usb::kIoctlGetBufferSize, 5);
    EXPECT_EQ(bulkIn->GetBufferSize(), 100352u);
    camera.device->FailRequest(usb::kIoctlGetBufferSize, 31);
    EXPECT_EQ(bulkIn->GetBufferSize(), 0u);
}

TEST_F(BulkTransfer, ClosedDeviceIssuesNothing) {
    uint8_t buffer[64];
    device->Close();
    usb::CCyUSBBulkEndpoint orphan(platform::kInvalidUsbHandle, nullptr);
    int32_t length = 64;
    EXPECT_FALSE(orphan.Transfer(buffer, length));
    orphan.SetBufferSize(512);
    EXPECT_EQ(orphan.GetBufferSize(), 0u);
    EXPECT_TRUE(camera.Requests(usb::kIoctlDirectTransfer).empty() &&
                camera.Requests(usb::kIoctlSetBufferSize).empty());
}

}  // namespace
