// What a 5-second exposure on the simulated camera costs in CPU, as a
// fraction of one core, with the camera answering each control transfer at
// once and after the default round trip: the whole process, and the process
// without the simulated camera's own threads (what the library costs; on
// hardware the camera's side runs in the device and the kernel). The capture
// polls the camera state back to back for the whole exposure, so with no
// round trip it keeps a core busy; the camera's own pace is what should hold
// it back. Each row takes one real-time exposure: about 5 s.

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "camera/EpalImage.h"
#include "camera/ProcessObjects.h"
#include "sim/SimulatedCamera.h"

namespace {

constexpr uint16_t kExposureMs = 5000;
constexpr uint16_t kSide = 64;  // a small frame: the exposure, not the readout, is measured

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// CPU seconds of the simulated camera's threads, which are named for it.
double SimulatedCameraCpuSeconds() {
    static const std::string prefix = "vela2sim";
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    double seconds = 0;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return 0;
    while (const dirent* task = readdir(tasks)) {
        if (task->d_name[0] == '.') continue;
        const std::string folder = std::string("/proc/self/task/") + task->d_name;
        std::string name;
        std::getline(std::ifstream(folder + "/comm"), name);
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        std::string stat;
        std::getline(std::ifstream(folder + "/stat"), stat);
        // The fields after the parenthesised name: state is the 3rd field,
        // user and system time the 14th and 15th.
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        unsigned long long user = 0, system = 0;
        for (int n = 3; n <= 15 && fields >> field; ++n) {
            if (n == 14) user = std::stoull(field);
            if (n == 15) system = std::stoull(field);
        }
        seconds += double(user + system) / double(ticksPerSecond);
    }
    closedir(tasks);
    return seconds;
}

double WallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Rig {
    Rig() {
        std::filesystem::create_directories(dir);
        cameratest::EpalGeometry geometry;
        geometry.quadrantWidth = kSide;
        geometry.quadrantHeight = kSide;
        geometry.exposure = kExposureMs;
        std::vector<uint8_t> image = cameratest::MakeEpalImage(geometry);
        std::ofstream(dir + "mode0.hex", std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()),
                   static_cast<std::streamsize>(image.size()));
        std::ofstream(dir + "modes.ini") << "[Mode0]\nConfiguration File=" << dir << "mode0.hex\n";
        std::ofstream(dir + "Vela2Usb.ini")
            << "[General Info]\nUse Software Trigger=1\nSend FPGA data during initialize?=1\n"
               "Compare FPGA data during initialize?=0\n"
               "[Usb Settings]\nBulk IN endpoint number=2\nControl Endpoint timeout=1000\n"
               "Bulk endpoint internal buffer size=65536\n[Device_04B4]\n1002=sim\n";
        Process().ModulePath = dir + "libVela2UsbCameraDll.so";
        options.clock = std::make_shared<sim::SimClock>(1.0);
        camera = sim::SimulatedCamera::Publish(session.driver(), options);
        ok = TheCamera().InitializeForMode(0, (dir + "modes.ini").c_str(), 0) == 0;
        for (auto& image : images) image.assign(size_t(kSide) * kSide, 0);
    }
    ~Rig() {
        TheCamera().Close(1);
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    // Empty when the picture was taken, else what went wrong.
    std::string Picture() {
        uint16_t* buffers[4];
        uint16_t* overscans[4] = {};
        for (int q = 0; q < 4; ++q) buffers[q] = images[q].data();
        const int32_t started = TheCamera().StartPicture(buffers, kSide, kSide, overscans, 0, 0);
        const int32_t completion = started == 0 ? TheCamera().WaitForCapture(2 * kExposureMs) : 0;
        const int32_t status = LastStatus().Get();
        if (started == 0 && completion == 23 && status == 0) return {};
        return "the picture failed: start " + std::to_string(started) + ", completion " +
               std::to_string(completion) + ", status " + std::to_string(status);
    }

    std::string dir = (std::filesystem::temp_directory_path() /
                       ("vela2-bench-exposure-" + std::to_string(getpid())))
                          .string() +
                      "/";
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

// Argument: the control latency in microseconds.
void BM_ExposureProcessCpu(benchmark::State& state) {
    Rig& rig = TheRig();
    if (!rig.ok) {
        state.SkipWithError("the simulated camera did not initialize");
        return;
    }
    rig.camera.device->SetControlLatency(std::chrono::microseconds(state.range(0)));
    double cpu = 0, simulated = 0, wall = 0;
    uint32_t transfers = 0;
    for (auto _ : state) {
        const uint32_t transfersBefore = rig.camera.firmware->ControlTransfers();
        const double cpuBefore = ProcessCpuSeconds(), wallBefore = WallSeconds();
        const double simulatedBefore = SimulatedCameraCpuSeconds();
        const std::string failure = rig.Picture();
        cpu += ProcessCpuSeconds() - cpuBefore;
        simulated += SimulatedCameraCpuSeconds() - simulatedBefore;
        wall += WallSeconds() - wallBefore;
        transfers += rig.camera.firmware->ControlTransfers() - transfersBefore;
        if (!failure.empty()) state.SkipWithError(failure.c_str());
    }
    state.counters["core_fraction"] = cpu / wall;
    state.counters["library_core_fraction"] = (cpu - simulated) / wall;
    state.counters["control_transfers_per_s"] = transfers / wall;
    state.SetLabel(state.range(0) == sim::SimulatedCamera::kDefaultControlLatency.count()
                       ? "default latency"
                       : "answers at once");
}
BENCHMARK(BM_ExposureProcessCpu)
    ->ArgName("latency_us")
    ->Arg(0)
    ->Arg(sim::SimulatedCamera::kDefaultControlLatency.count())
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

}  // namespace

int main(int argc, char** argv) {
    // The capture events are shared with every other process of this user
    // (by design), so another process taking pictures would end this one's
    // waits early; a namespace of its own keeps the figure this process's.
    setenv("VELA2_EVENT_NAMESPACE", "bench-exposure-cpu", 0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
