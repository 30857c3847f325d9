// Drives the simulated camera's firmware with arbitrary request sequences:
// any setup packet, data stage, frame read, clock step, trigger and fault, in
// any order. The firmware must never move more bytes than asked, never write
// outside the buffer it was given, and always report a state it can be in.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "camera/VendorProtocol.h"
#include "sim/CameraFirmware.h"

namespace {

class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Empty() const { return at_ >= size_; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

void Check(bool condition) {
    if (!condition) std::abort();
}

bool KnownState(uint8_t state) {
    return state == vendor::kIdle || state == vendor::kWaitForTrigger ||
           state == vendor::kExposure || state == vendor::kReadout;
}

void Control(sim::CameraFirmware& firmware, Input& in) {
    sim::SetupPacket setup{};
    setup.RequestType = in.Byte();
    setup.Request = (in.Byte() & 1) ? vendor::kRequest : in.Byte();
    setup.Value = static_cast<uint16_t>(in.Byte() & 0x0F);
    const uint32_t length = in.Byte() % 80;
    setup.Length = static_cast<uint16_t>(length);
    // Exactly the length asked for, so ASan sees any byte beyond it.
    std::unique_ptr<uint8_t[]> data(new uint8_t[length == 0 ? 1 : length]);
    for (uint32_t i = 0; i < length; ++i) data[i] = in.Byte();
    sim::ControlOutcome outcome = firmware.HandleControl(setup, data.get(), length);
    Check(outcome.stall || outcome.length <= length);
}

void ReadFrame(sim::CameraFirmware& firmware, Input& in) {
    const uint32_t length = in.Word();
    std::unique_ptr<uint8_t[]> frame(new uint8_t[length == 0 ? 1 : length]);
    uint32_t produced = 0;
    const uint8_t endpoint = (in.Byte() & 1) ? 0x82 : 0x81;
    const uint8_t before = firmware.CurrentState();
    if (firmware.Fill(endpoint, frame.get(), length, produced)) {
        Check(produced == length && before == vendor::kReadout);
        for (uint32_t i = 0; i + 1 < length; i += 2)
            Check((frame[i] | (frame[i + 1] << 8)) == sim::FramePixel(i / 2));
    } else {
        Check(produced == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto clock = std::make_shared<sim::SimClock>(1.0);
    clock->Freeze();
    sim::CameraFirmware firmware(clock);
    Input in(data, size);
    while (!in.Empty()) {
        switch (in.Byte() % 8) {
            case 0:
            case 1:
            case 2:
                Control(firmware, in);
                break;
            case 3:
                ReadFrame(firmware, in);
                break;
            case 4:
                clock->Advance(in.Word());
                firmware.Update();
                break;
            case 5:
                firmware.FireExternalTrigger();
                break;
            case 6: {
                const uint8_t knob = in.Byte();
                if (knob & 1) firmware.FailControlTransfer(in.Byte() % 4);
                if (knob & 2) firmware.ShortenControlTransfer(in.Byte() % 4, in.Byte());
                if (knob & 4) firmware.StallFrames((knob & 8) != 0);
                if (knob & 16) firmware.FailNextFrame();
                break;
            }
            case 7:
                if (in.Byte() & 1)
                    firmware.HoldState(in.Byte());
                else
                    firmware.ReleaseState();
                break;
        }
        Check(KnownState(firmware.CurrentState()));
    }
    Check(firmware.ConcurrencyViolations() == 0);
    return 0;
}
