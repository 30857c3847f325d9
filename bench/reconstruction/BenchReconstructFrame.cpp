// Frame reconstruction against memcpy of the same bytes, measured side by
// side in the same iterations: bytes = raw frame read + pixels written.
// Counters: ratio (memcpy time / reconstruction time, above 1 when
// reconstruction is faster), allocations per frame, recon_GBps, memcpy_GBps,
// ratio_best, helper (1 when a second thread shared the frame). As in the
// library once a camera is initialized, frames are shared between the
// calling thread and the row band helper; the one_thread rows stop the
// helper, to show what one thread does beside memcpy's one. The machine is
// shared and its memory bandwidth drifts with what else runs, so ratio is
// the median over iterations of the two sides timed one right after the
// other; the GB/s figures and ratio_best use each side's fastest iteration,
// the run least disturbed by others. The cold rows empty the caches
// before each measured step, as a frame fresh from the device finds them;
// the warm rows repeat each side back to back, as a stream of frames of one
// size does.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "reconstruction/FrameReconstruction.h"
#include "reconstruction/RowBandWorker.h"

namespace {

std::atomic<long> g_allocations{0};

}  // namespace

void* operator new(size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

using Clock = std::chrono::steady_clock;

// Twice the largest last-level cache we expect: writing it pushes everything
// else out.
void EvictCaches() {
    static std::vector<uint8_t> scratch(size_t{64} << 20);
    static uint8_t value = 0;
    std::memset(scratch.data(), ++value, scratch.size());
    benchmark::ClobberMemory();
}

void PutWord(uint8_t* p, int32_t value) {
    const uint16_t word = static_cast<uint16_t>(value < 0 ? 0x8000 | -value : value);
    p[0] = static_cast<uint8_t>(word);
    p[1] = static_cast<uint8_t>(word >> 8);
}

struct Frame {
    int32_t side = 0;  // quadrant width and height
    bool overscan = false;
    int32_t columnStride = 1, rowStride = 1;

    std::vector<uint8_t> block = std::vector<uint8_t>(272, 0);
    std::vector<uint16_t> raw, images[4], overscans[4], copy;
    std::vector<int32_t> active = {0, 1, 2, 3};
    int32_t overscanHeight = 0;

    static constexpr int32_t kOverscan = 32;

    reconstruction::ReconstructionInput Prepare() {
        const int32_t width = overscan ? side - kOverscan : side;
        raw.assign(size_t(side) * 4 * side, 0);
        for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint16_t>(i);
        copy.assign(raw.size(), 0);
        for (int q = 0; q < 4; ++q) {
            block[q] = 1;
            uint8_t* r = block.data() + 16 + 32 * q;
            PutWord(r + 0, q);
            PutWord(r + 4, 4);
            PutWord(r + 6, 1);
            PutWord(r + 24, columnStride);
            PutWord(r + 26, rowStride);
            images[q].assign(size_t(width) * side, 0);
            overscans[q].assign(overscan ? size_t(kOverscan) * side : 1, 0);
        }
        reconstruction::ReconstructionInput in;
        in.rawFrame = raw.data();
        in.block = reconstruction::Reconstruction::Convert(block.data());
        in.activeQuadrants = &active;
        in.geometry = {4, side, side, overscan ? kOverscan : 0, 0};
        in.picture.width = width;
        in.picture.height = side;
        in.picture.overscanWidth = overscan ? kOverscan : 0;
        overscanHeight = overscan ? side : 0;
        in.picture.overscanHeight = &overscanHeight;
        for (int q = 0; q < 4; ++q) {
            in.picture.images[q] = images[q].data();
            in.picture.overscans[q] = overscans[q].data();
        }
        return in;
    }

    double BytesMoved() const { return 2.0 * double(raw.size()) * 2; }
};

enum class Path { Fast, OneThread, General };

// Keeps the row band helper stopped for the scope, when asked to.
class HelperStopped {
  public:
    explicit HelperStopped(bool stop) : stopped_(stop) {
        if (stopped_) reconstruction::ProcessRowBandWorker().Stop();
    }
    ~HelperStopped() {
        if (stopped_) reconstruction::ProcessRowBandWorker().Start();
    }
    HelperStopped(const HelperStopped&) = delete;
    HelperStopped& operator=(const HelperStopped&) = delete;

  private:
    bool stopped_;
};

void Reconstruct(benchmark::State& state, int32_t side, bool overscan, int32_t cs, int32_t rs,
                 Path path, bool cold) {
    Frame frame;
    frame.side = side;
    frame.overscan = overscan;
    frame.columnStride = cs;
    frame.rowStride = rs;
    reconstruction::ReconstructionInput in = frame.Prepare();
    in.allowFastPath = path != Path::General;
    const HelperStopped helperStopped(path == Path::OneThread);
    double reconSeconds = 1e9, copySeconds = 1e9;
    std::vector<double> pairedRatios;
    pairedRatios.reserve(100000);
    long allocations = 0, frames = 0;
    const auto copyRaw = [&] {
        std::memcpy(frame.copy.data(), frame.raw.data(), frame.raw.size() * 2);
        benchmark::ClobberMemory();
    };
    const auto reconstruct = [&] {
        frame.overscanHeight = overscan ? side : 0;
        const long before = g_allocations.load();
        const reconstruction::ReconstructionResult result = reconstruction::ReconstructFrame(in);
        allocations += g_allocations.load() - before;
        ++frames;
        benchmark::ClobberMemory();
        if (!result.reconstructed) state.SkipWithError("frame not reconstructed");
    };
    // Warm: each side runs once untimed right before it is timed, so each
    // finds the caches as its own previous run left them, whatever the
    // other side did. Cold: each side finds them full of unrelated data.
    const auto timed = [&](const auto& step) {
        if (cold)
            EvictCaches();
        else
            step();
        const auto t0 = Clock::now();
        step();
        return std::chrono::duration<double>(Clock::now() - t0).count();
    };
    for (auto _ : state) {
        const double copy = timed(copyRaw);
        const double recon = timed(reconstruct);
        copySeconds = std::min(copySeconds, copy);
        reconSeconds = std::min(reconSeconds, recon);
        if (pairedRatios.size() < pairedRatios.capacity()) pairedRatios.push_back(copy / recon);
        state.SetIterationTime(recon);
    }
    std::nth_element(pairedRatios.begin(), pairedRatios.begin() + pairedRatios.size() / 2,
                     pairedRatios.end());
    const double bytes = frame.BytesMoved();
    state.counters["recon_GBps"] = bytes / reconSeconds / 1e9;
    state.counters["memcpy_GBps"] = bytes / copySeconds / 1e9;
    state.counters["ratio"] = pairedRatios[pairedRatios.size() / 2];
    state.counters["ratio_best"] = copySeconds / reconSeconds;
    state.counters["allocations"] = double(allocations) / double(frames);
    state.counters["helper"] = reconstruction::ProcessRowBandWorker().Running() &&
                               path != Path::OneThread && path != Path::General;
}

void Register() {
    struct Mirror {
        const char* name;
        int32_t cs, rs;
    };
    const Mirror mirrors[] = {{"plain", 1, 1}, {"mirror_columns", -1, 1}, {"mirror_both", -1, -1}};
    struct Way {
        const char* prefix;
        Path path;
    };
    const Way ways[] = {
        {"fast/", Path::Fast}, {"one_thread/", Path::OneThread}, {"general/", Path::General}};
    for (const Way& way : ways)
        for (int32_t side : {2048, 1024})
            for (const Mirror& m : mirrors)
                for (bool overscan : {false, true})
                    for (bool cold : {false, true}) {
                        const std::string name =
                            std::string(way.prefix) + (side == 2048 ? "32MiB/" : "8MiB/") + m.name +
                            (overscan ? "/overscan" : "/no_overscan") + (cold ? "/cold" : "/warm");
                        benchmark::RegisterBenchmark(name.c_str(), Reconstruct, side, overscan,
                                                     m.cs, m.rs, way.path, cold)
                            ->UseManualTime()
                            ->Unit(benchmark::kMillisecond)
                            ->MinTime(way.path == Path::General ? 0.2 : 0.4);
                    }
}

}  // namespace

int main(int argc, char** argv) {
    reconstruction::ProcessRowBandWorker().Start();
    Register();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
