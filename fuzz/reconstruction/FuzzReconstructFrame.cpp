// Random reconstruction blocks, geometries and picture requests through
// ReconstructFrame, into buffers sized exactly as the request says with
// inaccessible pages around them: any access outside a buffer faults. Both
// copy paths run on the same input and must agree pixel for pixel.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <memory>
#include <vector>

#include "reconstruction/FrameReconstruction.h"
#include "reconstruction/GuardedBuffer.h"

using reconstruction::testing::GuardedBuffer;

namespace {

struct Buffers {
    std::unique_ptr<GuardedBuffer> images[4], overscans[4];
};

size_t Pixels(int32_t a, int32_t b) { return a > 0 && b > 0 ? size_t(a) * size_t(b) : 0; }

void Make(Buffers& b, const reconstruction::PictureBuffers& p, int32_t overscanHeight) {
    for (int k = 0; k < 4; ++k) {
        b.images[k] = std::make_unique<GuardedBuffer>(Pixels(p.width, p.height));
        b.overscans[k] = std::make_unique<GuardedBuffer>(Pixels(p.overscanWidth, overscanHeight));
        std::memset(b.images[k]->Data(), 0xA5, b.images[k]->Bytes());
        std::memset(b.overscans[k]->Data(), 0x5A, b.overscans[k]->Bytes());
    }
}

bool Same(const Buffers& a, const Buffers& b) {
    for (int k = 0; k < 4; ++k)
        if (std::memcmp(a.images[k]->Data(), b.images[k]->Data(), a.images[k]->Bytes()) ||
            std::memcmp(a.overscans[k]->Data(), b.overscans[k]->Data(), a.overscans[k]->Bytes()))
            return false;
    return true;
}

// A stride word: usually a small signed step, sometimes any 16 bits.
uint16_t StrideWord(FuzzedDataProvider& in) {
    if (in.ConsumeBool()) return in.ConsumeIntegral<uint16_t>();
    const int step = in.ConsumeIntegralInRange<int>(-5, 5);
    return static_cast<uint16_t>(step < 0 ? 0x8000 | -step : step);
}

void PutWord(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    uint8_t block[272] = {};
    for (int q = 0; q < 4; ++q) block[q] = in.ConsumeBool() ? in.ConsumeIntegral<uint8_t>() : 0;
    for (int q = 0; q < 4; ++q) {
        uint8_t* r = block + 16 + 32 * q;
        PutWord(r + 0, in.ConsumeBool() ? in.ConsumeIntegralInRange<uint16_t>(0, 8)
                                        : in.ConsumeIntegral<uint16_t>());
        PutWord(r + 2, in.ConsumeIntegralInRange<uint16_t>(0, 60));
        PutWord(r + 4, StrideWord(in));
        PutWord(r + 6, StrideWord(in));
        PutWord(r + 24, StrideWord(in));
        PutWord(r + 26, StrideWord(in));
    }
    std::vector<int32_t> active;
    if (in.ConsumeBool()) {
        for (int q = 0; q < 4; ++q)
            if (block[q]) active.push_back(q);
    } else {
        const int count = in.ConsumeIntegralInRange<int>(0, 6);
        for (int i = 0; i < count; ++i) active.push_back(in.ConsumeIntegralInRange<int32_t>(-1, 8));
    }

    reconstruction::ReconstructionInput input;
    input.block = reconstruction::Reconstruction::Convert(block);
    input.activeQuadrants = &active;
    auto& g = input.geometry;
    g.numberOfQuadrants = in.ConsumeBool() ? static_cast<int32_t>(active.size())
                                           : in.ConsumeIntegralInRange<int32_t>(-1, 6);
    g.rawQuadrantWidth = in.ConsumeIntegralInRange<int32_t>(-2, 300);
    g.rawQuadrantHeight = in.ConsumeIntegralInRange<int32_t>(-2, 40);
    g.overscanColumns = in.ConsumeIntegralInRange<int32_t>(-3, 40);
    g.fixedPrescanColumns = in.ConsumeIntegralInRange<int32_t>(-3, 40);
    auto& p = input.picture;
    p.width = in.ConsumeIntegralInRange<int32_t>(-2, 300);
    p.height = in.ConsumeIntegralInRange<int32_t>(-2, 50);
    p.overscanWidth = in.ConsumeIntegralInRange<int32_t>(-2, 50);
    const int32_t overscanHeight = in.ConsumeIntegralInRange<int32_t>(-2, 60);
    const bool nullImage = in.ConsumeIntegralInRange<int>(0, 15) == 0;

    const size_t rawPixels =
        g.numberOfQuadrants > 0
            ? Pixels(g.rawQuadrantHeight, g.rawQuadrantWidth) * g.numberOfQuadrants
            : 0;
    GuardedBuffer raw(rawPixels);
    for (size_t i = 0; i < rawPixels; ++i)
        raw.Data()[i] = static_cast<uint16_t>(i * 2654435761u >> 7);
    input.rawFrame = raw.Data();

    Buffers general, fast;
    reconstruction::ReconstructionResult results[2];
    int32_t heights[2];
    Buffers* sets[2] = {&general, &fast};
    for (int run = 0; run < 2; ++run) {
        Make(*sets[run], p, overscanHeight);
        for (int k = 0; k < 4; ++k) {
            p.images[k] = sets[run]->images[k]->Data();
            p.overscans[k] = sets[run]->overscans[k]->Data();
        }
        if (nullImage) p.images[1] = nullptr;
        heights[run] = overscanHeight;
        p.overscanHeight = &heights[run];
        input.allowFastPath = run == 1;
        results[run] = reconstruction::ReconstructFrame(input);
    }
    if (results[0].reconstructed != results[1].reconstructed ||
        results[0].failureStatus != results[1].failureStatus || heights[0] != heights[1] ||
        !Same(general, fast))
        __builtin_trap();
    return 0;
}
