// The camera end to end through each driver backend: the simulated driver,
// and libusb over the kernel's usbfs interface as umockdev emulates it, both
// answered by the same simulated camera. The usbfs runs need umockdev-wrapper.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Vela2UsbCameraDll.h"
#include "camera/ProcessObjects.h"
#include "platform/libusb/LibusbDriver.h"
#include "sim/FramePattern.h"
#include "sim/SimUsbDriver.h"
#include "sim/SimUsbfsDevice.h"
#include "sim/SimulatedCamera.h"
#include "support/Eventually.h"
#include "support/TempFolder.h"
#include "support/TextFiles.h"
#include "support/WindowMessages.h"

namespace {

enum class Backend { Sim, Libusb };

using testsupport::Eventually;

// The bundled settings with the notification window on, as an application
// that wants to hear of an unplugged camera runs, and a control timeout short
// enough for a test to sit one out.
const testsupport::TempFolder& SettingsFolder() {
    static const struct Folder : testsupport::TempFolder {
        Folder() : TempFolder("vela2-usbfs-test-") {
            std::string text = testsupport::ReadText(VELA2_TEST_CONFIG_DIR "/Vela2Usb.ini");
            text = std::regex_replace(text, std::regex("notifications\\?=0"), "notifications?=1");
            text = std::regex_replace(text, std::regex("Control Endpoint timeout=\\d+"),
                                      "Control Endpoint timeout=200");
            testsupport::WriteText(*this / "Vela2Usb.ini", text);
        }
    } folder;
    return folder;
}

class CameraOverUsb : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        RenewProcessObjects();
        Process().ModulePath = SettingsFolder() / "Vela2UsbCameraDll.so";
        if (GetParam() == Backend::Sim)
            session = std::make_unique<sim::SimUsbSession>();
        else
            testbed = umockdev_testbed_new();
        Plug();
    }

    // A new camera on the bus. libusb gets a new context for it: the one
    // before knew the bus as it was when it started.
    void Plug() {
        sim::SimulatedCameraOptions options;
        options.clock = std::make_shared<sim::SimClock>(0.0);
        simulated = sim::SimulatedCamera::Assemble(options);
        if (session) return static_cast<void>(session->driver().Publish(simulated.device));
        // The old driver goes first: it may still let a device go, which
        // reaches the emulated device file.
        platform::RegisterUsbDriverBackend("libusb", nullptr);
        driver.reset();
        usbfs.reset();
        usbfs = std::make_unique<sim::SimUsbfsDevice>(testbed, simulated.device, ++deviceNumber);
        driver = std::make_shared<platform::LibusbDriver>();
        platform::RegisterUsbDriverBackend("libusb", driver);
        platform::SelectUsbDriverBackend("libusb");
    }

    void TearDown() override {
        Close();
        testsupport::DispatchMessages();
        platform::SelectUsbDriverBackend("");
        if (session) return;
        platform::RegisterUsbDriverBackend("libusb", nullptr);
        driver.reset();
        usbfs.reset();
        g_object_unref(testbed);
    }

    static int32_t Initialize(int32_t mode) {
        static const std::string modes = std::string(VELA2_TEST_CONFIG_DIR) + "/modes.ini";
        return LD_Initialize(mode, 0, modes.c_str(), 0);
    }

    void Unplug() {
        if (session) return session->driver().Unplug(simulated.device);
        usbfs->Unplug();
    }

    // A capture into a buffer of one raw frame and some room beyond.
    static std::vector<uint16_t> StartCapture() {
        std::vector<uint16_t> raw(size_t(LD_GetRawImageWidth()) * LD_GetRawImageHeight() + 256);
        EXPECT_EQ(LD_Capture(raw.data()), 0);
        return raw;
    }

    // One raw frame, through LD_Capture.
    std::vector<uint16_t> CaptureRaw() {
        std::vector<uint16_t> raw = StartCapture();
        const int32_t completion = LD_WaitForCapture(5000);
        const int32_t status = LD_GetStatus();
        if (completion != 23 || status != 0) {
            ADD_FAILURE() << "completion " << completion << ", status " << status;
            Close();  // the buffer goes with this call: no capture may still write to it
        }
        raw.resize(size_t(LD_GetRawImageWidth()) * LD_GetRawImageHeight());
        return raw;
    }

    // A capture whose frame the camera holds back, its transfer pending.
    std::vector<uint16_t> StartStalledCapture() {
        simulated.firmware->StallFrames(true);
        std::vector<uint16_t> raw = StartCapture();
        EXPECT_TRUE(Eventually([&] { return simulated.device->PendingTransfers() == 1; }));
        return raw;
    }

    sim::SimulatedCamera simulated;
    std::unique_ptr<sim::SimUsbSession> session;
    UMockdevTestbed* testbed = nullptr;
    std::unique_ptr<sim::SimUsbfsDevice> usbfs;
    std::shared_ptr<platform::LibusbDriver> driver;
    uint8_t deviceNumber = 1;
};

// Between the device and its firmware: runs an action at the nth vendor
// request, which the device then refuses when the action says so.
struct AtRequest : sim::VendorRequestHandler {
    AtRequest(std::shared_ptr<sim::CameraFirmware> firmware, uint32_t nth,
              std::function<bool()> action)
        : firmware_(std::move(firmware)), nth_(nth), action_(std::move(action)) {}
    sim::ControlOutcome HandleControl(const sim::SetupPacket& setup, uint8_t* data,
                                      uint32_t length) override {
        if (++seen_ == nth_ && action_()) return {true, 0};
        return firmware_->HandleControl(setup, data, length);
    }

    std::shared_ptr<sim::CameraFirmware> firmware_;
    uint32_t nth_;
    std::function<bool()> action_;
    std::atomic<uint32_t> seen_{0};
};

}  // namespace

// Vendor reads and writes reach the camera, and the frame arrives pixel for
// pixel in two modes; through usbfs the kernel is handed the caller's own
// buffer: no copy on the way.
TEST_P(CameraOverUsb, VendorCallsAnswerAndPicturesInTwoModesArePixelExact) {
    for (int32_t mode : {0, 1}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(Initialize(mode), 0);
        double celsius = -1000;
        EXPECT_TRUE(LD_GetTemperature(&celsius) == 0 && celsius > -120.0) << celsius;
        uint8_t image[192] = {}, again[192] = {};
        ASSERT_EQ(Download(image, sizeof image), 1);
        EXPECT_EQ(Upload(image, sizeof image), 1);
        ASSERT_EQ(Download(again, sizeof again), 1);
        EXPECT_EQ(std::vector<uint8_t>(image, image + 64), std::vector<uint8_t>(again, again + 64));
        uint32_t exposure = 0, length = 0, start = 0;
        EXPECT_EQ(LD_SetExposureTime(120, 0, 0), 0);
        EXPECT_TRUE(LD_GetExposureTime(&exposure, &length, &start) == 0 && exposure == 120u)
            << exposure;
        const std::vector<uint16_t> raw = CaptureRaw();
        for (size_t i = 0; i < raw.size(); ++i)
            ASSERT_EQ(raw[i], sim::FramePixel(uint32_t(i))) << i;
        EXPECT_TRUE(!usbfs || usbfs->SubmittedBuffers(0x82).back() == raw.data());
        int32_t width = 0, height = 0;
        ASSERT_TRUE(LD_GetQuadrantWidth(&width) == 0 && LD_GetQuadrantHeight(&height) == 0);
        std::vector<std::vector<uint16_t>> quadrants(4,
                                                     std::vector<uint16_t>(size_t(width) * height));
        ASSERT_EQ(LD_StartPicture(quadrants[0].data(), quadrants[1].data(), quadrants[2].data(),
                                  quadrants[3].data(), width, height, nullptr, nullptr, nullptr,
                                  nullptr, 0, 0),
                  0);
        EXPECT_EQ((std::pair{LD_WaitForCapture(5000), LD_GetStatus()}), std::pair(23, 0));
        Close();
    }
}

// A reset during the frame's transfer cancels it and the camera carries on;
// unplugged while the frame is on its way, the notice closes the camera.
TEST_P(CameraOverUsb, AResetOrAnUnplugDuringTheFrameEndsIt) {
    ASSERT_EQ(Initialize(0), 0);
    std::vector<uint16_t> raw = StartStalledCapture();
    EXPECT_EQ(LD_Reset(1), 1);
    EXPECT_EQ(LD_WaitForCapture(5000), RECONSTRUCTION_COMPLETED);
    EXPECT_NE(LD_GetStatus(), 0);
    simulated.firmware->StallFrames(false);
    // The aborted capture's own end sets the shared completion event once
    // more; a new initialization waits for that end, so the next wait is the
    // next picture's.
    ASSERT_EQ(Initialize(0), 0);
    // A failed capture leaves no frame: nothing to compare, not a crash.
    raw = CaptureRaw();
    EXPECT_TRUE(!raw.empty() && raw.front() == sim::FramePixel(0));

    raw = StartStalledCapture();
    Unplug();
    // The close runs on the thread the notice came on; its last word is the status.
    EXPECT_TRUE(Eventually(
        [] { return LD_IsInitialized() == 0 && LD_GetStatus() == ERROR_CAMERA_NOT_INITIALIZED; }));
    testsupport::DispatchMessages();
    EXPECT_EQ(Initialize(0), ERROR_CAMERA_NOT_INITIALIZED);
}

// A refused answer, a short one and a camera pulled out, at each request of
// the bring-up: the initialization ends, with -4 or (where bring-up ignores
// that request's failure) 0, never hangs, leaves the camera initialized only
// when it says so, and a camera whose answers were bad initializes next time.
// Once initialized, a refused (stalled) request and one the camera never
// answers fail the call that made them, and the next call works.
TEST_P(CameraOverUsb, BadAnswersFailOnlyTheirCallAndAtEachBringUpRequestOnlyThatInitialization) {
    ASSERT_EQ(Initialize(0), 0);
    Close();
    const uint32_t requests = simulated.firmware->ControlTransfers();
    ASSERT_GT(requests, 3u);
    for (uint32_t nth = 1; nth <= requests; ++nth) {
        SCOPED_TRACE(nth);
        for (bool refuse : {true, false}) {
            refuse ? simulated.firmware->FailControlTransfer(nth)
                   : simulated.firmware->ShortenControlTransfer(nth, 7);
            const int32_t result = Initialize(0);
            EXPECT_TRUE(result == 0 || result == ERROR_CAMERA_NOT_INITIALIZED) << result;
            EXPECT_EQ(LD_IsInitialized(), result == 0 ? 1 : 0);
            Close();
        }
        ASSERT_EQ(Initialize(0), 0);
        Close();
    }
    for (uint32_t nth = 1; nth <= requests; ++nth) {
        SCOPED_TRACE(nth);
        // Pulled from another thread, as the system reports it, while the
        // bring-up waits for its request.
        std::promise<void> pull;
        std::thread unplugger([this, pulled = pull.get_future()] {
            pulled.wait();
            Unplug();
        });
        std::once_flag once;
        auto pullOnce = [&] {
            std::call_once(once, [&] { pull.set_value(); });
            return true;  // and the request is refused
        };
        simulated.device->SetVendorRequestHandler(
            std::make_shared<AtRequest>(simulated.firmware, nth, pullOnce));
        const int32_t result = Initialize(0);
        EXPECT_TRUE(result == 0 || result == ERROR_CAMERA_NOT_INITIALIZED) << result;
        pullOnce();
        unplugger.join();
        EXPECT_TRUE(Eventually([] { return LD_IsInitialized() == 0; }));
        Close();
        testsupport::DispatchMessages();
        Plug();
    }

    ASSERT_EQ(Initialize(0), 0);
    uint8_t block[64];
    simulated.firmware->FailControlTransfer(1);
    EXPECT_EQ(ReadFpga(block, sizeof block, 0), 0);
    EXPECT_EQ(ReadFpga(block, sizeof block, 0), 1);
    simulated.device->StallNextTransfer();  // held until the control timeout cancels it
    EXPECT_EQ(ReadFpga(block, sizeof block, 0), 0);
    EXPECT_EQ(ReadFpga(block, sizeof block, 0), 1);
}

INSTANTIATE_TEST_SUITE_P(Backends, CameraOverUsb, ::testing::Values(Backend::Sim, Backend::Libusb),
                         [](const auto& info) {
                             return info.param == Backend::Sim ? "SimulatedDriver"
                                                               : "LibusbOverUsbfs";
                         });
