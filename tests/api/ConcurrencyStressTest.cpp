// An application that calls in from six threads at once: one takes pictures
// and checks each against a reference picture; five call a random mix of the
// other exports, Close, LD_Initialize and LD_Reset among them. Every picture
// that reports success must have every pixel right; nothing may crash, hang
// or touch freed memory (the sanitizer builds run it for longer:
// VELA2_STRESS_SECONDS).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "Vela2UsbCameraDll.h"
#include "api/StressRig.h"
#include "camera/ProcessObjects.h"
#include "sim/SimulatedCamera.h"

namespace {

std::chrono::seconds Duration() {
    const char* text = std::getenv("VELA2_STRESS_SECONDS");
    return std::chrono::seconds(text && std::atoi(text) > 0 ? std::atoi(text) : 5);
}

class ConcurrencyStress : public ::testing::Test {
  protected:
    ConcurrencyStress() {
        RenewProcessObjects();
        Process().ModulePath = std::string(VELA2_TEST_CONFIG_DIR) + "/Vela2UsbCameraDll.so";
        // A capture aborted during readout leaves the camera holding its
        // frame: the next capture gives up waiting for idle sooner.
        TheCamera().IdleStateTimeoutMs = 300;
        options.clock = std::make_shared<sim::SimClock>(0.0);
        simulated = sim::SimulatedCamera::Publish(session.driver(), options);
    }
    ~ConcurrencyStress() override { Close(); }

    sim::SimUsbSession session;
    sim::SimulatedCameraOptions options;
    sim::SimulatedCamera simulated;
    stress::Caller caller;
};

TEST_F(ConcurrencyStress, PicturesThatSucceedAreRightWhileOtherThreadsCallEverything) {
    ASSERT_EQ(stress::Initialize(), CAMERA_SUCCESS);
    stress::Reference reference;
    ASSERT_TRUE(reference.Take());
    stress::Picture picture(reference.Width(), reference.Height());

    // At least the duration, and until a few pictures got through.
    const auto start = std::chrono::steady_clock::now();
    auto running = [&](int rightSoFar) {
        const auto elapsed = std::chrono::steady_clock::now() - start;
        return elapsed < Duration() || (rightSoFar < 3 && elapsed < std::chrono::seconds(40));
    };
    std::atomic<bool> stop{false};
    std::vector<std::thread> chaos;
    for (int n = 0; n < 5; ++n)
        chaos.emplace_back([&, n] {
            std::mt19937 random(1234 + n);
            while (!stop) caller.CallSomething(random);
        });
    int count[4] = {};  // by verdict: right, failed, overtaken by a lifecycle call, wrong
    while (running(count[0])) {
        int32_t status = 0;
        const stress::Verdict verdict =
            caller.TakeAndCheck(picture, picture.width, picture.height, reference, status);
        ++count[static_cast<int>(verdict)];
        if (verdict == stress::Verdict::Failed) caller.Recover(status);
        if (verdict != stress::Verdict::Wrong) continue;
        ADD_FAILURE() << "a picture reported success with wrong pixels, no Close, "
                         "LD_Initialize or LD_Reset running: "
                      << reference.Difference(picture);
        break;
    }
    stop = true;
    for (std::thread& thread : chaos) thread.join();
    std::printf("pictures: %d right, %d failed, %d overtaken by a lifecycle call\n", count[0],
                count[1], count[2]);
    EXPECT_GE(count[0], 3) << "too few pictures got through";
    // The camera is still usable afterwards.
    ASSERT_EQ(stress::Initialize(), CAMERA_SUCCESS);
    EXPECT_EQ(picture.Take(), CAMERA_SUCCESS);
    EXPECT_EQ(reference.Difference(picture), "");
}

}  // namespace
