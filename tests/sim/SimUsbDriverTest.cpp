// The simulated driver through the seam, as the library's USB code meets it:
// the request protocol, asynchronous completion, cancelling, unplugging, and
// how the seam picks it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <tuple>

#include "camera/VendorProtocol.h"
#include "platform/SystemError.h"
#include "platform/UsbDriver.h"
#include "sim/SimUsbDriver.h"
#include "sim/SimulatedCamera.h"
#include "support/Environment.h"
#include "usb/DriverProtocol.h"

namespace {

constexpr uint32_t kRecord = usb::kTransferRecordSize;
using Header = usb::SUsbTransferRecord;

// A control transfer's record with `length` data bytes behind it.
std::vector<uint8_t> ControlRecord(uint8_t requestType, uint16_t length, uint16_t value = 0,
                                   uint32_t dataOffset = kRecord, uint32_t dataLength = 0) {
    std::vector<uint8_t> record(kRecord + length, 0);
    usb::StoreRecord(record.data(),
                     Header{requestType, vendor::kRequest, value, 0, length, 0, 0, 0, 0, 0, 0, 0,
                            dataOffset, dataLength ? dataLength : length});
    return record;
}

class SimDriver : public ::testing::Test {
  protected:
    void SetUp() override {
        handle = platform::OpenUsbDevice(session.driver().Publish(device));
        ASSERT_NE(handle, platform::kInvalidUsbHandle);
    }
    void TearDown() override { platform::CloseUsbDevice(handle); }

    // The request in place: the answer overwrites what was sent.
    bool Request(uint32_t code, void* data, uint32_t size,
                 platform::UsbOverlapped* pending = nullptr) {
        return platform::UsbDeviceRequest(handle, code, data, size, data, size,
                                          pending ? nullptr : &returned, pending);
    }
    bool Request(uint32_t code, std::vector<uint8_t> record) {
        return Request(code, record.data(), static_cast<uint32_t>(record.size()));
    }
    bool Abort(uint8_t endpoint) { return Request(usb::kIoctlAbortEndpoint, &endpoint, 1); }
    // A direct bulk IN request on 0x82 into `buffer`, overlapped.
    void BeginBulkIn() {
        Header header{};
        header.EndpointAddress = 0x82;
        usb::StoreRecord(record, header);
        EXPECT_FALSE(platform::UsbDeviceRequest(handle, usb::kIoctlDirectTransfer, record, kRecord,
                                                buffer, sizeof buffer, nullptr, &overlapped));
        EXPECT_EQ(platform::LastSystemError(), platform::kErrorIoPending);
    }
    // The pending request, once complete, has failed with `error`.
    void ExpectFailedWith(uint32_t error) {
        ASSERT_EQ(done.Wait(5000), platform::WaitStatus::Signaled);
        uint32_t count = 0;
        EXPECT_FALSE(platform::UsbOverlappedResult(handle, overlapped, count));
        EXPECT_EQ(platform::LastSystemError(), error);
    }

    sim::SimUsbSession session;
    std::shared_ptr<sim::SimUsbDevice> device = std::make_shared<sim::SimUsbDevice>();
    platform::UsbHandle handle = platform::kInvalidUsbHandle;
    uint32_t returned = 0;
    uint8_t record[kRecord] = {};
    uint8_t buffer[64] = {};
    platform::Event done{platform::EventReset::Auto};
    platform::UsbOverlapped overlapped{done};
};

TEST_F(SimDriver, RequestsItCannotServeAreRefusedAsTheSystemDriverRefusesThem) {
    char name[8];
    device->SetNameTexts("a long driver name", "b");
    ASSERT_TRUE(Request(usb::kIoctlNameTextA, name, 8));
    EXPECT_STREQ(name, "a long ") << "cut to the buffer, still terminated";
    uint8_t version[4] = {};
    EXPECT_FALSE(Request(usb::kIoctlDriverVersion, version, 2)) << "too small";
    EXPECT_FALSE(Request(0x220123, nullptr, 0)) << "unknown code";
    EXPECT_FALSE(platform::UsbDeviceRequest(handle + 1, usb::kIoctlDriverVersion, version, 4,
                                            version, 4, &returned, nullptr));
    EXPECT_EQ(platform::LastSystemError(), platform::kErrorInvalidHandle);
    EXPECT_EQ(platform::OpenUsbDevice("\\\\?\\nothing"), platform::kInvalidUsbHandle);

    EXPECT_FALSE(Request(usb::kIoctlControlTransfer, ControlRecord(0xC0, 16, 0, kRecord, 1000)))
        << "data past the record";
    EXPECT_EQ(platform::LastSystemError(), platform::kErrorInvalidParameter);
    EXPECT_FALSE(Request(usb::kIoctlControlTransfer, ControlRecord(0xC0, 16, 0, 4)))
        << "data inside the header";
    EXPECT_FALSE(Request(usb::kIoctlDirectTransfer, std::vector<uint8_t>(20)));
}

// The host sees a write complete only once the device has acted on it: the
// camera reads state back straight after its writes.
TEST_F(SimDriver, AWriteCompletesAfterTheDeviceHasActedOnIt) {
    struct WriteHandler : sim::VendorRequestHandler {
        explicit WriteHandler(platform::Event& completion) : completion(completion) {}
        sim::ControlOutcome HandleControl(const sim::SetupPacket&, uint8_t* data,
                                          uint32_t length) override {
            completedFirst = completion.Wait(0) == platform::WaitStatus::Signaled;
            written = data[0];
            return {false, length};
        }
        platform::Event& completion;
        std::atomic<bool> completedFirst{false};
        std::atomic<uint8_t> written{0};
    };
    auto handler = std::make_shared<WriteHandler>(done);
    device->SetVendorRequestHandler(handler);
    auto write = ControlRecord(0x40, 1);
    write[kRecord] = 42;
    EXPECT_FALSE(Request(usb::kIoctlControlTransfer, write.data(), kRecord + 1, &overlapped));
    EXPECT_EQ(platform::LastSystemError(), platform::kErrorIoPending);
    ASSERT_EQ(done.Wait(5000), platform::WaitStatus::Signaled);
    uint32_t count = 0;
    EXPECT_TRUE(platform::UsbOverlappedResult(handle, overlapped, count));
    EXPECT_EQ((std::tuple{handler->completedFirst.load(), +handler->written.load(), count}),
              (std::tuple{false, 42, kRecord + 1}));
}

// Pending until the device answers (the endpoint cases see the answer); an
// abort withdraws only its endpoint's transfers, an unplug all of them.
TEST_F(SimDriver, PendingTransfersEndByAbortOrUnplug) {
    BeginBulkIn();
    uint32_t count = 99;
    EXPECT_FALSE(platform::UsbOverlappedResult(handle, overlapped, count));
    EXPECT_EQ(platform::LastSystemError(), platform::kErrorIoIncomplete);
    ASSERT_TRUE(Abort(0x81));
    EXPECT_EQ(done.Wait(50), platform::WaitStatus::Timeout);
    ASSERT_TRUE(Abort(0x82));
    ExpectFailedWith(platform::kErrorOperationAborted);
    EXPECT_EQ(+usb::LoadRecord<Header>(record).UsbStatus, usb::kUsbStatusCanceled);
    EXPECT_EQ(device->PendingTransfers(), 0u);

    BeginBulkIn();
    session.driver().Unplug(device);
    ExpectFailedWith(platform::kErrorDeviceNotConnected);
    EXPECT_FALSE(platform::OpenDeviceInterfaceList(sim::CameraInterfaceClass())->Enumerate(0));
}

TEST(UsbBackendSelection, TestChoiceThenEnvironmentThenDefault) {
    sim::RegisterSimUsbBackend();
    auto other = std::make_shared<sim::SimUsbDriver>();  // any second backend
    platform::RegisterUsbDriverBackend("other", other);
    platform::SelectUsbDriverBackend("other");
    EXPECT_EQ(platform::ActiveUsbDriverBackend(), other);
    platform::SelectUsbDriverBackend("");
    testsupport::SetVariable("VELA2_USB_BACKEND", "sim");
    EXPECT_EQ(platform::ActiveUsbDriverBackend(), sim::SimUsbDriver::Instance());
    testsupport::SetVariable("VELA2_USB_BACKEND", "");
#ifdef _WIN32
    EXPECT_EQ(platform::ActiveUsbDriverBackend(), platform::OsUsbDriverBackend());
#else
    EXPECT_EQ(platform::ActiveUsbDriverBackend(), nullptr)
        << "two in-process backends and no OS driver: nobody guesses";
#endif
    platform::RegisterUsbDriverBackend("other", nullptr);
}

// The camera a process finds by itself answers at the pace the environment
// asks for, and is published once.
TEST(DefaultCamera, LatencyTakenFromTheEnvironmentAndPublishedOnce) {
    // Refused texts give the default.
    const int64_t fallback = sim::SimulatedCamera::kDefaultControlLatency.count();
    const std::pair<const char*, int64_t> cases[] = {
        {"0", 0},         {"1000000", 1000000},
        {"", fallback},   {"1000001", fallback},
        {"-1", fallback}, {"12x", fallback},
        {" 5", fallback}, {"99999999999999999999", fallback}};
    for (const auto& [text, micros] : cases) {
        testsupport::SetVariable("VELA2_SIM_CONTROL_LATENCY_US", text);
        EXPECT_EQ(sim::SimulatedCamera::ControlLatencyFromEnvironment().count(), micros)
            << '"' << text << '"';
    }
    sim::SimUsbSession session;
    testsupport::SetVariable("VELA2_SIM_CONTROL_LATENCY_US", "20000");
    ASSERT_TRUE(sim::SimulatedCamera::EnsureDefaultPublished());
    testsupport::SetVariable("VELA2_SIM_CONTROL_LATENCY_US", "");
    EXPECT_TRUE(sim::SimulatedCamera::EnsureDefaultPublished());
    std::string path;
    auto list = platform::OpenDeviceInterfaceList(sim::CameraInterfaceClass());
    EXPECT_FALSE(list->Enumerate(1)) << "published once: a camera was there already";
    ASSERT_TRUE(list->DevicePath(0, path));
    const platform::UsbHandle handle = platform::OpenUsbDevice(path);
    ASSERT_NE(handle, platform::kInvalidUsbHandle);
    auto status = ControlRecord(0xC0, 64, vendor::kStatus);
    const auto size = static_cast<uint32_t>(status.size());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(platform::UsbDeviceRequest(handle, usb::kIoctlControlTransfer, status.data(), size,
                                           status.data(), size, nullptr, nullptr));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
    platform::CloseUsbDevice(handle);
}

TEST(InterfaceClassText, ParsesTheRegistryFormOnly) {
    platform::Guid guid{};
    ASSERT_TRUE(platform::ParseGuid("{C3085563-87DB-4e0a-ABDC-5747B2EB9BF3}", guid));
    EXPECT_TRUE(guid.data1 == 0xC3085563u && guid.data4[7] == 0xF3);
    EXPECT_EQ(platform::GuidText(guid), "{C3085563-87DB-4E0A-ABDC-5747B2EB9BF3}");
    for (const char* bad :
         {"", "C3085563-87DB-4e0a-ABDC-5747B2EB9BF3", "{C3085563-87DB-4e0a-ABDC-5747B2EB9BFG}",
          "{C3085563-87DB-4e0a-ABDC5747B2EB9BF3-}", "{C3085563-87DB-4e0a-ABDC-5747B2EB9BF3}x"}) {
        platform::Guid untouched{};
        EXPECT_FALSE(platform::ParseGuid(bad, untouched) || untouched.data1) << bad;
    }
}

}  // namespace
