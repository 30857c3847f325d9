// Initialization and capture end to end (the fixture is in CameraTestSupport.h).

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "CameraTestSupport.h"
#include "arrays/CArrayBase.h"
#include "platform/DebugTrace.h"
#include "platform/FileSystem.h"
#include "settings/CRegistryPropertyReader.h"
#include "sim/FramePattern.h"
#include "support/Environment.h"
#include "support/TextFiles.h"

using namespace cameratest;

TEST_F(CaptureTest, PictureSizesBeyond32BitsArmNothingAndPicturesAndRawFramesLandWhole) {
    ASSERT_EQ(Initialize(), 0);
    // Sizes whose products pass 32 bits are refused before the camera is armed.
    uint16_t* none[4] = {};
    for (auto [size, overscan] : {std::pair{65536, 0}, {4, 65536}})
        EXPECT_EQ(WithStatus(camera.StartPicture(none, size, size, none, overscan, overscan)),
                  (Outcome{ERROR_INCORRECT_IMAGE_BUFFER_SIZE, ERROR_INCORRECT_IMAGE_BUFFER_SIZE}));
    EXPECT_EQ(simulated.firmware->FramesRead(), 0u);

    // Twice: the second picture allocates nothing new and is as good.
    for (int picture = 0; picture < 2; ++picture) {
        EXPECT_EQ(TakePicture(), (Outcome{0, 0}));
        ExpectPicture();
        EXPECT_EQ(camera.IsCaptureComplete(), RECONSTRUCTION_COMPLETED)
            << "stays complete until the next request";
    }
    EXPECT_EQ(simulated.firmware->ConcurrencyViolations(), 0u);

    // A raw capture hands over the whole transfer (256 bytes rounded up to 512).
    std::vector<uint16_t> raw(256, 0xDEAD);
    EXPECT_EQ(camera.Capture(raw.data()), 0);
    EXPECT_EQ(WithStatus(camera.WaitForCapture(0)), (Outcome{RECONSTRUCTION_COMPLETED, 0}));
    for (size_t i = 0; i < kQuadrants * kWidth * kHeight; ++i)
        ASSERT_EQ(raw[i], sim::FramePixel(static_cast<uint32_t>(i))) << i;
}

TEST_F(CaptureTest, DesiredStateNeverSeenTimesOut) {
    ASSERT_EQ(Initialize(), 0);
    // An idle camera that never shows the readout state.
    camera.SetDesiredCameraState(0x20);
    simulated.firmware->HoldState(0x01);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(TakePicture(), (Outcome{0, ERROR_CAMERA_TIMEOUT}));
    // The timeout: exposure 20 + the software margin.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(70));
}

TEST_F(CaptureTest, ResetFromAnotherThreadAbortsTheStateWaitAndTheExternalTriggerEndsIt) {
    ASSERT_EQ(Initialize(), 0);
    camera.SoftwareTrigger = 0;
    camera.SetTimeout(60000);
    EXPECT_EQ(StartPicture(), 0);
    EXPECT_EQ(camera.IsCaptureComplete(), RECONSTRUCTION_IN_PROGRESS);
    simulated.firmware->FireExternalTrigger();
    EXPECT_EQ(WithStatus(camera.WaitForCapture(0)), (Outcome{RECONSTRUCTION_COMPLETED, 0}));
    ExpectPicture();

    EXPECT_EQ(StartPicture(), 0);  // armed again, and no trigger comes
    platform::ScopedTraceCapture trace;
    std::thread resetter([&] { camera.Reset(1); });
    EXPECT_EQ(camera.WaitForCapture(0), RECONSTRUCTION_COMPLETED);
    resetter.join();
    // Whichever of the two ends last, the waiter learns the picture was
    // aborted: the reset leaves the capture's own result.
    EXPECT_TRUE(trace.Contains("Capture Aborted."));
    EXPECT_EQ(LastStatus().Get(), ERROR_CAPTURE_ABORTED);
}

TEST_F(CaptureTest, SimulationTakesPicturesFromTheRawImageFile) {
    const std::string rawFile = dir + "frame.raw";
    arrays::CArrayBase frame(kHeight, kQuadrants * kWidth, 0);
    for (uint32_t i = 0; i < kHeight * kQuadrants * kWidth; ++i)
        frame.Put(i / (kQuadrants * kWidth), i % (kQuadrants * kWidth), sim::FramePixel(i));
    frame.SaveImageFile(rawFile);
    settings["General Info"]["Simulated Data"] = "1";
    settings["General Info"]["Raw Image Filename"] = rawFile;
    settings["General Info"]["Issue Soft Reset during Initialize?"] = "1";
    simulated.device->ClearRequests();
    ASSERT_EQ(Initialize(), 0);
    EXPECT_TRUE(simulated.device->Requests().empty())
        << "simulation sends nothing, not even a reset";
    EXPECT_EQ(TakePicture(), (Outcome{0, 0}));
    ExpectPicture();

    camera.RawImageFilename.clear();
    EXPECT_EQ(WithStatus(StartPicture()), (Outcome{ERROR_TRIGGER_TIMEOUT, 0}));
}

TEST_F(CaptureTest, InitializationFailuresTheirStatusAndRequestsAfterThem) {
    EXPECT_EQ(WithStatus(Initialize(0, "no-such-modes.ini")),
              (Outcome{ERROR_INI_FILENAME, ERROR_INI_FILENAME}));
    EXPECT_EQ(WithStatus(Initialize(7)), (Outcome{ERROR_HEX_FILENAME, ERROR_HEX_FILENAME}));

    Process().ModulePath = dir + "elsewhere" + platform::kPathSeparator + "libVela2UsbCameraDll.so";
    EXPECT_EQ(WithStatus(Initialize()), (Outcome{ERROR_INI_FILENAME, ERROR_CAMERA_NOT_INITIALIZED}))
        << "a missing settings file leaves the status at -4";
    Process().ModulePath = dir + "libVela2UsbCameraDll.so";

    // INI mode adds to the devices found before; start from none.
    Process().VidPidList.clear();
    settings["Device_04B4"] = {{"9999", "not our camera"}};
    EXPECT_EQ(WithStatus(Initialize()),
              (Outcome{ERROR_CAMERA_NOT_INITIALIZED, INVALID_USB_DEVICE}));

    settings = DefaultSettings();
    Process().VidPidList.clear();
    settings["Usb Settings"].erase("Bulk IN endpoint number");
    EXPECT_EQ(WithStatus(Initialize()), (Outcome{ERROR_CAMERA_NOT_INITIALIZED, INVALID_USB_DEVICE}))
        << "every failed bring-up ends as an invalid device";

    settings = DefaultSettings();
    settings["Device_04B4"] = {{"7FFFFFFF", "bad"}};
    EXPECT_EQ(WithStatus(Initialize()),
              (Outcome{ERROR_CAMERA_NOT_INITIALIZED, ERROR_CAMERA_NOT_INITIALIZED}));

    // Requests to the camera left uninitialized fail and leave the events alone.
    camera.Close(1);
    Process().Capture.CaptureCompleteEvent.Set();
    std::vector<uint16_t> raw(256);
    EXPECT_EQ(camera.Capture(raw.data()), 8);
    EXPECT_EQ(StartPicture(), ERROR_CAMERA_CAPTURE);
    EXPECT_EQ(camera.IsCaptureComplete(), RECONSTRUCTION_COMPLETED);
    Process().Capture.CaptureCompleteEvent.Reset();
}

// Bytes 58-59 of the FPGA block belong to the camera: a first load takes the
// file's, a reload keeps the running camera's.
TEST_F(CaptureTest,
       BlockOperationsBeforeTheFirstLoadAndReinitializationKeepBytesThreadsAndResetTwice) {
    camera.EpalData.clear();  // a process that has not loaded the file yet
    std::string file = testsupport::ReadText(dir + "mode0.hex");
    file[58] = '\x5A';
    file[59] = '\xA5';
    ASSERT_TRUE(testsupport::WriteText(dir + "mode0.hex", file));
    uint8_t bytes[64] = {};
    camera.ReadClockVoltages(bytes, 32);
    camera.WriteClockVoltages(bytes, 64);
    settings["General Info"]["Issue Soft Reset during Initialize?"] = "1";
    ASSERT_EQ(Initialize(), 0);
    std::vector<uint8_t> fpga = simulated.firmware->Block(0x01);
    EXPECT_EQ(fpga[58], 0x5A);
    EXPECT_EQ(fpga[59], 0xA5);

    platform::Thread* captureThread = Process().Capture.CaptureThread.get();
    std::vector<uint8_t> block(camera.EpalData.begin(), camera.EpalData.begin() + 64);
    block[58] = 0x11;
    block[59] = 0x22;
    ASSERT_EQ(camera.WriteFpga(block.data(), 64, 0), 1);
    simulated.device->ClearRequests();
    ASSERT_EQ(Initialize(), 0);
    EXPECT_EQ(Process().Capture.CaptureThread.get(), captureThread) << "no new worker threads";
    EXPECT_EQ(camera.EpalData[58], 0x11);
    EXPECT_EQ(camera.EpalData[59], 0x22);
    int resets = 0;
    for (const auto& request : simulated.device->Requests())
        resets += request.code == 0x220020 && request.input.size() > 3 &&
                  request.input[1] == 0xAB && request.input[2] == 0x0C &&
                  !(request.input[0] & 0x80);
    EXPECT_EQ(resets, 2);
}

TEST_F(CaptureTest, ClosesAtOnceLeaveTheCameraAbleToTakePictures) {
    // Two Close calls that overlap must not leave the workers half stopped:
    // the next initialization has to start them again.
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_EQ(Initialize(), 0);
        std::atomic<bool> go{false};
        auto close = [&] {
            while (!go.load()) std::this_thread::yield();
            camera.Close(1);
        };
        std::thread first(close), second(close);
        go = true;
        first.join();
        second.join();
        EXPECT_EQ(camera.IsInitialized(), 0);
    }
    ASSERT_EQ(Initialize(), 0);
    EXPECT_EQ(TakePicture(), (Outcome{0, 0}));
    ExpectPicture();
}

#ifndef _WIN32
// The same camera with its settings in the registry (the POSIX store in a
// folder of the test's own).
TEST_F(CaptureTest, RegistrySettingsTakeTheSamePicture) {
    testsupport::ScopedVariable store("VELA2_REGISTRY_DIR", dir + "registry");
    const std::string location = "Software\\Quintaris Riravir\\USB\\VELA2_USB\\Camera Settings";
    {
        CRegistryPropertyReader writer, devices;
        ASSERT_TRUE(writer.OpenAt(location, platform::kHkeyLocalMachine));
        for (const auto& [section, entries] : settings)
            if (section.find("Device_") == std::string::npos)
                for (const auto& [key, value] : entries) writer.WriteString(key, value, section);
        ASSERT_TRUE(
            devices.OpenAt(location + "\\Usb Settings\\Devices", platform::kHkeyLocalMachine));
        devices.WriteString("1002", "", "04B4");
    }
    EXPECT_EQ(camera.InitializeForMode(0, (dir + "modes.ini").c_str(), 1), 0);
    EXPECT_EQ(Process().HardwareRegistryLocation, "Software\\Quintaris Riravir\\USB\\VELA2_USB");
    ASSERT_EQ(Process().VidPidList.size(), 1u);
    EXPECT_EQ(Process().VidPidList[0].ProductId, 0x1002u);
    EXPECT_EQ(TakePicture(), (Outcome{0, 0}));
    ExpectPicture();

    EXPECT_EQ(camera.TemperatureScale, 0.0) << "an absent Gain reads as 0";
}
#endif
