#pragma once
// A camera object wired to a simulated device whose firmware is a script:
// it records every vendor request and answers reads from per-command blocks.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "camera/CTesselCamera.h"
#include "camera/ProcessObjects.h"
#include "settings/CAbsPropertyReader.h"
#include "sim/SimUsbDriver.h"
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
        SentRequest sent{setup.Request,        setup.Value, setup.Index,
                         setup.DeviceToHost(), {},          std::chrono::steady_clock::now()};
        if (!setup.DeviceToHost()) sent.data.assign(data, data + length);
        log_.push_back(sent);
        if (setup.DeviceToHost()) {
            std::vector<uint8_t>& block = blocks_[setup.Value];
            block.resize(64);
            std::memcpy(data, block.data(), length < 64 ? length : 64);
        } else if (length == 64) {
            blocks_[setup.Value].assign(data, data + 64);
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
    // The command of each write, in order.
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
    std::atomic<bool> busy_{false};
    std::atomic<bool> overlapped_{false};
};

// A call's result beside the status it left, so that one line checks both.
using Outcome = std::pair<int32_t, int32_t>;
inline Outcome WithStatus(int32_t result) { return {result, LastStatus().Get()}; }

// Settings from a map; a key that is not in it cannot be read (the reader
// reports failure), which is how a store without the key behaves.
class MapPropertyReader : public CAbsPropertyReader {
  public:
    std::map<std::string, StringMap> sections;

    void GetSections(StringList& names) override {
        names.clear();
        for (auto& section : sections) names.push_back(section.first);
    }
    void WriteSection(const std::string& section, const StringMap& values) override {
        for (auto& entry : values) sections[section][entry.first] = entry.second;
    }
    bool ReadSection(const std::string& section, StringMap& values) override {
        values = sections[section];
        return true;
    }
    void WriteString(const std::string& key, const std::string& value,
                     const std::string& section) override {
        sections[section][key] = value;
    }
    bool ReadString(const std::string& key, std::string& value,
                    const std::string& section) override {
        value.clear();
        auto found = sections.find(section);
        if (found == sections.end() || !found->second.count(key)) return false;
        value = found->second.at(key);
        return true;
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

// Opens the simulated camera the way bring-up does and hands it to a camera,
// marked initialized, with the protocol delays at 0.
struct SimulatedCamera {
    explicit SimulatedCamera(CTesselCamera& camera) : camera(camera) {
        device->SetVendorRequestHandler(firmware);
        session.driver().Publish(device);
        camera.UsbDevice =
            std::make_unique<usb::CCyUSBDevice>(nullptr, sim::CameraInterfaceClass(), true);
        camera.Initialized = 1;
        camera.ControlWriteDelay = 0;
        camera.ControlEndpointTimeout = 1000;
    }
    ~SimulatedCamera() {
        camera.Initialized = 0;
        camera.UsbDevice.reset();
        camera.SimulationMode = 0;
        camera.ControlWriteDelay = 2000;
    }

    CTesselCamera& camera;
    sim::SimUsbSession session;
    std::shared_ptr<sim::SimUsbDevice> device = std::make_shared<sim::SimUsbDevice>();
    std::shared_ptr<ScriptedFirmware> firmware = std::make_shared<ScriptedFirmware>();
};

// A test's own camera on a scripted simulated device.
class CameraTest : public ::testing::Test {
  protected:
    CTesselCamera camera;
    SimulatedCamera sim{camera};
};

}  // namespace cameratest
