// One 32 MiB direct bulk IN transfer through the endpoint against the
// simulated device, beside a plain memcpy of the same bytes: the device
// copies its prepared frame once into the caller's buffer, so the ratio is
// what the library's transfer path adds to that copy.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "FrameCopy.h"
#include "RatioReporter.h"
#include "sim/PreparedFrameSource.h"
#include "sim/SimUsbDriver.h"
#include "usb/CCyUSBDevice.h"

namespace {

using bench::BM_FrameCopy32MiB;
using bench::kFrameBytes;

void BM_DirectBulkTransfer32MiB(benchmark::State& state) {
    sim::SimUsbSession session;
    auto device = std::make_shared<sim::SimUsbDevice>();
    device->SetFrameSource(
        std::make_shared<sim::PreparedFrameSource>(std::vector<uint8_t>(kFrameBytes, 0x5A)));
    session.driver().Publish(device);
    usb::CCyUSBDevice usbDevice(nullptr, sim::CameraInterfaceClass(), true);
    usb::CCyUSBEndpoint* bulkIn = usbDevice.BulkInEndPt;
    if (bulkIn == nullptr) {
        state.SkipWithError("the simulated camera has no bulk IN endpoint");
        return;
    }
    bulkIn->TimeOut = 0xFFFFFFFE;
    std::vector<uint8_t>& destination = bench::FrameDestination();
    for (auto _ : state) {
        int32_t length = static_cast<int32_t>(kFrameBytes);
        if (!bulkIn->Transfer(destination.data(), length) || length != int32_t(kFrameBytes)) {
            state.SkipWithError("transfer failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFrameBytes));
}

}  // namespace

// The device copies on its own thread, so only wall time tells; medians of
// several repetitions keep a busy machine's stalls out of the ratio.
BENCHMARK(BM_FrameCopy32MiB)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_DirectBulkTransfer32MiB)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
    return bench::RunWithRatios(
        argc, argv,
        {{"transfer / memcpy of 32 MiB", "BM_DirectBulkTransfer32MiB", "BM_FrameCopy32MiB"}});
}
