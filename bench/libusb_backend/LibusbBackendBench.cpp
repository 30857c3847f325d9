// What the libusb backend costs per request beside the simulated driver, both
// answered by the same simulated device: a 64-byte vendor control read and a
// 32 MiB direct bulk read. libusb goes through the kernel's usbfs interface as
// umockdev emulates it in-process (run under umockdev-wrapper), so the ratio,
// not the time, is what the backend adds. Prints libusb / simulated per kind.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "RatioReporter.h"
#include "platform/libusb/LibusbDriver.h"
#include "sim/PreparedFrameSource.h"
#include "sim/SimUsbDriver.h"
#include "sim/SimUsbfsDevice.h"
#include "usb/CCyUSBDevice.h"

namespace {

constexpr size_t kFrameBytes = 32u << 20;
constexpr int32_t kControlBytes = 64;

class Answers64 : public sim::VendorRequestHandler {
  public:
    sim::ControlOutcome HandleControl(const sim::SetupPacket&, uint8_t*, uint32_t length) override {
        return {false, length};
    }
};

std::shared_ptr<sim::SimUsbDevice> Camera() {
    auto device = std::make_shared<sim::SimUsbDevice>();
    device->SetVendorRequestHandler(std::make_shared<Answers64>());
    device->SetFrameSource(
        std::make_shared<sim::PreparedFrameSource>(std::vector<uint8_t>(kFrameBytes, 0x5A)));
    return device;
}

// The camera on one backend for the benchmark's run.
struct Bus {
    explicit Bus(bool libusb) : device(Camera()) {
        if (!libusb) {
            session = std::make_unique<sim::SimUsbSession>();
            session->driver().Publish(device);
        } else {
            testbed = umockdev_testbed_new();
            usbfs = std::make_unique<sim::SimUsbfsDevice>(testbed, device);
            platform::SetAcceptedUsbDevices({{sim::kCameraVendorId, sim::kCameraProductId}});
            platform::RegisterUsbDriverBackend("libusb",
                                               std::make_shared<platform::LibusbDriver>());
            platform::SelectUsbDriverBackend("libusb");
        }
        camera = std::make_unique<usb::CCyUSBDevice>(nullptr, sim::CameraInterfaceClass(), true);
    }
    ~Bus() {
        camera.reset();
        platform::SelectUsbDriverBackend("");
        if (!testbed) return;
        platform::RegisterUsbDriverBackend("libusb", nullptr);
        usbfs.reset();
        g_object_unref(testbed);
    }

    std::shared_ptr<sim::SimUsbDevice> device;
    std::unique_ptr<sim::SimUsbSession> session;
    UMockdevTestbed* testbed = nullptr;
    std::unique_ptr<sim::SimUsbfsDevice> usbfs;
    std::unique_ptr<usb::CCyUSBDevice> camera;
};

void BM_ControlRead64(benchmark::State& state) {
    Bus bus(state.range(0) != 0);
    usb::CCyUSBControlEndpoint* control = bus.camera->ControlEndPt;
    if (control == nullptr) return state.SkipWithError("no camera");
    control->ReqType = 2;  // vendor
    control->Target = 0;
    control->ReqCode = 0xAB;
    control->TimeOut = 1000;
    uint8_t buffer[kControlBytes];
    for (auto _ : state) {
        int32_t length = kControlBytes;
        if (!control->Read(buffer, length) || length != kControlBytes)
            return state.SkipWithError("control read failed");
    }
}

void BM_BulkRead32MiB(benchmark::State& state) {
    Bus bus(state.range(0) != 0);
    usb::CCyUSBEndpoint* bulkIn = bus.camera->BulkInEndPt;
    if (bulkIn == nullptr) return state.SkipWithError("no bulk IN endpoint");
    bulkIn->TimeOut = 0xFFFFFFFE;
    static std::vector<uint8_t> destination(kFrameBytes, 1);
    for (auto _ : state) {
        int32_t length = static_cast<int32_t>(kFrameBytes);
        if (!bulkIn->Transfer(destination.data(), length) || length != int32_t(kFrameBytes))
            return state.SkipWithError("bulk read failed");
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFrameBytes));
}

}  // namespace

// Arg 0: the simulated driver; 1: libusb over the emulated usbfs.
BENCHMARK(BM_ControlRead64)
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_BulkRead32MiB)
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
    return bench::RunWithRatios(argc, argv,
                                {{"64-byte control read, libusb / simulated driver",
                                  "BM_ControlRead64/1", "BM_ControlRead64/0"},
                                 {"32 MiB bulk read, libusb / simulated driver",
                                  "BM_BulkRead32MiB/1", "BM_BulkRead32MiB/0"}});
}
