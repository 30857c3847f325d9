#include "sim/CameraFirmware.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "platform/ByteOrder.h"
#include "platform/Profile.h"
#include "sim/SimUsbDevice.h"
#include "sim/UsbDescriptorSet.h"

namespace sim {

namespace {
constexpr uint8_t kVendorType = 2;
// How often the timer looks at a frozen clock, which only Advance moves.
constexpr auto kFrozenPoll = std::chrono::milliseconds(5);
// The effort that keeps the sensor this many kelvin above its setpoint.
constexpr double kEffortPerKelvinOfError = 0.5;
// How far the heat sink warms above ambient at full cooling.
constexpr double kHeatSinkRiseKelvin = 2.0;
constexpr double kTimeTolerance = 1e-6;  // ms
// FPGA block: nonzero selects the sensor's test pattern.
constexpr size_t kTestPatternAt = 30;
// Frames sent by every simulated camera of the process (LoseFrame).
std::atomic<uint32_t> g_processFrames{0};

uint16_t Counts(double value) {
    return static_cast<uint16_t>(std::clamp(std::lround(value * 100.0), 0L, 65535L));
}

void PutText(uint8_t* block, size_t at, size_t room, const std::string& text) {
    std::memset(block + at, 0, room);
    std::memcpy(block + at, text.data(), std::min(room, text.size()));
}

// Marks the firmware busy for one request; a second request arriving while
// the first runs means the host (or the device model) lost its serialisation.
class OneAtATime {
  public:
    OneAtATime(std::atomic<bool>& busy, std::atomic<uint32_t>& violations) : busy_(busy) {
        owner_ = !busy_.exchange(true);
        if (!owner_) ++violations;
    }
    ~OneAtATime() {
        if (owner_) busy_.store(false);
    }
    OneAtATime(const OneAtATime&) = delete;
    OneAtATime& operator=(const OneAtATime&) = delete;

  private:
    std::atomic<bool>& busy_;
    bool owner_;
};
}  // namespace

CameraFirmware::CameraFirmware(std::shared_ptr<SimClock> clock)
    : clock_(clock ? std::move(clock) : std::make_shared<SimClock>()) {
    thermal_.lastMs = clock_->NowMs();
    // Until the host sends its calibration the cooler holds ambient: idle.
    platform::StoreBe16(&calibration_[vendor::kSetpointKelvinAt], Counts(kAmbientKelvin));
    SetProductInfo(kDefaultSensorSuffix);
    timer_ = platform::Thread::Start([this] {
        platform::NameCurrentThread(kTimerThreadName);
        TimerLoop();
        return 0u;
    });
    if (!timer_) throw std::runtime_error("the system refused the simulated firmware's timer");
}

CameraFirmware::~CameraFirmware() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    timerWake_.notify_all();
    // A join fails only on the timer itself: its kick let go of the device's
    // last owner, which let go of us. It cannot wait for itself, so it is
    // told to touch nothing more and left to end on its own.
    if (!timer_->Join(platform::kInfinite)) gone_->store(true);
}

void CameraFirmware::AttachDevice(std::weak_ptr<SimUsbDevice> device) {
    std::lock_guard<std::mutex> lock(mutex_);
    device_ = std::move(device);
}

ControlOutcome CameraFirmware::HandleControl(const SetupPacket& setup, uint8_t* data,
                                             uint32_t length) {
    OneAtATime guard(busy_, violations_);
    if (((setup.RequestType >> 5) & 3) != kVendorType || setup.Request != vendor::kRequest)
        return ControlOutcome{true, 0};
    bool changed = false;
    int64_t moved = -1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const uint32_t number = ++controlTransfers_;
        if (number == faults_.failAt) {
            faults_.failAt = 0;
            return ControlOutcome{true, 0};
        }
        const uint8_t before = state_;
        Advance();
        moved = setup.DeviceToHost() ? Read(setup.Value, data, length)
                                     : Write(setup.Value, data, length);
        if (moved >= 0 && number == faults_.shortAt) {
            faults_.shortAt = 0;
            moved = std::min<int64_t>(moved, faults_.shortBytes);
        }
        changed = state_ != before;
    }
    // The device looks for the frame after every control transfer by itself;
    // only the timer, which may end an exposure later, needs to wake.
    if (changed) timerWake_.notify_all();
    if (moved < 0) return ControlOutcome{true, 0};
    return ControlOutcome{false, static_cast<uint32_t>(moved)};
}

int64_t CameraFirmware::Read(uint16_t command, uint8_t* data, uint32_t length) {
    Block64 answer{};
    switch (command) {
        case vendor::kIdentification:
            PutText(answer.data(), 0, 8, "VELA2FW ");
            PutText(answer.data(), 8, 16, "2.14.0003");
            PutText(answer.data(), 24, 40, "SIM");
            break;
        case vendor::kFpga:
        case vendor::kFpgaAlternative:
            answer = fpga_;
            break;
        case vendor::kOffsets:
            // Only the offset half can be read back; the clock voltages are
            // write-only on the camera.
            std::memcpy(answer.data() + vendor::kHalfBlock,
                        clockAndOffsets_.data() + vendor::kHalfBlock, vendor::kHalfBlock);
            break;
        case vendor::kCalibration:
            answer = calibration_;
            break;
        case vendor::kStatus:
            StatusRecord(answer);
            break;
        case vendor::kProductInfo:
            answer = productInfo_;
            break;
        case vendor::kTemperatures:
            TemperatureRecord(answer);
            break;
        default:
            return -1;
    }
    const uint32_t n = std::min(length, vendor::kBlockSize);
    if (n > 0) std::memcpy(data, answer.data(), n);
    return n;
}

int64_t CameraFirmware::Write(uint16_t command, const uint8_t* data, uint32_t length) {
    const bool block = command == vendor::kFpga || command == vendor::kFpgaAlternative ||
                       command == vendor::kOffsets || command == vendor::kClockVoltages ||
                       command == vendor::kCalibration || command == vendor::kProductInfo;
    if (block && length < vendor::kBlockSize) return -1;  // the logic latches whole blocks only
    switch (command) {
        case vendor::kFpga:
        case vendor::kFpgaAlternative:
            std::memcpy(fpga_.data(), data, vendor::kBlockSize);
            break;
        case vendor::kClockVoltages:
            std::memcpy(clockAndOffsets_.data(), data, vendor::kHalfBlock);
            break;
        case vendor::kOffsets:
            std::memcpy(clockAndOffsets_.data() + vendor::kHalfBlock, data + vendor::kHalfBlock,
                        vendor::kHalfBlock);
            break;
        case vendor::kCalibration:
            IntegrateThermal(clock_->NowMs());  // the old setpoint ruled until now
            std::memcpy(calibration_.data(), data, vendor::kBlockSize);
            break;
        case vendor::kProductInfo:
            std::memcpy(productInfo_.data(), data, vendor::kBlockSize);
            break;
        case vendor::kHardwareTrigger:
            Trigger(false);
            break;
        case vendor::kSoftwareTrigger:
            Trigger(true);
            break;
        case vendor::kReset:
        case vendor::kSoftReset:
            ResetToIdle();
            break;
        case vendor::kImageReRead:
            if (state_ == vendor::kIdle && frameTaken_) state_ = vendor::kReadout;
            break;
        default:
            return -1;
    }
    return block ? vendor::kBlockSize : length;
}

void CameraFirmware::StatusRecord(Block64& record) {
    record[vendor::kStatusVersionAt] = 1;
    platform::StoreBe32(&record[vendor::kStatusFramesReadAt], framesRead_);
    record[vendor::kStatusStateAt] = faults_.holding ? faults_.heldState : state_;
    const bool lose = faults_.failNextFrame ||
                      (faults_.loseFrame != 0 && faults_.loseFrame == g_processFrames.load() + 1);
    if (lose && (record[vendor::kStatusStateAt] & vendor::kReadout) && state_ == vendor::kReadout) {
        // The host reads the frame next: that transfer is the one to lose.
        faults_.failNextFrame = false;
        faults_.loseFrame = 0;
        state_ = vendor::kIdle;
        if (auto device = device_.lock())
            device->FailNextTransfer(kUsbStatusStall, kDriverStatusUnsuccessful);
    }
}

void CameraFirmware::TemperatureRecord(Block64& record) {
    IntegrateThermal(clock_->NowMs());
    const uint16_t top = static_cast<uint16_t>(std::lround(thermal_.effort * kMaxCurrentCounts));
    // The two coolers are not matched: the bottom one draws a little less.
    const uint16_t bottom = static_cast<uint16_t>(top - top / 50);
    platform::StoreBe16(&record[vendor::kHeatSinkKelvinAt], Counts(thermal_.heatSinkK));
    platform::StoreBe16(&record[vendor::kSensorKelvinAt], Counts(thermal_.sensorK));
    platform::StoreBe16(&record[vendor::kTopCurrentAt], top);
    platform::StoreBe16(&record[vendor::kBottomCurrentAt], bottom);
}

bool CameraFirmware::Advance() {
    if (faults_.holding || state_ != vendor::kExposure) return false;
    // Stepped time adds up in floating point: a step landing on the end by
    // another sum of the same milliseconds must count as reaching it.
    if (clock_->NowMs() < exposureEndMs_ - kTimeTolerance) return false;
    state_ = vendor::kReadout;
    return true;
}

void CameraFirmware::StartExposure() {
    exposureEndMs_ = clock_->NowMs() + platform::LoadBe16(&fpga_[vendor::kExposureMsAt]);
    state_ = vendor::kExposure;
    Advance();  // a zero exposure is read out at once
}

void CameraFirmware::Trigger(bool software) {
    if (state_ == vendor::kIdle) {
        if (software)
            StartExposure();
        else
            state_ = vendor::kWaitForTrigger;
    } else if (state_ == vendor::kWaitForTrigger && software) {
        StartExposure();
    }
}

void CameraFirmware::ResetToIdle() { state_ = vendor::kIdle; }

double CameraFirmware::SetpointKelvin() const {
    return platform::LoadBe16(&calibration_[vendor::kSetpointKelvinAt]) / 100.0;
}

void CameraFirmware::IntegrateThermal(double nowMs) {
    const double elapsed = nowMs - thermal_.lastMs;
    if (clock_->Instant()) {
        // Settled at once: a few rounds let the heat sink and the effort,
        // which depend on each other, agree.
        thermal_.lastMs = nowMs;
        for (int round = 0; round < 8; ++round) RelaxThermal(HUGE_VAL);
        return;
    }
    if (!(elapsed > 0)) return;
    thermal_.lastMs = nowMs;
    RelaxThermal(elapsed);
}

void CameraFirmware::RelaxThermal(double elapsedMs) {
    const double sink = ambientK_ + kHeatSinkRiseKelvin * thermal_.effort;
    // A cooler only cools, and only so far below its heat sink.
    const double target = std::clamp(SetpointKelvin(), sink - kMaxCoolingKelvin, sink);
    thermal_.sensorK =
        target + (thermal_.sensorK - target) * std::exp(-elapsedMs / kTimeConstantMs);
    const double holding = (sink - thermal_.sensorK) / kMaxCoolingKelvin;
    const double chasing = (thermal_.sensorK - SetpointKelvin()) * kEffortPerKelvinOfError;
    thermal_.effort = std::clamp(holding + std::max(chasing, 0.0), 0.0, 1.0);
    thermal_.heatSinkK = ambientK_ + kHeatSinkRiseKelvin * thermal_.effort;
}

void CameraFirmware::SetProductInfo(const std::string& suffix) {
    productInfo_.fill(0);
    PutText(productInfo_.data(), 0, vendor::kModelFieldSize, "VELA2-CCD");
    PutText(productInfo_.data(), vendor::kSensorFieldAt, vendor::kSensorFieldSize,
            "VELA2-CCD" + suffix);
}

bool CameraFirmware::Fill(uint8_t endpointAddress, uint8_t* buffer, uint32_t length,
                          uint32_t& produced) {
    OneAtATime guard(busy_, violations_);
    produced = 0;
    if (endpointAddress != kCameraBulkInAddress) return false;  // nothing to say there
    std::lock_guard<std::mutex> lock(mutex_);
    Advance();
    if (state_ != vendor::kReadout || faults_.stallFrames) return false;
    if (picture_ == Picture::Sky && fpga_[kTestPatternAt] == 0)
        ReadSky(buffer, length);
    else if (length > 0)
        std::memcpy(buffer, pattern_.Prepare(length), length);
    produced = length;
    state_ = vendor::kIdle;
    frameTaken_ = true;
    ++framesRead_;
    ++g_processFrames;
    return true;
}

void CameraFirmware::FireExternalTrigger() {
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (state_ == vendor::kWaitForTrigger) {
            StartExposure();
            changed = true;
        }
    }
    if (changed) {
        timerWake_.notify_all();
        KickDevice();
    }
}

void CameraFirmware::Update() {
    bool changed = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        changed = Advance();
        IntegrateThermal(clock_->NowMs());
    }
    if (changed) KickDevice();
}

uint8_t CameraFirmware::CurrentState() {
    std::lock_guard<std::mutex> lock(mutex_);
    Advance();
    return state_;
}

std::vector<uint8_t> CameraFirmware::Block(uint16_t command) const {
    std::lock_guard<std::mutex> lock(mutex_);
    switch (command) {
        case vendor::kFpga:
        case vendor::kFpgaAlternative:
            return {fpga_.begin(), fpga_.end()};
        case vendor::kOffsets:
        case vendor::kClockVoltages:
            return {clockAndOffsets_.begin(), clockAndOffsets_.end()};
        case vendor::kCalibration:
            return {calibration_.begin(), calibration_.end()};
        case vendor::kProductInfo:
            return {productInfo_.begin(), productInfo_.end()};
        default:
            return {};
    }
}

void CameraFirmware::SetSensorSuffix(const std::string& suffix) {
    std::lock_guard<std::mutex> lock(mutex_);
    SetProductInfo(suffix);
}

void CameraFirmware::SetAmbientKelvin(double kelvin) {
    std::lock_guard<std::mutex> lock(mutex_);
    IntegrateThermal(clock_->NowMs());
    ambientK_ = kelvin;
}

void CameraFirmware::ReadSky(uint8_t* buffer, uint32_t length) {
    std::vector<uint8_t> image(fpga_.begin(), fpga_.end());
    for (const std::vector<uint8_t>& candidate : epalImages_)
        if (SensorReadout::Describes(candidate, fpga_.data())) image = candidate;
    // Scenes take a while to prepare: they are kept while the mode stays.
    if (!readout_ || image != readoutImage_) {
        readout_ = std::make_unique<SensorReadout>(image);
        readoutImage_ = std::move(image);
        scene_.reset();
    }
    if (!scene_)
        scene_ = std::make_unique<SkyScene>(sky_, readout_->SceneWidth(), readout_->SceneHeight(),
                                            readout_->BinX(), readout_->BinY());
    IntegrateThermal(clock_->NowMs());
    lastSky_ = SkyScene::Exposure{double(platform::LoadBe16(&fpga_[vendor::kExposureMsAt])),
                                  thermal_.sensorK, framesRead_};
    readout_->Read(*scene_, lastSky_, buffer, length);
}

void CameraFirmware::SetPicture(Picture picture) {
    std::lock_guard<std::mutex> lock(mutex_);
    picture_ = picture;
}

void CameraFirmware::SetSky(const SkySettings& settings) {
    std::lock_guard<std::mutex> lock(mutex_);
    sky_ = settings;
    scene_.reset();
}

void CameraFirmware::SetEpalImages(std::vector<std::vector<uint8_t>> images) {
    std::lock_guard<std::mutex> lock(mutex_);
    epalImages_ = std::move(images);
}

bool CameraFirmware::LoadModeFile(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    std::vector<std::vector<uint8_t>> images;
    for (int mode = 0; mode < 16; ++mode) {
        char hexFile[1024] = {};
        const std::string section = "Mode" + std::to_string(mode);
        platform::ProfileReadString(section.c_str(), "Configuration File", "", hexFile,
                                    sizeof hexFile, path.c_str());
        if (hexFile[0] == '\0') continue;
        std::ifstream file(hexFile, std::ios::binary);
        if (!file) file.open(folder + hexFile, std::ios::binary);
        std::vector<uint8_t> image(400);
        if (file.read(reinterpret_cast<char*>(image.data()), std::streamsize(image.size())))
            images.push_back(std::move(image));
    }
    if (images.empty()) return false;
    SetEpalImages(std::move(images));
    return true;
}

SkyScene::Exposure CameraFirmware::LastSkyExposure() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastSky_;
}

uint32_t CameraFirmware::FramesRead() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return framesRead_;
}

uint32_t CameraFirmware::ControlTransfers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return controlTransfers_;
}

void CameraFirmware::FailControlTransfer(uint32_t nth) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.failAt = nth == 0 ? 0 : controlTransfers_ + nth;
}

void CameraFirmware::ShortenControlTransfer(uint32_t nth, uint32_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.shortAt = nth == 0 ? 0 : controlTransfers_ + nth;
    faults_.shortBytes = bytes;
}

void CameraFirmware::HoldState(uint8_t state) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.holding = true;
    faults_.heldState = state;
}

void CameraFirmware::ReleaseState() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        faults_.holding = false;
    }
    timerWake_.notify_all();
}

void CameraFirmware::FailNextFrame() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.failNextFrame = true;
}

void CameraFirmware::LoseFrame(uint32_t number) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.loseFrame = number;
}

void CameraFirmware::StallFrames(bool stall) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        faults_.stallFrames = stall;
    }
    if (!stall) KickDevice();
}

void CameraFirmware::KickDevice() {
    std::shared_ptr<SimUsbDevice> device;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        device = device_.lock();
    }
    if (device) device->Kick();
}

void CameraFirmware::TimerLoop() {
    const std::shared_ptr<std::atomic<bool>> gone = gone_;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (state_ != vendor::kExposure || faults_.holding) {
            timerWake_.wait(lock);
            continue;
        }
        const double realMs = clock_->RealMsUntil(exposureEndMs_ - kTimeTolerance);
        if (realMs < 0) {
            timerWake_.wait_for(lock, kFrozenPoll);
        } else if (realMs > 0) {
            timerWake_.wait_for(lock, std::chrono::duration<double, std::milli>(realMs));
        }
        if (stopping_ || !Advance()) continue;
        lock.unlock();
        KickDevice();
        if (gone->load()) return;
        lock.lock();
    }
}

}  // namespace sim
