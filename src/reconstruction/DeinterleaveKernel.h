#pragma once
// De-interleaves one raw row of column-interleaved quadrants in a single
// pass: column j * n + lane of the row goes to position j of that lane's
// output, forwards or mirrored. Vector versions for AVX2 and SSE2 are chosen
// by what the processor offers when the library runs. 512-bit vectors are
// left out: a third kernel for a small gain on frames in the cache, and a
// loss on larger ones (fast/32MiB/mirror_columns in bench_reconstruction).

#include <cstdint>

namespace reconstruction {

struct LaneTarget {
    uint16_t* first;    // where position 0 goes
    int32_t direction;  // +1 or -1: the next position is one pixel further or back
    int32_t lane;       // 0 .. n - 1
};

enum class KernelLevel { Scalar, Sse2, Avx2 };

// The best level this processor and build can run.
KernelLevel BestKernelLevel();

// Reads row[0 .. count * n - 1], always forwards; n is 2 or 4; writes count
// pixels for each of the n targets, through the cache.
void DeinterleaveRow(KernelLevel level, const uint16_t* row, int32_t n, const LaneTarget* targets,
                     int32_t count);

}  // namespace reconstruction
