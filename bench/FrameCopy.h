#pragma once
// The yardstick the frame benchmarks measure against: a prepared 32 MiB frame
// copied with memcpy, what the simulated camera's plain picture costs. Each
// program's benchmarks write into the one destination, touched beforehand, so
// neither side times page faults.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace bench {

constexpr size_t kFrameBytes = 32u << 20;

inline std::vector<uint8_t>& FrameDestination() {
    static std::vector<uint8_t> buffer(kFrameBytes, 1);
    return buffer;
}

inline void BM_FrameCopy32MiB(benchmark::State& state) {
    const std::vector<uint8_t> source(kFrameBytes, 0x5A);
    std::vector<uint8_t>& destination = FrameDestination();
    for (auto _ : state) {
        std::memcpy(destination.data(), source.data(), kFrameBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFrameBytes));
}

}  // namespace bench
