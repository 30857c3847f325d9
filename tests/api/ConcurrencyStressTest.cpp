// An application that calls in from six threads at once: one takes pictures
// and checks each against a reference picture; five call a random mix of the
// other exports, Close, LD_Initialize and LD_Reset among them. Every picture
// that reports success must have every pixel right; nothing may crash, hang
// or touch freed memory (the sanitizer builds run it for longer:
// VELA2_STRESS_SECONDS).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Vela2UsbCameraDll.h"
#include "camera/ProcessObjects.h"
#include "sim/SimulatedCamera.h"

namespace {

const std::string kConfig = VELA2_TEST_CONFIG_DIR;
const std::string kModes = kConfig + "/modes.ini";
constexpr int kMode = 1;

std::chrono::seconds Duration() {
    const char* text = std::getenv("VELA2_STRESS_SECONDS");
    const int seconds = text ? std::atoi(text) : 0;
    return std::chrono::seconds(seconds > 0 ? seconds : 5);
}

struct Picture {
    explicit Picture(size_t pixels) : images(4, std::vector<uint16_t>(pixels)) {}
    std::vector<std::vector<uint16_t>> images;
    int32_t width = 0, height = 0;

    // Starts a picture into freshly stamped buffers and waits for it: its
    // status once it ended, or why it did not start or end.
    int32_t Take() {
        for (auto& image : images) std::fill(image.begin(), image.end(), 0xDEAD);
        uint16_t* buffers[4];
        uint16_t* overscans[4] = {};
        for (int q = 0; q < 4; ++q) buffers[q] = images[q].data();
        const int32_t started =
            LD_StartPicture(buffers[0], buffers[1], buffers[2], buffers[3], width, height,
                            overscans[0], overscans[1], overscans[2], overscans[3], 0, 0);
        if (started != CAMERA_SUCCESS) return started;
        const int32_t completion = LD_WaitForCapture(10000);
        return completion == RECONSTRUCTION_COMPLETED ? LD_GetStatus() : completion;
    }
};

class ConcurrencyStress : public ::testing::Test {
  protected:
    ConcurrencyStress() {
        Process().ModulePath = kConfig + "/Vela2UsbCameraDll.so";
        // A capture aborted during readout leaves the camera holding its
        // frame: the next capture gives up waiting for idle sooner.
        TheCamera().IdleStateTimeoutMs = 300;
        options.clock = std::make_shared<sim::SimClock>(0.0);
        simulated = sim::SimulatedCamera::Publish(session.driver(), options);
    }
    ~ConcurrencyStress() override {
        Close();
        TheCamera().IdleStateTimeoutMs = 10000;
        Process().ModulePath.clear();
    }

    // One call of the chaos mix. Calls that may leave status 0 for a picture
    // that another call ended are counted as they start and as they end.
    void CallSomething(std::mt19937& random) {
        uint8_t block[192] = {};
        double value = 0;
        uint32_t a = 0, b = 0, c = 0;
        int32_t number = 0;
        char text[1024];
        auto lifecycleCall = [&](auto call) {
            ++lifecycleStarted;
            call();
            ++lifecycleEnded;
        };
        // Lifecycle calls are rarer than the rest, or no picture would get
        // through.
        const uint32_t pick = random() % 200;
        switch (pick < 4 ? 20 + pick : pick % 20) {
            case 0:
                LD_GetTemperature(&value);
                break;
            case 1:
                LD_GetHeatSinkTemperature(&value);
                break;
            case 2:
                LD_GetTopTecCurrent(&value);
                break;
            case 3:
                LD_UpdateTempVolts(block, 64);
                break;
            case 4:
                LD_GetCameraStatus(block, 32);
                break;
            case 5:
                ReadFpga(block, 64, 0);
                break;
            case 6:
                ReadCalibration(block, 64);
                break;
            case 7:
                Download(block, 192);
                break;
            case 8:
                ReadVendorRequest("0xAB", "0x5", "0x0", block, 64);
                break;
            case 9:
                if (LD_GetExposureTime(&a, &b, &c) == 0) LD_SetExposureTime(a, b, c);
                break;
            case 10:
                if (LD_GetTestPatternMode(&a) == 0) LD_SetTestPatternMode(a);
                break;
            case 11:
                LD_GetCameraType(&a);
                break;
            case 12:
                LD_GetQuadrantWidth(&number), LD_GetOverscanWidth(&number), GetWidth(), GetHeight(),
                    LD_GetRawImageWidth(), GetNumberOfQuadrants();
                break;
            case 13:
                IsInitialized(), GetDeviceHandle(), LD_GetEpalQuadrantHeight(&number);
                break;
            case 14:
                LD_GetVersion(text, sizeof text);
                break;
            case 15:
                LD_GetError(LD_GetStatus(), text);
                break;
            case 16:
                SetCameraState(0x21), SetSoftwareTrigger(1), LD_GetTimeout(&a);
                break;
            case 17:
                if (ReadFpga(block, 64, 0) == 0) WriteFpga(block, 64, 0);
                break;
            case 18:
                LD_SetTemperatureSetpoint(25315);
                break;
            case 19:
                LD_GetSimulationMode(&number), LD_GetEnableSoftwareTrigger();
                break;
            case 20:
                lifecycleCall([&] { LD_Reset(random() % 2); });
                break;
            case 21:
                lifecycleCall([&] { Close(); });
                break;
            case 22:
                lifecycleCall([&] { LD_Reset(random() % 2); });
                break;
            case 23:
                lifecycleCall([&] { LD_Initialize(kMode, 0, kModes.c_str(), 0); });
                break;
        }
    }

    sim::SimUsbSession session;
    sim::SimulatedCameraOptions options;
    sim::SimulatedCamera simulated;
    std::atomic<uint64_t> lifecycleStarted{0}, lifecycleEnded{0};
};

TEST_F(ConcurrencyStress, PicturesThatSucceedAreRightWhileOtherThreadsCallEverything) {
    ASSERT_EQ(LD_Initialize(kMode, 0, kModes.c_str(), 0), CAMERA_SUCCESS);
    int32_t width = 0, height = 0;
    LD_GetQuadrantWidth(&width), LD_GetQuadrantHeight(&height);
    Picture reference(size_t(width) * height), picture(size_t(width) * height);
    reference.width = picture.width = width;
    reference.height = picture.height = height;
    ASSERT_EQ(reference.Take(), CAMERA_SUCCESS);

    // At least the duration, and until a few pictures got through.
    const auto start = std::chrono::steady_clock::now();
    auto running = [&](int rightSoFar) {
        const auto elapsed = std::chrono::steady_clock::now() - start;
        return elapsed < Duration() || (rightSoFar < 3 && elapsed < std::chrono::seconds(40));
    };
    std::atomic<bool> stop{false};
    std::vector<std::thread> chaos;
    for (int n = 0; n < 5; ++n) {
        chaos.emplace_back([&, n] {
            std::mt19937 random(1234 + n);
            while (!stop) CallSomething(random);
        });
    }
    int right = 0, failed = 0, interrupted = 0;
    std::map<int32_t, int> failures;
    while (running(right)) {
        const uint64_t started = lifecycleStarted.load();
        const bool noneRunning = lifecycleEnded.load() == started;
        const int32_t status = picture.Take();
        const bool quiet = noneRunning && lifecycleStarted.load() == started;
        if (status != CAMERA_SUCCESS) {
            ++failed;
            ++failures[status];
            // What an application does: initialize a closed camera, reset
            // one that did not arm.
            if (status == 8 || status == -4) LD_Initialize(kMode, 0, kModes.c_str(), 0);
            if (status == -50) {
                ++lifecycleStarted;
                LD_Reset(1);
                ++lifecycleEnded;
            }
        } else if (picture.images == reference.images) {
            ++right;
        } else if (quiet) {
            ADD_FAILURE() << "a picture reported success with wrong pixels, no Close, "
                             "LD_Initialize or LD_Reset running";
            break;
        } else {
            ++interrupted;  // another call left status 0 after the picture ended
        }
    }
    stop = true;
    for (std::thread& thread : chaos) thread.join();
    std::printf("pictures: %d right, %d failed, %d overtaken by a lifecycle call; failures:", right,
                failed, interrupted);
    for (const auto& [status, count] : failures) std::printf(" %d x%d", status, count);
    std::printf("\n");
    EXPECT_GE(right, 3) << "too few pictures got through";
    // The camera is still usable afterwards.
    ASSERT_EQ(LD_Initialize(kMode, 0, kModes.c_str(), 0), CAMERA_SUCCESS);
    EXPECT_EQ(picture.Take(), CAMERA_SUCCESS);
    EXPECT_TRUE(picture.images == reference.images);
}

}  // namespace
