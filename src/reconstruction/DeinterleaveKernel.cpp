#include "reconstruction/DeinterleaveKernel.h"

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define VELA2_X86 1
#endif

namespace reconstruction {
namespace {

void ScalarRange(const uint16_t* row, int32_t n, const LaneTarget* targets, int32_t begin,
                 int32_t end) {
    for (int32_t t = 0; t < n; ++t) {
        const LaneTarget& target = targets[t];
        const uint16_t* src = row + target.lane;
        uint16_t* dst = target.first;
        const int32_t dir = target.direction;
        for (int32_t j = begin; j < end; ++j) dst[j * dir] = src[j * n];
    }
}

// Pixels to copy one by one before every target's vector store is aligned
// to `bytes`; -1 when the targets disagree, so no single head fits them all.
int32_t CommonHead(const LaneTarget* targets, int32_t n, int32_t vectorPixels) {
    const uintptr_t mask = static_cast<uintptr_t>(vectorPixels) * 2 - 1;
    int32_t head = -1;
    for (int32_t t = 0; t < n; ++t) {
        const uintptr_t address = reinterpret_cast<uintptr_t>(targets[t].first);
        if (address & 1) return -1;
        // A mirrored store covers the pixels ending at the current position.
        const uintptr_t lowest = targets[t].direction > 0
                                     ? (0 - address) & mask
                                     : (address - (vectorPixels - 1) * 2) & mask;
        const int32_t mine = static_cast<int32_t>(lowest / 2);
        if (head >= 0 && mine != head) return -1;
        head = mine;
    }
    return head;
}

// The vector loop shared by both instruction sets: Ops splits a block of
// Ops::kPixels pixels into its lanes and stores one lane forwards or mirrored.
// A macro because each copy must carry its own target attribute for the
// vector operations to be inlined into it.
#define VELA2_DEFINE_VECTOR_ROW(Name, Ops, Target)                                                 \
    __attribute__((target(Target))) void Name(const uint16_t* row, int32_t n,                      \
                                              const LaneTarget* targets, int32_t count,            \
                                              bool stream, bool backwards) {                       \
        constexpr int32_t kPixels = Ops::kPixels;                                                  \
        const int32_t head = stream ? CommonHead(targets, n, kPixels) : 0;                         \
        const bool aligned = stream && head >= 0 && head <= count;                                 \
        const int32_t first = aligned ? head : 0;                                                  \
        const int32_t blocks = (count - first) / kPixels;                                          \
        Ops::Vector lanes[4];                                                                      \
        for (int32_t b = 0; b < blocks; ++b) {                                                     \
            const int32_t j = first + (backwards ? blocks - 1 - b : b) * kPixels;                  \
            Ops::Split(row + j * n, n, lanes);                                                     \
            for (int32_t t = 0; t < n; ++t) {                                                      \
                const LaneTarget& target = targets[t];                                             \
                if (target.direction > 0)                                                          \
                    Ops::Store(target.first + j, lanes[target.lane], aligned);                     \
                else                                                                               \
                    Ops::Store(target.first - j - (kPixels - 1), Ops::Reverse(lanes[target.lane]), \
                               aligned);                                                           \
            }                                                                                      \
        }                                                                                          \
        if (aligned) Ops::Fence();                                                                 \
        ScalarRange(row, n, targets, 0, first);                                                    \
        ScalarRange(row, n, targets, first + blocks * kPixels, count);                             \
    }

#ifdef VELA2_X86

struct Sse2Ops {
    using Vector = __m128i;
    static constexpr int32_t kPixels = 8;

    __attribute__((target("sse2"))) static inline __m128i Load(const uint16_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    }
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
    __attribute__((target("sse2"))) static inline void Split(const uint16_t* p, int32_t n,
                                                             __m128i* lanes) {
        if (n == 4) {
            const __m128i a = PairLanes4(Load(p)), b = PairLanes4(Load(p + 8));
            const __m128i c = PairLanes4(Load(p + 16)), d = PairLanes4(Load(p + 24));
            const __m128i t0 = _mm_unpacklo_epi32(a, b), t1 = _mm_unpackhi_epi32(a, b);
            const __m128i t2 = _mm_unpacklo_epi32(c, d), t3 = _mm_unpackhi_epi32(c, d);
            lanes[0] = _mm_unpacklo_epi64(t0, t2);
            lanes[1] = _mm_unpackhi_epi64(t0, t2);
            lanes[2] = _mm_unpacklo_epi64(t1, t3);
            lanes[3] = _mm_unpackhi_epi64(t1, t3);
        } else {
            const __m128i a = PairLanes2(Load(p)), b = PairLanes2(Load(p + 8));
            lanes[0] = _mm_unpacklo_epi64(a, b);
            lanes[1] = _mm_unpackhi_epi64(a, b);
        }
    }
    __attribute__((target("sse2"))) static inline __m128i Reverse(__m128i v) {
        v = _mm_shufflelo_epi16(v, 0x1B);
        v = _mm_shufflehi_epi16(v, 0x1B);
        return _mm_shuffle_epi32(v, 0x4E);
    }
    __attribute__((target("sse2"))) static inline void Store(uint16_t* p, __m128i v, bool aligned) {
        if (aligned)
            _mm_stream_si128(reinterpret_cast<__m128i*>(p), v);
        else
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    }
    __attribute__((target("sse2"))) static inline void Fence() { _mm_sfence(); }
};

struct Avx2Ops {
    using Vector = __m256i;
    static constexpr int32_t kPixels = 16;

    __attribute__((target("avx2"))) static inline __m256i Load(const uint16_t* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    __attribute__((target("avx2"))) static inline void Split(const uint16_t* p, int32_t n,
                                                             __m256i* lanes) {
        if (n == 4) {
            // Per 128-bit half: two groups of four become four dwords, one per lane.
            const __m256i pair =
                _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0, 1, 8, 9,
                                 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
            const __m256i a = _mm256_shuffle_epi8(Load(p), pair);
            const __m256i b = _mm256_shuffle_epi8(Load(p + 16), pair);
            const __m256i c = _mm256_shuffle_epi8(Load(p + 32), pair);
            const __m256i d = _mm256_shuffle_epi8(Load(p + 48), pair);
            const __m256i t0 = _mm256_unpacklo_epi32(a, b), t1 = _mm256_unpackhi_epi32(a, b);
            const __m256i t2 = _mm256_unpacklo_epi32(c, d), t3 = _mm256_unpackhi_epi32(c, d);
            // The halves hold alternate pairs of groups; put them in order.
            const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
            lanes[0] = _mm256_permutevar8x32_epi32(_mm256_unpacklo_epi64(t0, t2), order);
            lanes[1] = _mm256_permutevar8x32_epi32(_mm256_unpackhi_epi64(t0, t2), order);
            lanes[2] = _mm256_permutevar8x32_epi32(_mm256_unpacklo_epi64(t1, t3), order);
            lanes[3] = _mm256_permutevar8x32_epi32(_mm256_unpackhi_epi64(t1, t3), order);
        } else {
            const __m256i pair =
                _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15, 0, 1, 4, 5,
                                 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15);
            const __m256i a = _mm256_shuffle_epi8(Load(p), pair);
            const __m256i b = _mm256_shuffle_epi8(Load(p + 16), pair);
            lanes[0] = _mm256_permute4x64_epi64(_mm256_unpacklo_epi64(a, b), 0xD8);
            lanes[1] = _mm256_permute4x64_epi64(_mm256_unpackhi_epi64(a, b), 0xD8);
        }
    }
    __attribute__((target("avx2"))) static inline __m256i Reverse(__m256i v) {
        const __m256i words =
            _mm256_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1, 14, 15, 12, 13,
                             10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
        return _mm256_permute4x64_epi64(_mm256_shuffle_epi8(v, words), 0x4E);
    }
    __attribute__((target("avx2"))) static inline void Store(uint16_t* p, __m256i v, bool aligned) {
        if (aligned)
            _mm256_stream_si256(reinterpret_cast<__m256i*>(p), v);
        else
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
    }
    __attribute__((target("avx2"))) static inline void Fence() { _mm_sfence(); }
};

VELA2_DEFINE_VECTOR_ROW(Sse2Row, Sse2Ops, "sse2")
VELA2_DEFINE_VECTOR_ROW(Avx2Row, Avx2Ops, "avx2")

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
                     int32_t count, bool stream, bool backwards) {
#ifdef VELA2_X86
    if (level == KernelLevel::Avx2) return Avx2Row(row, n, targets, count, stream, backwards);
    if (level == KernelLevel::Sse2) return Sse2Row(row, n, targets, count, stream, backwards);
#endif
    (void)stream;
    (void)backwards;
    ScalarRange(row, n, targets, 0, count);
}

}  // namespace reconstruction
