#include "reconstruction/DeinterleaveKernel.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define VELA2_X86 1
#endif

namespace reconstruction {
namespace {

// Positions [begin, end) of one target, a pixel at a time.
void ScalarLane(const uint16_t* row, int32_t n, const LaneTarget& target, int32_t begin,
                int32_t end) {
    const uint16_t* src = row + target.lane;
    uint16_t* dst = target.first;
    const int32_t dir = target.direction;
    for (int32_t j = begin; j < end; ++j) dst[j * dir] = src[j * n];
}

void ScalarRange(const uint16_t* row, int32_t n, const LaneTarget* targets, int32_t begin,
                 int32_t end) {
    for (int32_t t = 0; t < n; ++t) ScalarLane(row, n, targets[t], begin, end);
}

#ifdef VELA2_X86

// Whether the outputs of a loop all go one way, so that Finish knows at
// compile time what each part needs.
enum class Directions { Mixed, Forwards, Mirrored };

// The operations of Avx2Ops (see there) for 8 pixels at a time.
struct Sse2Ops {
    using Vector = __m128i;
    static constexpr int32_t kPixels = 8;

    // Two groups of four: the pixels of each lane side by side in a dword.
    __attribute__((target("sse2"))) static inline __m128i PairLanes4(__m128i v) {
        return _mm_unpacklo_epi16(v, _mm_srli_si128(v, 8));
    }
    // Four groups of two: lane 0 in the low qword, lane 1 in the high one.
    __attribute__((target("sse2"))) static inline __m128i PairLanes2(__m128i v) {
        v = _mm_shufflelo_epi16(v, 0xD8);
        v = _mm_shufflehi_epi16(v, 0xD8);
        return _mm_shuffle_epi32(v, 0xD8);
    }
    template <int32_t N>
    __attribute__((target("sse2"))) static inline void Split(const uint16_t* p, __m128i* lanes) {
        if constexpr (N == 4) {
            const __m128i a = PairLanes4(LoadUnaligned(p)), b = PairLanes4(LoadUnaligned(p + 8));
            const __m128i c = PairLanes4(LoadUnaligned(p + 16)),
                          d = PairLanes4(LoadUnaligned(p + 24));
            const __m128i t0 = _mm_unpacklo_epi32(a, b), t1 = _mm_unpackhi_epi32(a, b);
            const __m128i t2 = _mm_unpacklo_epi32(c, d), t3 = _mm_unpackhi_epi32(c, d);
            lanes[0] = _mm_unpacklo_epi64(t0, t2);
            lanes[1] = _mm_unpackhi_epi64(t0, t2);
            lanes[2] = _mm_unpacklo_epi64(t1, t3);
            lanes[3] = _mm_unpackhi_epi64(t1, t3);
        } else {
            const __m128i a = PairLanes2(LoadUnaligned(p)), b = PairLanes2(LoadUnaligned(p + 8));
            lanes[0] = _mm_unpacklo_epi64(a, b);
            lanes[1] = _mm_unpackhi_epi64(a, b);
        }
    }
    // The lanes come out of Split finished; a mirrored one is reversed.
    using Shape = bool;
    template <int32_t N>
    static Shape MakeShape(bool mirrored) {
        return mirrored;
    }
    template <Directions kDirections>
    __attribute__((target("sse2"))) static inline __m128i Finish(__m128i lane, Shape mirrored) {
        if constexpr (kDirections == Directions::Forwards) return lane;
        if constexpr (kDirections == Directions::Mirrored) return Reverse(lane);
        return mirrored ? Reverse(lane) : lane;
    }
    __attribute__((target("sse2"))) static inline __m128i Reverse(__m128i v) {
        v = _mm_shufflelo_epi16(v, 0x1B);
        v = _mm_shufflehi_epi16(v, 0x1B);
        return _mm_shuffle_epi32(v, 0x4E);
    }
    __attribute__((target("sse2"))) static inline void StoreUnaligned(uint16_t* p, __m128i v) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    }
    __attribute__((target("sse2"))) static inline __m128i LoadUnaligned(const uint16_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    }
};

// The operations the row loops use, here for 16 pixels at a time.
//   Split<N>(p, parts)   reads 16 * N pixels at p and leaves lane l's 16
//                        pixels in parts[l], in an order only Finish knows
//   Shape, MakeShape<N>(m)  how Finish orders a part of an N-lane split,
//                        mirrored when m
//   Finish<D>(part, shape)  puts a part in pixel order; D, when not Mixed,
//                        promises the shape's direction
//   StoreUnaligned       a store anywhere
//   LoadUnaligned        a load from anywhere
struct Avx2Ops {
    using Vector = __m256i;
    static constexpr int32_t kPixels = 16;

    // Even and odd pixels of two vectors, each pair of 128-bit halves side by side.
    __attribute__((target("avx2"))) static inline __m256i Evens(__m256i x, __m256i y) {
        const __m256i low = _mm256_set1_epi32(0xFFFF);
        return _mm256_packus_epi32(_mm256_and_si256(x, low), _mm256_and_si256(y, low));
    }
    __attribute__((target("avx2"))) static inline __m256i Odds(__m256i x, __m256i y) {
        return _mm256_packus_epi32(_mm256_srli_epi32(x, 16), _mm256_srli_epi32(y, 16));
    }
    // Halving the pixels by even and odd position once splits two lanes,
    // twice four: 8 packs where byte shuffles and unpacks take 12, and
    // shuffles bound the speed on data already in the cache. Leaves the last
    // permute to Finish, where mirroring is only another order.
    template <int32_t N>
    __attribute__((target("avx2"))) static inline void Split(const uint16_t* p, __m256i* parts) {
        const __m256i a = LoadUnaligned(p), b = LoadUnaligned(p + 16);
        if constexpr (N == 4) {
            const __m256i c = LoadUnaligned(p + 32), d = LoadUnaligned(p + 48);
            const __m256i even0 = Evens(a, b), even1 = Evens(c, d);  // lanes 0 and 2
            const __m256i odd0 = Odds(a, b), odd1 = Odds(c, d);      // lanes 1 and 3
            parts[0] = Evens(even0, even1);
            parts[1] = Evens(odd0, odd1);
            parts[2] = Odds(even0, even1);
            parts[3] = Odds(odd0, odd1);
        } else {
            parts[0] = Evens(a, b);
            parts[1] = Odds(a, b);
        }
    }
    // How Finish orders a part: each dword's two pixels swapped or not, then
    // the dwords permuted. Mirroring a lane is only other values here: no
    // extra shuffle, and no branch in the loops.
    struct Shape {
        __m128i swap;   // shift count: 16 swaps the pixels of each dword, 0 keeps them
        __m256i order;  // the dword permutation
    };
    template <int32_t N>
    __attribute__((target("avx2"))) static inline Shape MakeShape(bool mirrored) {
        Shape shape;
        shape.swap = _mm_cvtsi32_si128(mirrored ? 16 : 0);
        if constexpr (N == 4)
            // A part holds pixel pairs as dwords, the halves' pairs alternating.
            shape.order = mirrored ? _mm256_setr_epi32(7, 3, 6, 2, 5, 1, 4, 0)
                                   : _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
        else
            // A part holds runs of four pixels as qwords, in the order 0 2 1 3.
            shape.order = mirrored ? _mm256_setr_epi32(7, 6, 3, 2, 5, 4, 1, 0)
                                   : _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7);
        return shape;
    }
    template <Directions kDirections>
    __attribute__((target("avx2"))) static inline __m256i Finish(__m256i part, const Shape& shape) {
        if constexpr (kDirections == Directions::Forwards)
            return _mm256_permutevar8x32_epi32(part, shape.order);
        __m256i swapped;
        if constexpr (kDirections == Directions::Mirrored)
            // One byte shuffle where two shifts and an or take three
            // operations, and in the cache the loops are bound by how many
            // they issue.
            swapped = _mm256_shuffle_epi8(
                part, _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13, 2, 3,
                                       0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13));
        else
            swapped = _mm256_or_si256(_mm256_sll_epi32(part, shape.swap),
                                      _mm256_srl_epi32(part, shape.swap));
        return _mm256_permutevar8x32_epi32(swapped, shape.order);
    }
    __attribute__((target("avx2"))) static inline void StoreUnaligned(uint16_t* p, __m256i v) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
    }
    __attribute__((target("avx2"))) static inline __m256i LoadUnaligned(const uint16_t* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
};

namespace sse2 {
using Ops = Sse2Ops;
#define VELA2_KERNEL_TARGET __attribute__((target("sse2")))
#include "reconstruction/DeinterleaveRowBody.inc"
#undef VELA2_KERNEL_TARGET
}  // namespace sse2

namespace avx2 {
using Ops = Avx2Ops;
#define VELA2_KERNEL_TARGET __attribute__((target("avx2")))
#include "reconstruction/DeinterleaveRowBody.inc"
#undef VELA2_KERNEL_TARGET
}  // namespace avx2

#endif  // VELA2_X86

}  // namespace

KernelLevel BestKernelLevel() {
#ifdef VELA2_X86
    static const KernelLevel level = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx2")) return KernelLevel::Avx2;
        if (__builtin_cpu_supports("sse2")) return KernelLevel::Sse2;
        return KernelLevel::Scalar;
    }();
    return level;
#else
    return KernelLevel::Scalar;
#endif
}

void DeinterleaveRow(KernelLevel level, const uint16_t* row, int32_t n, const LaneTarget* targets,
                     int32_t count) {
#ifdef VELA2_X86
    if (level == KernelLevel::Avx2)
        return n == 4 ? avx2::Row<4>(row, targets, count) : avx2::Row<2>(row, targets, count);
    if (level == KernelLevel::Sse2)
        return n == 4 ? sse2::Row<4>(row, targets, count) : sse2::Row<2>(row, targets, count);
#endif
    ScalarRange(row, n, targets, 0, count);
}

}  // namespace reconstruction
