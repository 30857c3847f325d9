#include "sim/SkyRuns.h"

#include <algorithm>

namespace sim {
namespace sky {

namespace {
// Built for wider vectors too where the system can pick the variant at load
// time. Not under ThreadSanitizer, whose runtime is not up yet when the
// loader picks it.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(__SANITIZE_THREAD__)
#define VELA2_SKY_VARIANTS __attribute__((target_clones("avx2", "default")))
#else
#define VELA2_SKY_VARIANTS
#endif
#if defined(__GNUC__)
#define VELA2_SKY_INLINE inline __attribute__((always_inline))
#else
#define VELA2_SKY_INLINE inline
#endif

// The table is read forwards either way: the compiler vectorises a
// reversed store, not a reversed load.
template <bool Mirrored>
VELA2_SKY_INLINE void Background(const RowLine& row, int leftmost, const float* deviates, int n,
                                 uint16_t* values) {
    for (int j = 0; j < n; ++j) {
        const float column = static_cast<float>(leftmost + j);
        values[Mirrored ? n - 1 - j : j] = Plain(row, column, deviates[j]);
    }
}

VELA2_SKY_VARIANTS
void BackgroundRight(const RowLine& row, int leftmost, const float* deviates, int n,
                     uint16_t* values) {
    Background<false>(row, leftmost, deviates, n, values);
}

VELA2_SKY_VARIANTS
void BackgroundLeft(const RowLine& row, int leftmost, const float* deviates, int n,
                    uint16_t* values) {
    Background<true>(row, leftmost, deviates, n, values);
}

// Worked out together, where the square roots go a vector at a time, and
// put in place one by one.
VELA2_SKY_VARIANTS
void Stars(const RowLine& row, const int* columns, const float* rates, int n, float scale,
           const float* noise, uint32_t offset, uint32_t mask, int x, int dx, uint16_t* out) {
    constexpr int kBatch = 64;
    uint16_t values[kBatch];
    for (int done = 0; done < n; done += kBatch) {
        const int m = std::min(n - done, kBatch);
        const int* column = columns + done;
        const float* rate = rates + done;
        for (int j = 0; j < m; ++j)
            values[j] = Counts(row, static_cast<float>(column[j]), rate[j] * scale,
                               noise[(offset + uint32_t(column[j])) & mask]);
        for (int j = 0; j < m; ++j) out[(column[j] - x) * dx] = values[j];
    }
}
}  // namespace

void BackgroundRun(const RowLine& row, int leftmost, const float* deviates, int n, bool mirrored,
                   uint16_t* values) {
    if (mirrored)
        BackgroundLeft(row, leftmost, deviates, n, values);
    else
        BackgroundRight(row, leftmost, deviates, n, values);
}

void StarRun(const RowLine& row, const int* columns, const float* rates, int n, float scale,
             const float* noise, uint32_t offset, uint32_t mask, int x, int dx, uint16_t* out) {
    Stars(row, columns, rates, n, scale, noise, offset, mask, x, dx, out);
}

}  // namespace sky
}  // namespace sim
