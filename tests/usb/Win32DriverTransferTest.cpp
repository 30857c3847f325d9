// Endpoint transfers through the Windows driver backend's own overlapped
// path. Only the driver call itself is replaced: each request lands on a
// named pipe whose other end a test thread drives as the driver would.
#ifdef _WIN32
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/UsbDriver.h"
#include "platform/win32/UsbIoControl.h"
#include "usb/CCyUSBBulkEndpoint.h"
#include "usb/CCyUSBControlEndpoint.h"
#include "usb/DriverProtocol.h"

namespace {

constexpr DWORD kBoundMs = 10000;  // every wait of the test, and the endpoint's own

// A failed creation's INVALID_HANDLE_VALUE is the process's own pseudo
// handle, which closing leaves alone.
using Handle = std::unique_ptr<void, decltype(&CloseHandle)>;
Handle Own(HANDLE handle) { return Handle(handle, &CloseHandle); }

// Set by the replacement call once a request is on the pipe, so the driver's
// end can answer one that is certain to be pending.
HANDLE requestIssued = nullptr;

// A transfer reads the driver's answer into its output buffer; the abort goes
// to the driver as a message of its own.
BOOL WINAPI OverPipe(HANDLE device, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                     DWORD* returned, OVERLAPPED* overlapped) {
    const BOOL ok = code == usb::kIoctlAbortEndpoint
                        ? WriteFile(device, in, inSize, returned, overlapped)
                        : ReadFile(device, out, outSize, returned, overlapped);
    // Success leaves the last error undefined: a stale one must not reach the caller.
    const DWORD error = ok ? ERROR_FILE_NOT_FOUND : GetLastError();
    SetEvent(requestIssued);
    SetLastError(error);
    return ok;
}

// Writes `message` to the driver's end, or reads one into it when `receive`.
// An exchange that outlasts the bound is cancelled, so its OVERLAPPED is the
// system's no longer when it goes out of scope.
bool Exchange(HANDLE pipe, std::vector<uint8_t>& message, bool receive = false) {
    Handle event = Own(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED io{};
    io.hEvent = event.get();
    DWORD count = 0;
    const DWORD size = static_cast<DWORD>(message.size());
    const BOOL started = receive ? ReadFile(pipe, message.data(), size, nullptr, &io)
                                 : WriteFile(pipe, message.data(), size, nullptr, &io);
    if (!started && GetLastError() != ERROR_IO_PENDING) return false;
    if (WaitForSingleObject(event.get(), kBoundMs) != WAIT_OBJECT_0) CancelIoEx(pipe, &io);
    const bool done = GetOverlappedResult(pipe, &io, &count, TRUE) && (receive || count == size);
    if (receive) message.resize(done ? count : 0);
    return done;
}

std::vector<uint8_t> Pattern(uint32_t length) {
    std::vector<uint8_t> bytes(length);
    for (uint32_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return bytes;
}

enum class Driver {
    AnswersWhenIssued,  // the request pends; the answer follows from the driver's thread
    AnsweredBefore,     // the answer waits in the pipe: the request completes at once
    Gone,               // the pipe is disconnected: the request fails at once
    AnswersAfterAbort,  // nothing until the endpoint's abort arrives
};

struct Case {
    const char* name;
    bool control;  // a vendor read on endpoint 0, else a bulk IN read
    Driver driver;
    uint32_t payload;  // bytes the answer carries
    bool ok;
    uint32_t lastError;  // as the endpoint keeps it: a request that pended leaves 997
};

const Case kCases[] = {
    {"BulkReadPendsThenCompletes", false, Driver::AnswersWhenIssued, 4096, true, ERROR_IO_PENDING},
    {"ControlReadCompletesAtOnce", true, Driver::AnsweredBefore, 64, true, ERROR_SUCCESS},
    {"BulkReadFailsWithTheSystemError", false, Driver::Gone, 0, false, ERROR_PIPE_NOT_CONNECTED},
    {"BulkReadTimesOutIsAbortedAndKeepsWhatArrived", false, Driver::AnswersAfterAbort, 512, false,
     ERROR_IO_PENDING},
};

// A direct transfer's data go straight into the caller's buffer; a control
// transfer's answer is its record with the data behind it.
std::vector<uint8_t> Answer(const Case& c) {
    std::vector<uint8_t> data = Pattern(c.payload);
    if (!c.control) return data;
    std::vector<uint8_t> message(usb::kTransferRecordSize);
    usb::StoreRecord(message.data(), usb::SUsbTransferRecord{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                             usb::kTransferRecordSize, c.payload});
    message.insert(message.end(), data.begin(), data.end());
    return message;
}

class Win32DriverTransfer : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        static std::atomic<int> serial{0};
        const std::string name = "\\\\.\\pipe\\vela2-usb-" + std::to_string(GetCurrentProcessId()) +
                                 "-" + std::to_string(serial++);
        driver_.reset(CreateNamedPipeA(
            name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 1 << 16, 1 << 16, 0,
            nullptr));
        ASSERT_NE(driver_.get(), INVALID_HANDLE_VALUE) << GetLastError();
        device_.reset(CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
        ASSERT_NE(device_.get(), INVALID_HANDLE_VALUE) << GetLastError();
        DWORD mode = PIPE_READMODE_MESSAGE;
        ASSERT_TRUE(SetNamedPipeHandleState(device_.get(), &mode, nullptr, nullptr));

        requestIssued = issued_.get();
        platform::RegisterUsbDriverBackend("win32", platform::OsUsbDriverBackend());
        platform::SelectUsbDriverBackend("win32");
    }

    void TearDown() override {
        platform::SelectUsbDriverBackend("");
        requestIssued = nullptr;
    }

    // The driver's side while the endpoint waits. If the endpoint has not
    // returned within the bound, the pipe is disconnected, which ends any wait
    // of the endpoint's, the unbounded one after an abort included.
    void PlayDriver(const Case& c, std::vector<uint8_t>& answer) {
        if (c.driver == Driver::AnswersWhenIssued &&
            WaitForSingleObject(issued_.get(), kBoundMs) == WAIT_OBJECT_0)
            Exchange(driver_.get(), answer);
        if (c.driver == Driver::AnswersAfterAbort) {
            abortSeen_.resize(64);
            if (Exchange(driver_.get(), abortSeen_, true) && !abortSeen_.empty())
                Exchange(driver_.get(), answer);
        }
        endpointHung_ = WaitForSingleObject(returned_.get(), kBoundMs) != WAIT_OBJECT_0;
        if (endpointHung_) DisconnectNamedPipe(driver_.get());
    }

    Handle driver_ = Own(nullptr), device_ = Own(nullptr);
    Handle issued_ = Own(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    Handle returned_ = Own(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    platform::ScopedIoControlCall overPipe_{&OverPipe};
    std::vector<uint8_t> abortSeen_;
    bool endpointHung_ = false;
};

TEST_P(Win32DriverTransfer, EndpointReportsWhatTheDriverDid) {
    const Case& c = GetParam();
    const auto handle = reinterpret_cast<platform::UsbHandle>(device_.get());
    const uint8_t bulkDescriptor[7] = {7, 5, 0x82, 2, 0x00, 0x02, 0};
    usb::CCyUSBControlEndpoint control(handle);
    usb::CCyUSBBulkEndpoint bulk(handle, bulkDescriptor);
    usb::CCyUSBEndpoint& endpoint = c.control ? static_cast<usb::CCyUSBEndpoint&>(control) : bulk;
    const bool timesOut = c.driver == Driver::AnswersAfterAbort;
    endpoint.TimeOut = timesOut ? 20 : kBoundMs;

    std::vector<uint8_t> answer = Answer(c);
    ASSERT_TRUE(c.driver != Driver::AnsweredBefore || Exchange(driver_.get(), answer));
    ASSERT_TRUE(c.driver != Driver::Gone || DisconnectNamedPipe(driver_.get()));
    std::thread driverThread([&] { PlayDriver(c, answer); });
    std::vector<uint8_t> buffer(c.control ? 64 : 4096, 0);
    int32_t length = static_cast<int32_t>(buffer.size());
    const bool ok =
        c.control ? control.Read(buffer.data(), length) : bulk.Transfer(buffer.data(), length);
    SetEvent(returned_.get());
    driverThread.join();

    ASSERT_FALSE(endpointHung_) << "the endpoint returned only once the pipe was disconnected";
    // Success, last error, length, bytes, driver and USB status.
    EXPECT_EQ(
        (std::vector<uint32_t>{ok, endpoint.LastError, uint32_t(length), endpoint.BytesTransferred,
                               endpoint.NtStatus, endpoint.UsbStatus}),
        (std::vector<uint32_t>{c.ok, c.lastError, c.payload, c.payload, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + c.payload), Pattern(c.payload));
    EXPECT_EQ(abortSeen_,
              timesOut ? std::vector<uint8_t>{endpoint.Address} : std::vector<uint8_t>{});
}

INSTANTIATE_TEST_SUITE_P(Cases, Win32DriverTransfer, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
#endif  // _WIN32
