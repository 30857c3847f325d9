// The camera's answers to control reads, as arbitrary as a broken or hostile
// camera can make them: the fuzzer's input is a tape from which a simulated
// device answers every vendor read (any length, short, empty or refused) and
// from which the harness picks the operations to run. Each input brings the
// device up (descriptors, the EPAL file's blocks and geometry), runs its
// operations and closes the camera; the bundled settings are read once. Nothing may crash, touch a
// byte outside a caller's buffer or wait without bound; a block read that succeeds hands over
// exactly what the camera answered, and one that fails leaves the caller's buffer as it was.
//
// Tape layout: a first byte whose bit 0 takes the device descriptor and bit 1
// configuration 0 from the tape (a length byte, then that many bytes); then
// the operations, each an opcode and its argument bytes, with the answers of
// the reads it makes in between. An answer is a length byte L and L bytes of
// data; L = 0xFE answers in full (as many bytes as asked, from the tape),
// L = 0xFF refuses the request. An exhausted tape answers every read empty.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "camera/CTesselCamera.h"
#include "camera/CameraSettings.h"
#include "camera/ProcessObjects.h"
#include "settings/CAbsPropertyReader.h"
#include "sim/SimUsbDriver.h"

namespace {

constexpr uint8_t kAnswerInFull = 0xFE;
constexpr uint8_t kRefuse = 0xFF;
constexpr int kMaxOperations = 16;
constexpr uint8_t kUntouched = 0xCC;
constexpr size_t kBlockSize = 64;

void Check(bool condition) {
    if (!condition) std::abort();
}

// The input, read by the harness between requests and by the device while
// it answers one; the two never read at the same time, but on two threads.
class Tape {
  public:
    void Load(const uint8_t* data, size_t size) {
        std::lock_guard<std::mutex> lock(mutex_);
        data_ = data;
        size_ = size;
        at_ = 0;
    }
    bool Empty() {
        std::lock_guard<std::mutex> lock(mutex_);
        return at_ >= size_;
    }
    uint8_t Byte() {
        std::lock_guard<std::mutex> lock(mutex_);
        return TakeByte();
    }
    std::vector<uint8_t> Bytes(size_t count) {
        std::lock_guard<std::mutex> lock(mutex_);
        return TakeBytes(count);
    }
    std::vector<uint8_t> Chunk() {
        std::lock_guard<std::mutex> lock(mutex_);
        return TakeBytes(TakeByte());
    }
    // The next answer for a read of `asked` bytes; false to refuse it.
    bool Answer(uint32_t asked, std::vector<uint8_t>& bytes, uint32_t& reported) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (at_ >= size_) {
            bytes.clear();
            reported = 0;
            return true;
        }
        const uint8_t length = TakeByte();
        if (length == kRefuse) return false;
        // A camera cannot claim bytes it did not send: an answer cut short by
        // the end of the tape reports what it carries.
        bytes = TakeBytes(length == kAnswerInFull ? asked : length);
        reported = static_cast<uint32_t>(bytes.size());
        return true;
    }

  private:
    uint8_t TakeByte() { return at_ < size_ ? data_[at_++] : 0; }
    std::vector<uint8_t> TakeBytes(size_t count) {
        const size_t taken = std::min(count, size_ - at_);
        std::vector<uint8_t> bytes(data_ + at_, data_ + at_ + taken);
        at_ += taken;
        return bytes;
    }

    std::mutex mutex_;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t at_ = 0;
};

// Takes every write; answers each vendor read from the tape and remembers
// what it put into the host's buffer.
class TapeDevice : public sim::VendorRequestHandler {
  public:
    explicit TapeDevice(Tape& tape) : tape_(tape) {}
    sim::ControlOutcome HandleControl(const sim::SetupPacket& setup, uint8_t* data,
                                      uint32_t length) override {
        if (!setup.DeviceToHost()) return {false, length};
        std::vector<uint8_t> bytes;
        uint32_t reported = 0;
        const bool answered = tape_.Answer(length, bytes, reported);
        std::lock_guard<std::mutex> lock(mutex_);
        last_.clear();
        if (!answered) return {true, 0};
        last_.assign(bytes.begin(), bytes.begin() + std::min<size_t>(bytes.size(), length));
        if (!last_.empty()) std::memcpy(data, last_.data(), last_.size());
        return {false, reported};
    }
    // What the last read put into the host's buffer (empty when refused).
    std::vector<uint8_t> LastAnswer() {
        std::lock_guard<std::mutex> lock(mutex_);
        return last_;
    }

  private:
    Tape& tape_;
    std::mutex mutex_;
    std::vector<uint8_t> last_;
};

struct Rig {
    Tape tape;
    std::shared_ptr<TapeDevice> answers = std::make_shared<TapeDevice>(tape);
    sim::SimUsbSession session;
    std::shared_ptr<sim::SimUsbDevice> device = std::make_shared<sim::SimUsbDevice>();
    Rig() {
        device->SetVendorRequestHandler(answers);
        session.driver().Publish(device);
    }
};

// The settings as the bundled file gives them, held in memory: bring-up
// reads some of them on every run, and parsing the file each time would
// cost more than the rest of the run.
class SettingsInMemory : public CAbsPropertyReader {
  public:
    explicit SettingsInMemory(CAbsPropertyReader& source) {
        StringList names;
        source.GetSections(names);
        for (const std::string& name : names) source.ReadSection(name, sections_[name]);
        Opened = true;
    }
    void GetSections(StringList& names) override {
        names.clear();
        for (const auto& section : sections_) names.push_back(section.first);
    }
    void WriteSection(const std::string& section, const StringMap& values) override {
        for (const auto& entry : values) sections_[section][entry.first] = entry.second;
    }
    bool ReadSection(const std::string& section, StringMap& values) override {
        values = sections_[section];
        return true;
    }
    void WriteString(const std::string& key, const std::string& value,
                     const std::string& section) override {
        sections_[section][key] = value;
    }
    bool ReadString(const std::string& key, std::string& value,
                    const std::string& section) override {
        value.clear();
        const auto found = sections_.find(section);
        if (found == sections_.end() || found->second.count(key) == 0) return false;
        value = found->second.at(key);
        return true;
    }
    bool ReservedOperation(int32_t) override { return true; }
    bool Open(const std::string&) override { return true; }

  private:
    std::map<std::string, StringMap> sections_;
};

// Reads the settings as initialization does, once for the run.
CTesselCamera& ConfiguredCamera() {
    CTesselCamera& camera = TheCamera();
    std::string registryPath;
    camera_settings::InitializationValues values;
    Check(camera_settings::PrepareReader(camera, VELA2_FUZZ_SETTINGS_FILE, 0, registryPath) &&
          camera_settings::ReadInitializationSettings(camera, VELA2_FUZZ_EPAL_FILE, values) &&
          camera_settings::BuildDeviceList(camera, 0, registryPath));
    camera.SettingsReader = std::make_unique<SettingsInMemory>(*camera.SettingsReader);
    return camera;
}

Rig& TheRig() {
    static Rig& rig = *new Rig;  // lives for the run: the device thread answers from it
    return rig;
}

void ChooseDescriptors(Rig& rig, uint8_t choice) {
    sim::UsbDescriptorSet set = sim::UsbDescriptorSet::Camera();
    if (choice & 1) set.device = rig.tape.Chunk();
    if (choice & 2) set.configurations[0] = rig.tape.Chunk();
    rig.device->SetDescriptors(set);
}

// A caller's buffer of exactly `size` bytes, so that the sanitizer sees any
// byte written beyond it.
std::vector<uint8_t> CallerBuffer(size_t size) { return std::vector<uint8_t>(size, kUntouched); }

int32_t SignedLength(Tape& tape) { return static_cast<int8_t>(tape.Byte()); }

size_t Used(int32_t length, size_t limit) {
    return length <= 0 ? 0 : std::min(static_cast<size_t>(length), limit);
}

// A read that copies the first bytes of one camera answer: on success they
// are the camera's bytes from a complete answer, on failure untouched.
void CheckCopied(Rig& rig, int32_t result, const std::vector<uint8_t>& buffer, size_t offset,
                 size_t count, size_t answerSize) {
    if (result == 1) {
        const std::vector<uint8_t> answer = rig.answers->LastAnswer();
        Check(answer.size() == answerSize);
        Check(count == 0 ||
              std::memcmp(buffer.data() + offset, answer.data() + offset, count) == 0);
        return;
    }
    for (size_t i = 0; i < count; ++i) Check(buffer[offset + i] == kUntouched);
}

void StagedRead(Rig& rig, CTesselCamera& camera, uint8_t opcode) {
    const int32_t length = SignedLength(rig.tape);
    const size_t count = Used(length, kBlockSize);
    std::vector<uint8_t> buffer = CallerBuffer(count);
    int32_t result = 0;
    switch (opcode % 3) {
        case 0:
            result = camera.ReadFpga(buffer.data(), length, opcode & 4);
            break;
        case 1:
            result = camera.ReadCalibration(buffer.data(), length);
            break;
        default:
            result = camera.ReadProductInfo(buffer.data(), length);
            break;
    }
    CheckCopied(rig, result, buffer, 0, count, kBlockSize);
}

void ReadStatus(Rig& rig, CTesselCamera& camera) {
    const int32_t length = SignedLength(rig.tape);
    const size_t count = Used(length, 32);
    std::vector<uint8_t> buffer = CallerBuffer(count);
    CheckCopied(rig, camera.GetCameraStatus(buffer.data(), length), buffer, 0, count, kBlockSize);
}

void ReadTemperatureRecord(Rig& rig, CTesselCamera& camera) {
    const int32_t length = SignedLength(rig.tape);
    const size_t count = Used(length, kBlockSize);
    std::vector<uint8_t> buffer = CallerBuffer(count);
    CheckCopied(rig, camera.UpdateTemperature(buffer.data(), length), buffer, 0, count, kBlockSize);
}

void ReadOffsets(Rig& rig, CTesselCamera& camera) {
    // The offsets are the second half of their block and land there.
    const int32_t length = SignedLength(rig.tape);
    const size_t count = Used(length, kBlockSize / 2);
    std::vector<uint8_t> buffer = CallerBuffer(kBlockSize / 2 + count);
    CheckCopied(rig, camera.ReadOffsets(buffer.data(), length), buffer, kBlockSize / 2, count,
                kBlockSize);
}

void ReadTemperature(Rig& rig, CTesselCamera& camera) {
    int32_t (CTesselCamera::*const readings[])(double*) = {
        &CTesselCamera::GetCcdTemperature, &CTesselCamera::GetHeatSinkTemperature,
        &CTesselCamera::GetTopTecCurrent, &CTesselCamera::GetBottomTecCurrent};
    double value = NAN;
    const int32_t status = (camera.*readings[rig.tape.Byte() % 4])(&value);
    Check(status != 0 || std::isfinite(value));
}

void ReadFirmwareVersion(CTesselCamera& camera) {
    // As the version report asks for it: 64 bytes of text, one more for the end.
    char text[kBlockSize + 1] = {};
    camera.ReadVendorRequest("0xAB", "0x0", "0x0", reinterpret_cast<uint8_t*>(text),
                             static_cast<int32_t>(kBlockSize));
    Check(text[kBlockSize] == '\0');
}

void RunOperation(Rig& rig, CTesselCamera& camera) {
    const uint8_t opcode = rig.tape.Byte();
    switch (opcode % 12) {
        case 0:
            ReadStatus(rig, camera);
            break;
        case 1: {
            std::vector<uint8_t> record = CallerBuffer(kBlockSize);
            uint8_t state = 0;
            camera.ReadCameraState(record.data(), state);
            break;
        }
        case 2:
            ReadTemperature(rig, camera);
            break;
        case 3:
            ReadTemperatureRecord(rig, camera);
            break;
        case 4:
            camera.SetTemperatureSetpoint(rig.tape.Byte() << 8 | rig.tape.Byte());
            break;
        case 5:
            StagedRead(rig, camera, opcode >> 4);
            break;
        case 6:
            ReadOffsets(rig, camera);
            break;
        case 7: {
            std::vector<uint8_t> blocks = CallerBuffer(CTesselCamera::kUploadSize);
            camera.Download(blocks.data(), CTesselCamera::kUploadSize);
            break;
        }
        case 8: {
            uint32_t type = 0;
            camera.GetCameraType(&type);
            break;
        }
        case 9: {
            uint32_t exposure = 0, length = 0, start = 0;
            if (camera.GetExposureTime(&exposure, &length, &start) == 0 && (opcode & 0x10))
                camera.SetExposureTime(exposure + 1, length, start);
            break;
        }
        case 10:
            ReadFirmwareVersion(camera);
            break;
        default:
            // The geometry is written back through a read of the camera's block.
            camera.SetFrameSize(1, rig.tape.Byte(), rig.tape.Byte(), rig.tape.Byte() % 8,
                                rig.tape.Byte() % 8);
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The camera's process objects include the named events, which every
    // process of the user shares unless told otherwise.
    setenv("VELA2_EVENT_NAMESPACE", "vela2fuzz", 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Rig& rig = TheRig();
    static CTesselCamera& camera = ConfiguredCamera();
    rig.tape.Load(data, size);
    ChooseDescriptors(rig, rig.tape.Byte());
    // Initialization's own steps around the bring-up wait, start threads and
    // reset; only the bring-up reads what the camera answers.
    camera.Initialized = camera.InitializeDevice();
    for (int i = 0; i < kMaxOperations && !rig.tape.Empty(); ++i) RunOperation(rig, camera);
    camera.Close(0);
    rig.tape.Load(nullptr, 0);
    return 0;
}
