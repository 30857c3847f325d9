#pragma once
// De-interleaves one raw row of column-interleaved quadrants in a single
// pass: column j * n + lane of the row goes to position j of that lane's
// output, forwards or mirrored. Vector versions for AVX-512, AVX2 and SSE2
// are chosen by what the processor offers when the library runs.

#include <cstdint>

namespace reconstruction {

struct LaneTarget {
    uint16_t* first;    // where position 0 goes
    int32_t direction;  // +1 or -1: the next position is one pixel further or back
    int32_t lane;       // 0 .. n - 1
};

enum class KernelLevel { Scalar, Sse2, Avx2, Avx512 };

// The best level this processor and build can run.
KernelLevel BestKernelLevel();

// Reads row[0 .. count * n - 1], always forwards; n is 2 or 4; writes count
// pixels for each of the n targets. stream asks for non-temporal stores, for
// outputs too large to stay in the cache; each target streams from its first
// aligned address, and a target at an odd address makes the row use cached
// stores.
void DeinterleaveRow(KernelLevel level, const uint16_t* row, int32_t n, const LaneTarget* targets,
                     int32_t count, bool stream);

}  // namespace reconstruction
