// Arbitrary descriptor sets from a simulated device through Open and the
// selection of configuration 0's alternate setting.
//
// Input layout: byte 0 the driver's current alternate setting (0xFF: the
// request fails), byte 1 the low byte of the driver version, then chunks of
// a 2-byte little-endian length and that many bytes: the device descriptor,
// string descriptor 0, configuration sets 0, 1, 2 and string descriptors 1..3.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/SimUsbDriver.h"
#include "usb/CCyUSBDevice.h"

namespace {

class Chunks {
  public:
    Chunks(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    std::vector<uint8_t> Next() {
        if (size_ - at_ < 2) return {};
        size_t length = data_[at_] | (data_[at_ + 1] << 8);
        at_ += 2;
        if (length > size_ - at_) length = size_ - at_;
        std::vector<uint8_t> chunk(data_ + at_, data_ + at_ + length);
        at_ += length;
        return chunk;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// Touches everything a caller may read after Open, so sanitizers see any
// dangling or out-of-table entry.
unsigned Inspect(const usb::CCyUSBDevice& device) {
    unsigned sum = device.EndpointCount();
    if (device.EndPoints != nullptr)
        for (int i = 0; i < device.EndpointCount(); ++i)
            if (device.EndPoints[i] != nullptr) sum += device.EndPoints[i]->Address;
    for (uint32_t c = 0; c < usb::kMaxConfigurations; ++c) {
        const usb::CCyUSBConfig* config = device.Config(c);
        if (config == nullptr) continue;
        for (uint32_t i = 0; i < config->AltInterfaces; ++i)
            sum += config->Interface(i)->bNumEndpoints + config->Interface(i)->wTotalLength;
    }
    for (const auto* typed : {device.BulkInEndPt, device.BulkOutEndPt, device.InterruptInEndPt,
                              device.InterruptOutEndPt, device.IsocInEndPt, device.IsocOutEndPt})
        if (typed != nullptr) sum += typed->MaxPktSize;
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static sim::SimUsbSession* session = new sim::SimUsbSession;  // one driver for the run
    static std::shared_ptr<sim::SimUsbDevice> device = [] {
        auto d = std::make_shared<sim::SimUsbDevice>();
        session->driver().Publish(d);
        return d;
    }();

    Chunks chunks(data + 2, size - 2);
    sim::UsbDescriptorSet set;
    set.device = chunks.Next();
    set.languages = chunks.Next();
    for (int i = 0; i < 3; ++i) set.configurations.push_back(chunks.Next());
    for (uint8_t i = 1; i <= 3; ++i) set.strings[i] = chunks.Next();
    device->SetDescriptors(set);
    device->SetAlternateSetting(data[0] == 0xFF ? -1 : data[0]);
    device->SetDriverVersion(0x01050400u + data[1]);

    usb::CCyUSBDevice opened(nullptr, sim::CameraInterfaceClass(), true);
    volatile unsigned sink = Inspect(opened);
    (void)sink;
    return 0;
}
