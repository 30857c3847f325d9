// One picture of a 4-quadrant 2048 x 2048 mode (32 MiB raw) from the
// simulated camera, from LD_StartPicture's request to the capture-complete
// event, beside memcpy of the same bytes in the same run. The frame is moved
// once by the device and once by reconstruction; everything else is overhead.
// Also: peak resident memory across 200 consecutive pictures.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "camera/EpalImage.h"
#include "camera/ProcessObjects.h"
#include "sim/SimulatedCamera.h"

namespace {

constexpr int kSide = 2048;
constexpr int kQuadrants = 4;
constexpr size_t kRawBytes = size_t(2) * kQuadrants * kSide * kSide;

struct Rig {
    Rig() {
        std::string dir = "/tmp/vela2-bench-capture/";
        std::system(("mkdir -p " + dir).c_str());
        cameratest::EpalGeometry geometry;
        geometry.quadrantWidth = kSide;
        geometry.quadrantHeight = kSide;
        geometry.exposure = 0;
        std::vector<uint8_t> image = cameratest::MakeEpalImage(geometry);
        std::ofstream(dir + "mode0.hex", std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
        std::ofstream(dir + "modes.ini") << "[Mode0]\nConfiguration File=" << dir << "mode0.hex\n";
        std::ofstream(dir + "Vela2Usb.ini")
            << "[General Info]\nUse Software Trigger=1\nSend FPGA data during initialize?=1\n"
               "Compare FPGA data during initialize?=0\n"
               "Send clock voltage data during initialize?=1\n"
               "Send offset DAC data during initialize?=1\n"
               "Send calibration data during initialize?=1\n"
               "[Usb Settings]\nBulk IN endpoint number=2\nControl Endpoint timeout=1000\n"
               "Bulk endpoint internal buffer size=65536\n[Device_04B4]\n1002=sim\n";
        Process().ModulePath = dir + "libVela2UsbCameraDll.so";
        options.clock = std::make_shared<sim::SimClock>(0.0);
        camera = sim::SimulatedCamera::Publish(session.driver(), options);
        ok = TheCamera().InitializeForMode(0, (dir + "modes.ini").c_str(), 0) == 0;
        for (auto& image : images) image.assign(size_t(kSide) * kSide, 0);
    }
    ~Rig() { TheCamera().Close(1); }

    bool Picture() {
        uint16_t* buffers[4];
        uint16_t* overscans[4] = {};
        for (int q = 0; q < 4; ++q) buffers[q] = images[q].data();
        return TheCamera().StartPicture(buffers, kSide, kSide, overscans, 0, 0) == 0 &&
               TheCamera().WaitForCapture(10000) == 23 && LastStatus().Get() == 0;
    }

    sim::SimUsbSession session;
    sim::SimulatedCameraOptions options;
    sim::SimulatedCamera camera;
    bool ok = false;
    std::vector<uint16_t> images[4];
};

Rig& TheRig() {
    static Rig rig;
    return rig;
}

void BM_PictureToCompleteEvent(benchmark::State& state) {
    Rig& rig = TheRig();
    if (!rig.ok || !rig.Picture()) {
        state.SkipWithError("the simulated camera did not initialize or take a picture");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(rig.Picture());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kRawBytes));
}
BENCHMARK(BM_PictureToCompleteEvent)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_MemcpyOfTheRawFrame(benchmark::State& state) {
    std::vector<uint8_t> from(kRawBytes, 1), to(kRawBytes, 0);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kRawBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kRawBytes));
}
BENCHMARK(BM_MemcpyOfTheRawFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

double MedianMs(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

long PeakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Interleaved samples of both, so a busy machine slows both alike.
void ReportRatioAndMemory() {
    Rig& rig = TheRig();
    if (!rig.ok) return;
    std::vector<uint8_t> from(kRawBytes, 1), to(kRawBytes, 0);
    std::vector<double> picture, copy;
    for (int i = 0; i < 15; ++i) {
        auto start = std::chrono::steady_clock::now();
        rig.Picture();
        auto middle = std::chrono::steady_clock::now();
        std::memcpy(to.data(), from.data(), kRawBytes);
        benchmark::DoNotOptimize(to.data());
        auto end = std::chrono::steady_clock::now();
        picture.push_back(std::chrono::duration<double, std::milli>(middle - start).count());
        copy.push_back(std::chrono::duration<double, std::milli>(end - middle).count());
    }
    double pictureMs = MedianMs(picture), copyMs = MedianMs(copy);
    std::printf("picture %.2f ms, memcpy of %zu bytes %.2f ms, ratio %.2f (goal <= 2.5)\n",
                pictureMs, kRawBytes, copyMs, pictureMs / copyMs);

    long afterFirst = PeakResidentKiB();
    bool allGood = true;
    for (int i = 0; i < 200; ++i) allGood = rig.Picture() && allGood;
    long after200 = PeakResidentKiB();
    std::printf("peak resident memory: %ld KiB before, %ld KiB after 200 pictures (%+ld KiB)%s\n",
                afterFirst, after200, after200 - afterFirst, allGood ? "" : " [a picture failed]");
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    ReportRatioAndMemory();
    benchmark::Shutdown();
    return 0;
}
