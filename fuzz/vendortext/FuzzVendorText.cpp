// The texts of the raw vendor requests (request code, value and index, each
// decimal or hexadecimal) through the camera's ReadVendorRequest and
// WriteVendorRequest, on a simulated device that records what reaches it.
// Any texts: a request is sent at most once, the call succeeds exactly when
// it was sent, and a read hands over what the device answered. Texts that
// spell numbers plainly: exactly those numbers are sent.
//
// Input layout: the request, value and index texts, each ended by a zero
// byte; then a flags byte (bit 0 read, bits 1-3 spell the request, value and
// index of the plain texts in hexadecimal), the length as a signed 16-bit
// little-endian value, and the plain texts' request byte, value and index
// (16-bit little-endian each).

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "camera/CTesselCamera.h"
#include "camera/HexToDecimal.h"
#include "sim/SimUsbDriver.h"
#include "usb/CCyUSBDevice.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

uint8_t AnswerByte(uint32_t i) { return static_cast<uint8_t>(i * 7 + 0x5A); }

// Takes every request whole and answers every read in full.
class RecordingDevice : public sim::VendorRequestHandler {
  public:
    sim::ControlOutcome HandleControl(const sim::SetupPacket& setup, uint8_t* data,
                                      uint32_t length) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++count_;
        last_ = setup;
        if (setup.DeviceToHost())
            for (uint32_t i = 0; i < length; ++i) data[i] = AnswerByte(i);
        return {false, length};
    }
    uint32_t Count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return count_;
    }
    sim::SetupPacket Last() {
        std::lock_guard<std::mutex> lock(mutex_);
        return last_;
    }

  private:
    std::mutex mutex_;
    uint32_t count_ = 0;
    sim::SetupPacket last_{};
};

struct Rig {
    sim::SimUsbSession session;
    std::shared_ptr<sim::SimUsbDevice> device = std::make_shared<sim::SimUsbDevice>();
    std::shared_ptr<RecordingDevice> recorder = std::make_shared<RecordingDevice>();
    CTesselCamera camera;

    Rig() {
        device->SetVendorRequestHandler(recorder);
        session.driver().Publish(device);
        camera.UsbDevice =
            std::make_unique<usb::CCyUSBDevice>(nullptr, sim::CameraInterfaceClass(), true);
        camera.Initialized = 1;
        camera.ControlWriteDelay = 0;
        camera.ControlEndpointTimeout = 1000;
    }
};

class Input {
  public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    std::string Text() {
        std::string text;
        while (at_ < size_ && data_[at_] != 0) text += static_cast<char>(data_[at_++]);
        if (at_ < size_) ++at_;
        return text;
    }
    bool Has(size_t bytes) const { return size_ - at_ >= bytes; }
    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// Sends one request; true when it reached the device. The buffer is exactly
// as long as the request says, so that the sanitizer sees any byte beyond.
bool Send(Rig& rig, bool read, const std::string& request, const std::string& value,
          const std::string& index, int32_t length) {
    std::vector<uint8_t> buffer(length > 0 ? static_cast<size_t>(length) : 0);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i);
    const uint32_t before = rig.recorder->Count();
    const int32_t sent = read ? rig.camera.ReadVendorRequest(request.c_str(), value.c_str(),
                                                             index.c_str(), buffer.data(), length)
                              : rig.camera.WriteVendorRequest(request.c_str(), value.c_str(),
                                                              index.c_str(), buffer.data(), length);
    const uint32_t arrived = rig.recorder->Count() - before;
    Check(arrived <= 1 && (sent == 1) == (arrived == 1));
    if (arrived == 0) return false;
    const sim::SetupPacket setup = rig.recorder->Last();
    Check(setup.DeviceToHost() == read && setup.Length == length);
    if (read)
        for (size_t i = 0; i < buffer.size(); ++i) Check(buffer[i] == AnswerByte(i));
    return true;
}

// The conversions' own promise: a failed hexadecimal conversion is exactly
// the overflow value.
void CheckConversions(const std::string& text) {
    int32_t value = 0;
    Check(HexToDecimal(text.c_str(), value) == (value != INT32_MAX));
    (void)DecimalValue(text.c_str());
}

std::string Spell(uint32_t number, bool hexadecimal) {
    char text[16];
    std::snprintf(text, sizeof text, hexadecimal ? "0x%x" : "%u", number);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The camera's process objects include the named events, which every
    // process of the user shares unless told otherwise.
    setenv("VELA2_EVENT_NAMESPACE", "vela2fuzz", 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Rig& rig = *new Rig;  // one device for the run; never torn down under a request
    Input in(data, size);
    const std::string request = in.Text(), value = in.Text(), index = in.Text();
    for (const std::string* text : {&request, &value, &index}) CheckConversions(*text);
    const uint8_t flags = in.Byte();
    const bool read = (flags & 1) != 0;
    const int32_t length = static_cast<int16_t>(in.Word());
    Send(rig, read, request, value, index, length);

    if (!in.Has(5)) return 0;
    const uint8_t code = in.Byte();
    const uint16_t wValue = in.Word(), wIndex = in.Word();
    const int32_t plainLength = length > 0 && length <= 64 ? length : 1;
    Check(Send(rig, read, Spell(code, flags & 2), Spell(wValue, flags & 4),
               Spell(wIndex, flags & 8), plainLength));
    const sim::SetupPacket setup = rig.recorder->Last();
    Check(setup.Request == code && setup.Value == wValue && setup.Index == wIndex);
    return 0;
}
