#include <gtest/gtest.h>

#include <vector>

#include "reconstruction/DeinterleaveKernel.h"

namespace reconstruction {
namespace {

// Every length around the vector widths, every start alignment of the
// outputs (alike, and different per output), every mix of forwards and
// mirrored outputs, lanes taken once or shared: each output position gets
// its lane's pixel and nothing around the outputs is written.
TEST(DeinterleaveKernel, EveryLevelMatchesThePlainLoop) {
    constexpr int kGuard = 40;
    std::vector<KernelLevel> levels = {KernelLevel::Scalar};
    if (BestKernelLevel() != KernelLevel::Scalar) levels.push_back(KernelLevel::Sse2);
    if (BestKernelLevel() == KernelLevel::Avx2) levels.push_back(KernelLevel::Avx2);
    for (KernelLevel level : levels)
        for (int n : {2, 4})
            // Up to 70, and 1043: many blocks and a partial one.
            for (int count = 0; count <= 1043; count = count == 70 ? 1043 : count + 1)
                for (int offset = 0; offset < 19; offset += 3)
                    // Bit t of mirrors: target t is mirrored; every mix.
                    for (int mirrors = 0; mirrors < 1 << n; ++mirrors) {
                        // The row starts at every alignment too.
                        const int rowShift = offset % 8;
                        std::vector<uint16_t> storage(count * n + 1 + rowShift);
                        for (size_t i = 0; i < storage.size(); ++i)
                            storage[i] = static_cast<uint16_t>(i + 1);
                        const uint16_t* row = storage.data() + rowShift;
                        std::vector<uint16_t> out[4];
                        LaneTarget targets[4];
                        for (int t = 0; t < n; ++t) {
                            out[t].assign(count + 2 * kGuard + 24, 0);
                            const int direction = (mirrors >> t) & 1 ? -1 : 1;
                            // Offsets from 16 on give each output its own alignment.
                            const int shift = offset < 16 ? offset : offset + t;
                            uint16_t* base = out[t].data() + kGuard + shift;
                            // Each lane once, in changing orders; or lanes
                            // shared by two targets and one left out.
                            const int lane = offset % 2 ? (t * 3 + offset) % n : t / 2;
                            targets[t] = {direction > 0 ? base : base + count - 1, direction, lane};
                        }
                        DeinterleaveRow(level, row, n, targets, count);
                        for (int t = 0; t < n; ++t)
                            for (size_t p = 0; p < out[t].size(); ++p) {
                                const int shift = offset < 16 ? offset : offset + t;
                                const int position = static_cast<int>(p) - kGuard - shift;
                                uint16_t want = 0;
                                if (position >= 0 && position < count) {
                                    const int j =
                                        targets[t].direction > 0 ? position : count - 1 - position;
                                    want = row[j * n + targets[t].lane];
                                }
                                ASSERT_EQ(out[t][p], want)
                                    << "level " << static_cast<int>(level) << " n " << n
                                    << " count " << count << " target " << t;
                            }
                    }
}

}  // namespace
}  // namespace reconstruction
