#pragma once
// The camera's firmware behind the simulated device: the memory blocks the
// host writes and reads, the status and temperature records, the exposure
// state machine and the readout of the frame on the bulk IN endpoint.
//
// The requests, records and blocks are those of camera/VendorProtocol.h.
// Block writes need the whole block. The state machine:
//   idle --software trigger--> exposure
//   idle --hardware trigger--> wait for trigger
//        --external trigger (FireExternalTrigger)--> exposure
//   exposure --exposure time of the FPGA block-->
//   readout --one bulk IN transfer on 0x82 takes the frame--> idle.
// A command changes the state before its control transfer completes, so the
// host never reads a state older than its own last command. A trigger outside
// idle (or a software trigger while waiting for the external one, which it
// replaces) is ignored, as the logic only arms from idle.
//
// Resets (either kind) return to idle at once and withdraw the frame: a bulk IN
// transfer already waiting for it stays pending until the host aborts the
// endpoint, as a device with nothing to send keeps answering NAK.
//
// One bulk transfer carries one whole frame: the camera does not know how
// many quadrants the host reconstructs, so it sends what is asked for. What
// it sends is one of two pictures: the position-code pattern, pixel i of the
// transfer being FramePixel(i) (sim/FramePattern.h), which tests check
// against, or the sky (sim/SkyScene.h) read out as the mode's geometry says
// (sim/SensorReadout.h). The pattern is the default, so that a test
// publishing its own camera knows every pixel; the camera a process finds on
// its own shows the sky (SimulatedCamera). A nonzero test pattern field in
// the FPGA block selects the pattern whatever was chosen, as on the camera.
//
// The host uploads only the first 64 bytes of the EPAL image, which do not
// hold the readout geometry; the firmware takes the geometry from the whole
// image of the mode whose FPGA block the host sent, among the images it was
// given (SetEpalImages, LoadModeFile). Without a match one output reads the
// whole frame straight.
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "camera/VendorProtocol.h"
#include "platform/Thread.h"
#include "sim/FramePattern.h"
#include "sim/FrameSource.h"
#include "sim/SensorReadout.h"
#include "sim/SimClock.h"
#include "sim/SkyScene.h"
#include "sim/VendorRequestHandler.h"

namespace sim {

class SimUsbDevice;

class CameraFirmware : public VendorRequestHandler, public FrameSource {
  public:
    // The sensor field of the product information is "VELA2-CCD" followed
    // by the sensor suffix.
    static constexpr const char* kDefaultSensorSuffix = "_5253";
    static constexpr const char* kTimerThreadName = "vela2sim timer";

    // The thermal model (counts of 0.01 K and of 0.01 A).
    static constexpr double kAmbientKelvin = 298.15;
    static constexpr double kMaxCoolingKelvin = 60.0;
    static constexpr double kTimeConstantMs = 20000.0;
    static constexpr uint16_t kMaxCurrentCounts = 300;

    explicit CameraFirmware(std::shared_ptr<SimClock> clock = std::make_shared<SimClock>());
    ~CameraFirmware() override;
    CameraFirmware(const CameraFirmware&) = delete;
    CameraFirmware& operator=(const CameraFirmware&) = delete;

    // The device to kick when the frame becomes ready without a request.
    void AttachDevice(std::weak_ptr<SimUsbDevice> device);

    ControlOutcome HandleControl(const SetupPacket& setup, uint8_t* data, uint32_t length) override;
    bool Fill(uint8_t endpointAddress, uint8_t* buffer, uint32_t length,
              uint32_t& produced) override;

    // --- Test side; all thread-safe ---
    // The external trigger input: starts the exposure when the camera waits.
    void FireExternalTrigger();
    // Lets the state machine catch up with the clock now (after Advance on a
    // frozen clock), instead of at the next request or timer tick.
    void Update();
    // The state the machine is in (a held state is only reported).
    uint8_t CurrentState();
    // A copy of a 64-byte block by its command value (FPGA, offsets, clock
    // voltages, calibration, product information), as last written.
    std::vector<uint8_t> Block(uint16_t command) const;
    void SetSensorSuffix(const std::string& suffix);
    void SetAmbientKelvin(double kelvin);
    SimClock& Clock() { return *clock_; }
    uint32_t FramesRead() const;
    uint32_t ControlTransfers() const;
    // How often a request or frame arrived while another was being handled.
    uint32_t ConcurrencyViolations() const { return violations_.load(); }

    // --- The picture ---
    enum class Picture { Pattern, Sky };
    void SetPicture(Picture picture);
    void SetSky(const SkySettings& settings);
    // The EPAL images the readout geometry is chosen from.
    void SetEpalImages(std::vector<std::vector<uint8_t>> images);
    // The images of every mode of a mode file (sections Mode0 to Mode15, key
    // "Configuration File"; a relative path that does not open as written
    // is taken from the mode file's folder). False when it named none.
    bool LoadModeFile(const std::string& path);
    // What the last frame of the sky was exposed with, to render it again.
    SkyScene::Exposure LastSkyExposure() const;

    // --- Faults ---
    // The nth control transfer from now (1: the next) is refused (stall
    // handshake); it has no effect on the camera.
    void FailControlTransfer(uint32_t nth);
    // The nth control transfer from now acts as usual but moves at most
    // `bytes` bytes of its data stage.
    void ShortenControlTransfer(uint32_t nth, uint32_t bytes);
    // The status record reports `state` whatever the machine does, and timed
    // progress stops: an exposure does not end while a state is held.
    void HoldState(uint8_t state);
    void ReleaseState();
    // The next frame is lost: the first transfer the host submits after it
    // was shown the readout state fails with a stall, and the camera is idle.
    void FailNextFrame();
    // The frame with this number among those the process's simulated cameras
    // send (1: the first; 0: none) is lost as FailNextFrame says. Counted per
    // process because an application that closes and initializes again is
    // given a new camera, and the loss is meant once.
    void LoseFrame(uint32_t number);
    // While set, the frame is never handed out; the transfer stays pending.
    void StallFrames(bool stall);

  private:
    using Block64 = std::array<uint8_t, vendor::kBlockSize>;
    struct Faults {
        uint32_t failAt = 0;  // control transfer number, 0: none
        uint32_t shortAt = 0;
        uint32_t shortBytes = 0;
        bool holding = false;
        uint8_t heldState = 0;
        bool failNextFrame = false;
        uint32_t loseFrame = 0;
        bool stallFrames = false;
    };
    struct Thermal {
        double heatSinkK = kAmbientKelvin;
        double sensorK = kAmbientKelvin;
        double effort = 0;  // 0..1 of the cooler's full current
        double lastMs = 0;
    };

    // Each returns how many data bytes moved, or -1 to refuse the request.
    int64_t Read(uint16_t command, uint8_t* data, uint32_t length);
    int64_t Write(uint16_t command, const uint8_t* data, uint32_t length);
    void StatusRecord(Block64& record);
    void TemperatureRecord(Block64& record);

    // Callers hold mutex_.
    bool Advance();  // true when the state changed
    void StartExposure();
    void ResetToIdle();
    void Trigger(bool software);
    void IntegrateThermal(double nowMs);
    void RelaxThermal(double elapsedMs);
    double SetpointKelvin() const;
    void SetProductInfo(const std::string& suffix);

    void ReadSky(uint8_t* buffer, uint32_t length);
    void KickDevice();
    void TimerLoop();

    std::shared_ptr<SimClock> clock_;
    mutable std::mutex mutex_;
    std::condition_variable timerWake_;
    std::weak_ptr<SimUsbDevice> device_;
    Block64 fpga_{};
    Block64 clockAndOffsets_{};  // bytes 0-31 clock voltages, 32-63 offsets
    Block64 calibration_{};
    Block64 productInfo_{};
    uint8_t state_ = vendor::kIdle;
    double exposureEndMs_ = 0;
    bool frameTaken_ = false;  // a frame was read since power-up (re-read)
    uint32_t framesRead_ = 0;
    uint32_t controlTransfers_ = 0;
    double ambientK_ = kAmbientKelvin;
    Thermal thermal_;
    Faults faults_;
    FramePattern pattern_;
    Picture picture_ = Picture::Pattern;
    SkySettings sky_;
    std::vector<std::vector<uint8_t>> epalImages_;
    std::vector<uint8_t> readoutImage_;  // what readout_ was built from
    std::unique_ptr<SensorReadout> readout_;
    std::unique_ptr<SkyScene> scene_;
    SkyScene::Exposure lastSky_;
    bool stopping_ = false;

    std::atomic<bool> busy_{false};
    std::atomic<uint32_t> violations_{0};
    // Set when the firmware is destroyed from its own timer thread.
    std::shared_ptr<std::atomic<bool>> gone_ = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<platform::Thread> timer_;
};

}  // namespace sim
