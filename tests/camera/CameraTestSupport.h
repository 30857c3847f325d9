#pragma once
// A camera object wired to a simulated device whose firmware is a script:
// it records every vendor request and answers reads from per-command blocks.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "EpalImage.h"
#include "Vela2UsbCameraStatus.h"
#include "camera/CTesselCamera.h"
#include "camera/ProcessObjects.h"
#include "platform/FileSystem.h"
#include "settings/CAbsPropertyReader.h"
#include "sim/FramePattern.h"
#include "sim/SimUsbDriver.h"
#include "sim/SimulatedCamera.h"
#include "support/TempFolder.h"
#include "support/TextFiles.h"
#include "usb/CCyUSBDevice.h"

namespace cameratest {

struct SentRequest {
    uint8_t request;
    uint16_t value;
    uint16_t index;
    bool read;
    std::vector<uint8_t> data;  // what the host sent
    std::chrono::steady_clock::time_point arrival;
};

class ScriptedFirmware : public sim::VendorRequestHandler {
  public:
    sim::ControlOutcome HandleControl(const sim::SetupPacket& setup, uint8_t* data,
                                      uint32_t length) override {
        // The camera handles one request at a time; two at once is a fault of
        // the host's serialisation.
        if (busy_.exchange(true)) overlapped_ = true;
        std::lock_guard<std::mutex> lock(mutex_);
        const bool read = setup.DeviceToHost();
        log_.push_back(
            {setup.Request, setup.Value, setup.Index, read, {}, std::chrono::steady_clock::now()});
        std::vector<uint8_t>& block = blocks_[setup.Value];
        block.resize(64);
        if (read) {
            std::memcpy(data, block.data(), length < 64 ? length : 64);
        } else {
            log_.back().data.assign(data, data + length);
            if (length == 64) block.assign(data, data + 64);
        }
        busy_.store(false);
        return {false, length};
    }

    void SetBlock(uint16_t command, std::vector<uint8_t> block) {
        std::lock_guard<std::mutex> lock(mutex_);
        block.resize(64);
        blocks_[command] = std::move(block);
    }
    std::vector<uint8_t> Block(uint16_t command) {
        std::lock_guard<std::mutex> lock(mutex_);
        return blocks_[command];
    }
    std::vector<SentRequest> Log() {
        std::lock_guard<std::mutex> lock(mutex_);
        return log_;
    }
    // The command of each write, in order; Block() holds a whole block's data.
    std::vector<uint16_t> WrittenCommands() {
        std::vector<uint16_t> commands;
        for (auto& sent : Log())
            if (!sent.read) commands.push_back(sent.value);
        return commands;
    }
    void ClearLog() {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.clear();
    }
    bool SawOverlap() const { return overlapped_; }

  private:
    std::mutex mutex_;
    std::map<uint16_t, std::vector<uint8_t>> blocks_;
    std::vector<SentRequest> log_;
    std::atomic<bool> busy_{false}, overlapped_{false};
};

// Makes every allocation of the calling thread fail while it lives, so a test
// can see what an operation does when memory runs out; other threads
// allocate as usual (FailingAllocation.cpp replaces the allocation functions).
struct ScopedFailingAllocation {
    ScopedFailingAllocation();
    ~ScopedFailingAllocation();
};

// start, start + 1, ... (wrapping): bytes that show where each one went.
inline std::vector<uint8_t> Pattern(size_t size, uint8_t start) {
    std::vector<uint8_t> bytes(size);
    std::iota(bytes.begin(), bytes.end(), start);
    return bytes;
}

// A call's result beside the status it left, so that one line checks both.
using Outcome = std::pair<int32_t, int32_t>;
inline Outcome WithStatus(int32_t result) { return {result, LastStatus().Get()}; }

// Settings from a map; a key that is not in it cannot be read (the reader
// reports failure), which is how a store without the key behaves.
class MapPropertyReader : public CAbsPropertyReader {
  public:
    std::map<std::string, StringMap> sections;

    // The camera reads single keys only.
    void GetSections(StringList&) override {}
    void WriteSection(const std::string&, const StringMap&) override {}
    bool ReadSection(const std::string&, StringMap&) override { return false; }
    void WriteString(const std::string&, const std::string&, const std::string&) override {}
    bool ReadString(const std::string& key, std::string& value,
                    const std::string& section) override {
        auto found = sections.find(section);
        const bool known = found != sections.end() && found->second.count(key);
        value = known ? found->second.at(key) : "";
        return known;
    }
    bool ReservedOperation(int32_t) override { return true; }
    bool Open(const std::string&) override { return true; }
};

// A store whose reader runs out of memory on every read.
class ExhaustedPropertyReader : public MapPropertyReader {
  public:
    bool ReadString(const std::string&, std::string&, const std::string&) override {
        throw std::bad_alloc();
    }
};

// The library's process objects as a fresh load has them, made before the
// fixture's other members: a test changes what it needs and leaves the rest
// to the next test's renewal.
struct FreshProcess {
    FreshProcess() { RenewProcessObjects(); }
};

// Every block sent at initialization; the read-back comparison as asked.
inline CAbsPropertyReader::StringMap SendEveryBlock(const char* compare) {
    CAbsPropertyReader::StringMap general{{"Compare FPGA data during initialize?", compare}};
    for (const char* block : {"FPGA", "clock voltage", "offset DAC", "calibration"})
        general[std::string("Send ") + block + " data during initialize?"] = "1";
    return general;
}

// A test's own camera on a scripted simulated device, opened the way bring-up
// does it and marked initialized, with the protocol delays at 0.
class CameraTest : public ::testing::Test {
  protected:
    CameraTest() {
        device->SetVendorRequestHandler(firmware);
        session.driver().Publish(device);
        camera.UsbDevice =
            std::make_unique<usb::CCyUSBDevice>(nullptr, sim::CameraInterfaceClass(), true);
        camera.Initialized = 1;
        camera.ControlWriteDelay = 0;
        camera.ControlEndpointTimeout = 1000;
    }
    // The device goes before the session that published it.
    ~CameraTest() override { camera.UsbDevice.reset(); }
    // Settings from a map, every block sent at initialization and none
    // compared; returns the general section to change.
    CAbsPropertyReader::StringMap& UseSettings() {
        auto settings = std::make_unique<MapPropertyReader>();
        CAbsPropertyReader::StringMap& general = settings->sections["General Info"];
        general = SendEveryBlock("0");
        camera.SettingsReader = std::move(settings);
        return general;
    }
    void FailNextTransfer() {
        device->FailNextTransfer(sim::kUsbStatusStall, sim::kDriverStatusUnsuccessful);
    }

    FreshProcess fresh;
    CTesselCamera camera;
    sim::SimUsbSession session;
    std::shared_ptr<sim::SimUsbDevice> device = std::make_shared<sim::SimUsbDevice>();
    std::shared_ptr<ScriptedFirmware> firmware = std::make_shared<ScriptedFirmware>();
};

// Initialization and capture end to end: the library's own settings and mode
// files (written per test), the simulated camera with its firmware model on
// an instant clock, and the capture thread.
constexpr int kWidth = 8;
constexpr int kHeight = 4;
constexpr int kQuadrants = 4;

using Settings = std::map<std::string, std::map<std::string, std::string>>;

inline Settings DefaultSettings() {
    Settings settings{{"Usb Settings",
                       {{"Bulk IN endpoint number", "2"},
                        {"Control Endpoint timeout", "1000"},
                        {"Bulk endpoint internal buffer size", "65536"}}},
                      {"Device_04B4", {{"1002", "simulated camera"}}}};
    auto& general = settings["General Info"] = SendEveryBlock("1");
    for (const char* off :
         {"Simulated Data", "Delay after Control Endpoint Write (mSec)",
          "Delay after Initialization (mSec)", "Issue Soft Reset during Initialize?"})
        general[off] = "0";
    general["Use Software Trigger"] = "1";
    general["Camera State bit mask to wait on during capture"] = "0x21";
    return settings;
}

class CaptureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Process().ModulePath = dir + "libVela2UsbCameraDll.so";
        // Quadrants of kWidth x kHeight, no overscan or pre-scan, exposure 20.
        const std::vector<uint8_t> image =
            MakeEpalImage({kWidth, kHeight, 0, 0, kQuadrants, 0, 20});
        testsupport::WriteText(dir + "mode0.hex", std::string(image.begin(), image.end()));
        testsupport::WriteText(dir + "modes.ini",
                               "[Mode0]\nConfiguration File=" + dir + "mode0.hex\n");
        options.clock = std::make_shared<sim::SimClock>(0.0);
        simulated = sim::SimulatedCamera::Publish(session.driver(), options);
        camera.IdleStateTimeoutMs = 200;
    }
    void TearDown() override { camera.Close(1); }

    int32_t Initialize(int mode = 0, const char* modes = "modes.ini") {
        std::string text;
        for (const auto& [section, entries] : settings) {
            text += "[" + section + "]\n";
            for (const auto& [key, value] : entries) text += key + "=" + value + "\n";
        }
        testsupport::WriteText(dir + "Vela2Usb.ini", text);
        return camera.InitializeForMode(mode, (dir + modes).c_str(), 0);
    }

    // A picture into fresh buffers; returns StartPicture's result.
    int32_t StartPicture() {
        images.assign(4, std::vector<uint16_t>(kWidth * kHeight, 0xDEAD));
        uint16_t* buffers[4];
        uint16_t* overscans[4] = {};
        for (int q = 0; q < 4; ++q) buffers[q] = images[q].data();
        return camera.StartPicture(buffers, kWidth, kHeight, overscans, 0, 0);
    }
    // StartPicture's result and the status the capture ended with.
    Outcome TakePicture() {
        int32_t started = StartPicture();
        EXPECT_TRUE(CaptureEnds());
        EXPECT_EQ(camera.WaitForCapture(0), RECONSTRUCTION_COMPLETED);
        return WithStatus(started);
    }
    // A capture that hangs fails the test instead of holding it.
    static bool CaptureEnds(uint32_t limitMs = 5000) {
        return Process().Capture.CaptureCompleteEvent.Wait(limitMs) ==
               platform::WaitStatus::Signaled;
    }
    // The column-interleaved readout sends pixel (r, c) of quadrant q at
    // column c * 4 + q of row r: the frame's pixel i lands in quadrant i % 4
    // at i / 4.
    void ExpectPicture() {
        for (uint32_t i = 0; i < kQuadrants * kWidth * kHeight; ++i)
            ASSERT_EQ(images[i % kQuadrants][i / kQuadrants], sim::FramePixel(i)) << i;
    }

    FreshProcess fresh;
    CTesselCamera& camera = TheCamera();
    testsupport::TempFolder folder{"vela2-capture-"};
    const std::string dir = folder.path() + platform::kPathSeparator;
    Settings settings = DefaultSettings();
    sim::SimUsbSession session;
    sim::SimulatedCameraOptions options;
    sim::SimulatedCamera simulated;
    std::vector<std::vector<uint16_t>> images;
};

}  // namespace cameratest
