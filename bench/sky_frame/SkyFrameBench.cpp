// A 32 MiB frame of the simulated sky, read out through a four-output
// geometry, beside the plain copy of a prepared frame that the position-code
// pattern costs: the ratio is what the sky adds to every simulated picture.
#include <benchmark/benchmark.h>

#include <vector>

#include "FrameCopy.h"
#include "RatioReporter.h"
#include "platform/ByteOrder.h"
#include "sim/SensorReadout.h"
#include "sim/SkyScene.h"

namespace {

using bench::BM_FrameCopy32MiB;
using bench::kFrameBytes;

constexpr int kQuadrants = 4, kQuadrantWidth = 2048, kQuadrantHeight = 2048, kOverscan = 16,
              kFixedPrescan = 3;

// Four column-interleaved outputs, the right ones mirrored left to right and
// the lower ones top to bottom.
std::vector<uint8_t> FourOutputImage() {
    std::vector<uint8_t> image(400, 0);
    image[18] = image[21] = 1;
    const int rawWidth = kQuadrantWidth + kOverscan + kFixedPrescan + 1;
    platform::StoreLe16(&image[33], uint16_t(rawWidth));
    platform::StoreLe16(&image[35], uint16_t(kQuadrantHeight + kOverscan));
    platform::StoreLe16(&image[246], kQuadrantWidth);
    platform::StoreLe16(&image[248], kQuadrantHeight);
    for (int q = 0; q < kQuadrants; ++q) {
        image[256 + q] = 1;
        uint8_t* record = &image[256 + 16 + 32 * q];
        platform::StoreLe16(record, uint16_t(kFixedPrescan * kQuadrants + q));
        platform::StoreLe16(record + 4, kQuadrants);
        platform::StoreLe16(record + 6, 1);
        platform::StoreLe16(record + 24, (q & 1) ? 0x8001 : 1);
        platform::StoreLe16(record + 26, (q & 2) ? 0x8001 : 1);
    }
    return image;
}

void BM_SkyFrame32MiB(benchmark::State& state) {
    const sim::SensorReadout readout(FourOutputImage());
    const sim::SkyScene scene(sim::SkySettings{}, readout.SceneWidth(), readout.SceneHeight(), 1,
                              1);
    std::vector<uint8_t>& destination = bench::FrameDestination();
    sim::SkyScene::Exposure exposure{50, 253.15, 0};
    for (auto _ : state) {
        readout.Read(scene, exposure, destination.data(), kFrameBytes);
        ++exposure.frame;
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFrameBytes));
}

}  // namespace

// Medians of several repetitions keep a busy machine's stalls out of the ratio.
BENCHMARK(BM_FrameCopy32MiB)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_SkyFrame32MiB)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

int main(int argc, char** argv) {
    return bench::RunWithRatios(argc, argv,
                                {{"sky frame / frame copy of 32 MiB (goal: at most 4)",
                                  "BM_SkyFrame32MiB", "BM_FrameCopy32MiB"}});
}
