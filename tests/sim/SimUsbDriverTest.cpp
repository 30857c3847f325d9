// The simulated driver through the seam, as the library's USB code meets it:
// the request protocol, asynchronous completion, cancelling, unplugging, and
// how the seam picks it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/SystemError.h"
#include "platform/UsbDriver.h"
#include "sim/PreparedFrameSource.h"
#include "sim/SimUsbDriver.h"

namespace {

constexpr uint32_t kRecord = 38;

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// A record asking for a vendor control transfer with `length` data bytes.
std::vector<uint8_t> ControlRecord(uint8_t requestType, uint8_t request, uint16_t length) {
    std::vector<uint8_t> record(kRecord + length, 0);
    record[0] = requestType;
    record[1] = request;
    record[6] = static_cast<uint8_t>(length);
    record[7] = static_cast<uint8_t>(length >> 8);
    Put32(&record[30], kRecord);
    Put32(&record[34], length);
    return record;
}

class SimDriver : public ::testing::Test {
  protected:
    void SetUp() override {
        path = session.driver().Publish(device);
        handle = platform::OpenUsbDevice(path);
        ASSERT_NE(handle, platform::kInvalidUsbHandle);
    }
    void TearDown() override { platform::CloseUsbDevice(handle); }

    // A direct bulk IN request on 0x82 into `buffer`, overlapped.
    bool BeginBulkIn(uint8_t* record, std::vector<uint8_t>& buffer,
                     platform::UsbOverlapped& overlapped) {
        std::memset(record, 0, kRecord);
        record[13] = 0x82;
        return platform::UsbDeviceRequest(handle, 0x22004B, record, kRecord, buffer.data(),
                                          static_cast<uint32_t>(buffer.size()), nullptr,
                                          &overlapped);
    }

    sim::SimUsbSession session;
    std::shared_ptr<sim::SimUsbDevice> device = std::make_shared<sim::SimUsbDevice>();
    std::string path;
    platform::UsbHandle handle = platform::kInvalidUsbHandle;
};

TEST_F(SimDriver, InterfaceListEndsWithNoMoreItems) {
    auto list = platform::OpenDeviceInterfaceList(sim::CameraInterfaceClass());
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->Enumerate(0));
    EXPECT_FALSE(list->Enumerate(1));
    EXPECT_EQ(platform::LastSystemError(), platform::kErrorNoMoreItems);
    std::string found;
    ASSERT_TRUE(list->DevicePath(0, found));
    EXPECT_EQ(found, path);
    EXPECT_EQ(platform::OpenUsbDevice("\\\\?\\nothing"), platform::kInvalidUsbHandle);
}

TEST_F(SimDriver, InformationRequestsAnswerInTheCallersBuffer) {
    device->SetDriverVersion(0x01020304);
    uint8_t version[4] = {};
    uint32_t returned = 0;
    ASSERT_TRUE(
        platform::UsbDeviceRequest(handle, 0x220000, version, 4, version, 4, &returned, nullptr));
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(Get32(version), 0x01020304u);

    char name[8];
    device->SetNameTexts("a long driver name", "b");
    ASSERT_TRUE(platform::UsbDeviceRequest(handle, 0x22003C, name, 8, name, 8, &returned, nullptr));
    EXPECT_STREQ(name, "a long ") << "cut to the buffer, still terminated";

    uint8_t tooSmall[2];
    EXPECT_FALSE(
        platform::UsbDeviceRequest(handle, 0x220000, tooSmall, 2, tooSmall, 2, &returned, nullptr));
    EXPECT_FALSE(
        platform::UsbDeviceRequest(handle, 0x220123, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_FALSE(platform::UsbDeviceRequest(handle + 1, 0x220000, version, 4, version, 4, &returned,
                                            nullptr));
    EXPECT_EQ(platform::LastSystemError(), platform::kErrorInvalidHandle);
}

TEST_F(SimDriver, MalformedRecordsAreRefusedNotFollowed) {
    auto record = ControlRecord(0xC0, 1, 16);
    Put32(&record[34], 1000);  // data length past the record
    EXPECT_FALSE(platform::UsbDeviceRequest(
        handle, 0x220020, record.data(), static_cast<uint32_t>(record.size()), record.data(),
        static_cast<uint32_t>(record.size()), nullptr, nullptr));
    EXPECT_EQ(platform::LastSystemError(), platform::kErrorInvalidParameter);

    record = ControlRecord(0xC0, 1, 16);
    Put32(&record[30], 4);  // data inside the header
    EXPECT_FALSE(platform::UsbDeviceRequest(
        handle, 0x220020, record.data(), static_cast<uint32_t>(record.size()), record.data(),
        static_cast<uint32_t>(record.size()), nullptr, nullptr));
    uint8_t shortRecord[20] = {};
    EXPECT_FALSE(platform::UsbDeviceRequest(handle, 0x22004B, shortRecord, 20, shortRecord, 20,
                                            nullptr, nullptr));
}

TEST_F(SimDriver, ControlWriteChangesModelStateBeforeItCompletes) {
    class StateHandler : public sim::VendorRequestHandler {
      public:
        sim::ControlOutcome HandleControl(const sim::SetupPacket& setup, uint8_t* data,
                                          uint32_t length) override {
            if (!setup.DeviceToHost()) {
                state = data[0];
                return {false, length};
            }
            data[0] = state;
            return {false, 1};
        }
        std::atomic<uint8_t> state{0};
    };
    auto handler = std::make_shared<StateHandler>();
    device->SetVendorRequestHandler(handler);

    auto write = ControlRecord(0x40, 0xAB, 1);
    write[kRecord] = 42;
    platform::Event done(platform::EventReset::Auto);
    platform::UsbOverlapped overlapped(done);
    EXPECT_FALSE(platform::UsbDeviceRequest(handle, 0x220020, write.data(), 39, write.data(), 39,
                                            nullptr, &overlapped));
    EXPECT_EQ(platform::LastSystemError(), platform::kErrorIoPending);
    ASSERT_EQ(done.Wait(5000), platform::WaitStatus::Signaled);
    EXPECT_EQ(handler->state.load(), 42) << "in place once the write is seen complete";
    uint32_t count = 0;
    EXPECT_TRUE(platform::UsbOverlappedResult(handle, overlapped, count));
    EXPECT_EQ(count, kRecord + 1);

    auto read = ControlRecord(0xC0, 0xAB, 1);
    uint32_t returned = 0;
    ASSERT_TRUE(platform::UsbDeviceRequest(handle, 0x220020, read.data(), 39, read.data(), 39,
                                           &returned, nullptr));
    EXPECT_EQ(returned, 39u);
    EXPECT_EQ(read[kRecord], 42);
    EXPECT_EQ(Get32(&read[14]), 0u);
    EXPECT_EQ(Get32(&read[18]), 0u);
}

TEST_F(SimDriver, PendingResultIsIncompleteUntilTheDeviceAnswers) {
    std::vector<uint8_t> buffer(64);
    uint8_t record[kRecord];
    platform::Event done(platform::EventReset::Auto);
    platform::UsbOverlapped overlapped(done);
    EXPECT_FALSE(BeginBulkIn(record, buffer, overlapped));
    EXPECT_EQ(platform::LastSystemError(), platform::kErrorIoPending);
    uint32_t count = 99;
    EXPECT_FALSE(platform::UsbOverlappedResult(handle, overlapped, count));
    EXPECT_EQ(platform::LastSystemError(), platform::kErrorIoIncomplete);

    device->SetFrameSource(std::make_shared<sim::PreparedFrameSource>(std::vector<uint8_t>(40, 7)));
    ASSERT_EQ(done.Wait(5000), platform::WaitStatus::Signaled);
    EXPECT_TRUE(platform::UsbOverlappedResult(handle, overlapped, count));
    EXPECT_EQ(count, 40u);
    EXPECT_EQ(buffer[39], 7);
}

TEST_F(SimDriver, AbortCancelsOnlyThatEndpointsTransfers) {
    std::vector<uint8_t> buffer(64);
    uint8_t record[kRecord];
    platform::Event done(platform::EventReset::Auto);
    platform::UsbOverlapped overlapped(done);
    BeginBulkIn(record, buffer, overlapped);

    uint8_t otherEndpoint = 0x81;
    ASSERT_TRUE(platform::UsbDeviceRequest(handle, 0x220044, &otherEndpoint, 1, nullptr, 0, nullptr,
                                           nullptr));
    EXPECT_EQ(done.Wait(50), platform::WaitStatus::Timeout);

    uint8_t endpoint = 0x82;
    ASSERT_TRUE(
        platform::UsbDeviceRequest(handle, 0x220044, &endpoint, 1, nullptr, 0, nullptr, nullptr));
    ASSERT_EQ(done.Wait(5000), platform::WaitStatus::Signaled);
    uint32_t count = 0;
    EXPECT_FALSE(platform::UsbOverlappedResult(handle, overlapped, count));
    EXPECT_EQ(platform::LastSystemError(), platform::kErrorOperationAborted);
    EXPECT_EQ(Get32(record + 18), sim::kUsbStatusCanceled);
    EXPECT_EQ(device->PendingTransfers(), 0u);
}

TEST_F(SimDriver, UnplugCancelsTransfersAndFailsWhatFollows) {
    std::vector<uint8_t> buffer(64);
    uint8_t record[kRecord];
    platform::Event done(platform::EventReset::Auto);
    platform::UsbOverlapped overlapped(done);
    BeginBulkIn(record, buffer, overlapped);

    session.driver().Unplug(device);
    ASSERT_EQ(done.Wait(5000), platform::WaitStatus::Signaled);
    uint32_t count = 0;
    EXPECT_FALSE(platform::UsbOverlappedResult(handle, overlapped, count));
    EXPECT_EQ(platform::LastSystemError(), platform::kErrorDeviceNotConnected);

    uint8_t version[4];
    EXPECT_FALSE(
        platform::UsbDeviceRequest(handle, 0x220000, version, 4, version, 4, nullptr, nullptr));
    EXPECT_EQ(platform::LastSystemError(), platform::kErrorDeviceNotConnected);
    auto list = platform::OpenDeviceInterfaceList(sim::CameraInterfaceClass());
    EXPECT_FALSE(list->Enumerate(0)) << "no longer present";
}

TEST_F(SimDriver, ResetLeavesNoDeviceOrHandle) {
    session.driver().Reset();
    EXPECT_EQ(session.driver().OpenHandles(), 0u);
    EXPECT_FALSE(platform::OpenDeviceInterfaceList(sim::CameraInterfaceClass())->Enumerate(0));
    handle = platform::kInvalidUsbHandle;
}

TEST(UsbBackendSelection, TestChoiceThenEnvironmentThenDefault) {
    class Dummy : public platform::UsbDriverBackend {
      public:
        std::unique_ptr<platform::DeviceInterfaceList> OpenInterfaceList(
            const platform::Guid&) override {
            return nullptr;
        }
        platform::UsbHandle Open(const std::string&) override { return 1; }
        bool Close(platform::UsbHandle) override { return true; }
        bool Request(platform::UsbHandle, uint32_t, const void*, uint32_t, void*, uint32_t,
                     uint32_t*, platform::UsbOverlapped*) override {
            return true;
        }
        bool OverlappedResult(platform::UsbHandle, platform::UsbOverlapped&, uint32_t&) override {
            return true;
        }
        platform::NotificationHandle RegisterInterfaceNotification(platform::WindowHandle,
                                                                   const platform::Guid&) override {
            return nullptr;
        }
        platform::NotificationHandle RegisterHandleNotification(platform::WindowHandle,
                                                                platform::UsbHandle) override {
            return nullptr;
        }
        bool UnregisterNotification(platform::NotificationHandle) override { return true; }
    };
    sim::RegisterSimUsbBackend();
    auto dummy = std::make_shared<Dummy>();
    platform::RegisterUsbDriverBackend("dummy", dummy);

    platform::SelectUsbDriverBackend("dummy");
    EXPECT_EQ(platform::ActiveUsbDriverBackend(), dummy);
    platform::SelectUsbDriverBackend("");

#ifdef _WIN32
    _putenv_s("VELA2_USB_BACKEND", "sim");
#else
    setenv("VELA2_USB_BACKEND", "sim", 1);
#endif
    EXPECT_EQ(platform::ActiveUsbDriverBackend(), sim::SimUsbDriver::Instance());
#ifdef _WIN32
    _putenv_s("VELA2_USB_BACKEND", "");
    EXPECT_EQ(platform::ActiveUsbDriverBackend(), platform::OsUsbDriverBackend())
        << "the system's driver is the default on Windows";
#else
    unsetenv("VELA2_USB_BACKEND");
    EXPECT_EQ(platform::ActiveUsbDriverBackend(), nullptr)
        << "two in-process backends and no OS driver: nobody guesses";
#endif
    platform::RegisterUsbDriverBackend("dummy", nullptr);
}

TEST(InterfaceClassText, ParsesTheRegistryFormOnly) {
    platform::Guid guid{};
    ASSERT_TRUE(platform::ParseGuid("{C3085563-87DB-4e0a-ABDC-5747B2EB9BF3}", guid));
    EXPECT_EQ(guid.data1, 0xC3085563u);
    EXPECT_EQ(guid.data2, 0x87DB);
    EXPECT_EQ(guid.data3, 0x4E0A);
    EXPECT_EQ(guid.data4[0], 0xAB);
    EXPECT_EQ(guid.data4[7], 0xF3);
    EXPECT_EQ(platform::GuidText(guid), "{C3085563-87DB-4E0A-ABDC-5747B2EB9BF3}");
    for (const char* bad :
         {"", "C3085563-87DB-4e0a-ABDC-5747B2EB9BF3", "{C3085563-87DB-4e0a-ABDC-5747B2EB9BFG}",
          "{C3085563-87DB-4e0a-ABDC5747B2EB9BF3-}", "{C3085563-87DB-4e0a-ABDC-5747B2EB9BF3}x"}) {
        platform::Guid untouched{};
        EXPECT_FALSE(platform::ParseGuid(bad, untouched)) << bad;
        EXPECT_EQ(untouched.data1, 0u);
    }
}

}  // namespace
