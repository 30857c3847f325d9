#include "sim/SensorReadout.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/ByteOrder.h"

namespace sim {

namespace {
constexpr size_t kFpgaBytes = 64;
constexpr size_t kImageBytes = 400;
constexpr size_t kReconstructionAt = 256;

int Le16(const std::vector<uint8_t>& block, size_t at) { return platform::LoadLe16(&block[at]); }

// Sign-magnitude: bit 15 the sign.
int Signed(const std::vector<uint8_t>& block, size_t at) {
    const int word = Le16(block, at);
    return (word & 0x8000) ? -(word & 0x7FFF) : word;
}

bool LittleEndianHost() {
    const uint16_t probe = 1;
    uint8_t first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

// The host edits the test pattern and the exposure timing at will; the
// geometry it writes back is the image's own unless it resized the frame.
bool Rewritten(size_t at) { return at == 30 || (at >= 48 && at < 60); }

// A frame is far larger than the caches, so its rows go out to memory
// without first being read in, as a large memcpy does.
void StreamOut(uint8_t* to, const uint8_t* from, size_t n) {
    size_t done = 0;
#if defined(__SSE2__)
    done = std::min(n, (16 - reinterpret_cast<uintptr_t>(to) % 16) % 16);
    std::memcpy(to, from, done);
    for (; done + 16 <= n; done += 16)
        _mm_stream_si128(reinterpret_cast<__m128i*>(to + done),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + done)));
#endif
    std::memcpy(to + done, from + done, n - done);
}
}  // namespace

bool SensorReadout::Describes(const std::vector<uint8_t>& epal, const uint8_t* fpga) {
    if (epal.size() < kImageBytes) return false;
    for (size_t at = 0; at < kFpgaBytes; ++at)
        if (!Rewritten(at) && epal[at] != fpga[at]) return false;
    return true;
}

SensorReadout::SensorReadout(const std::vector<uint8_t>& epal) {
    if (epal.size() < kFpgaBytes) return;
    binX_ = std::max<int>(epal[18], 1);
    binY_ = std::max<int>(epal[21], 1);
    const int rawQuadrantWidth = Le16(epal, 33);
    rawRows_ = Le16(epal, 35);
    if (epal.size() < kImageBytes) {
        rawColumns_ = cellWidth_ = rawQuadrantWidth;
        cellHeight_ = rawRows_;
        outputs_.push_back(Output{0, 0, 1, 1, false, false, 0, 0, rawColumns_});
        return;
    }
    cellWidth_ = Le16(epal, 246);
    cellHeight_ = Le16(epal, 248);
    std::vector<int> enabled;
    for (int q = 0; q < 4; ++q)
        if (epal[kReconstructionAt + q]) enabled.push_back(q);
    const int count = static_cast<int>(enabled.size());
    rawColumns_ = count * rawQuadrantWidth;
    cellColumns_ = count >= 2 ? 2 : 1;
    cellRows_ = std::max((count + 1) / 2, 1);
    for (int k = 0; k < count; ++k) {
        const size_t record = kReconstructionAt + 16 + 32 * size_t(enabled[k]);
        Output output{Le16(epal, record),
                      Le16(epal, record + 2),
                      Signed(epal, record + 4),
                      Signed(epal, record + 6),
                      Signed(epal, record + 24) < 0,
                      Signed(epal, record + 26) < 0,
                      k % cellColumns_,
                      k / cellColumns_,
                      0};
        if (output.columnStride == 0 || output.rowStride == 0) continue;
        const int stride = output.columnStride;
        output.reach = stride > 0 ? (rawColumns_ - 1 - output.firstColumn) / stride + 1
                                  : output.firstColumn / -stride + 1;
        output.reach = std::max(output.reach, 0);
        outputs_.push_back(output);
    }
    const int outputs = static_cast<int>(outputs_.size());
    woven_ = outputs == 2 || outputs == 4;
    for (int k = 0; k < outputs && woven_; ++k)
        woven_ = outputs_[k].columnStride == outputs &&
                 outputs_[k].firstColumn == outputs_[0].firstColumn + k &&
                 outputs_[k].reach == outputs_[0].reach;
    std::vector<bool> read(static_cast<size_t>(rawColumns_), false);
    for (const Output& output : outputs_)
        for (int j = 0; j < output.reach; ++j)
            read[size_t(output.firstColumn + j * output.columnStride)] = true;
    for (int column = 0; column < rawColumns_; ++column)
        if (!read[size_t(column)]) unreadColumns_.push_back(column);
}

void SensorReadout::Weave(const std::vector<std::vector<uint16_t>>& lines, uint16_t* row) const {
    int done = 0;
#if defined(__SSE2__)
    if (woven_) {
        const int reach = outputs_[0].reach;
        uint16_t* base = row + outputs_[0].firstColumn;
        const auto load = [&](size_t k, int j) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(lines[k].data() + j));
        };
        const auto store = [&](int at, __m128i value) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(base + at), value);
        };
        if (lines.size() == 4) {
            for (; done + 8 <= reach; done += 8) {
                const __m128i a = load(0, done), b = load(1, done), c = load(2, done),
                              d = load(3, done);
                const __m128i abLow = _mm_unpacklo_epi16(a, b), abHigh = _mm_unpackhi_epi16(a, b);
                const __m128i cdLow = _mm_unpacklo_epi16(c, d), cdHigh = _mm_unpackhi_epi16(c, d);
                store(4 * done, _mm_unpacklo_epi32(abLow, cdLow));
                store(4 * done + 8, _mm_unpackhi_epi32(abLow, cdLow));
                store(4 * done + 16, _mm_unpacklo_epi32(abHigh, cdHigh));
                store(4 * done + 24, _mm_unpackhi_epi32(abHigh, cdHigh));
            }
        } else {
            for (; done + 8 <= reach; done += 8) {
                const __m128i a = load(0, done), b = load(1, done);
                store(2 * done, _mm_unpacklo_epi16(a, b));
                store(2 * done + 8, _mm_unpackhi_epi16(a, b));
            }
        }
    }
#endif
    for (size_t k = 0; k < outputs_.size(); ++k) {
        const Output& output = outputs_[k];
        for (int j = woven_ ? done : 0; j < output.reach; ++j)
            row[output.firstColumn + j * output.columnStride] = lines[k][size_t(j)];
    }
}

void SensorReadout::Read(const SkyScene& scene, const SkyScene::Exposure& exposure, uint8_t* out,
                         size_t bytes) const {
    const size_t frameBytes = std::min(bytes, FrameBytes());
    std::memset(out + frameBytes, 0, bytes - frameBytes);
    const size_t rowBytes = size_t(rawColumns_) * 2;
    if (rowBytes == 0) return;
    // The outputs' pixels interleave, so a row is put together whole, in
    // a scratch row the cache holds, and then sent on.
    std::vector<uint16_t> scratch(static_cast<size_t>(rawColumns_));
    const SkyScene::Frame frame = scene.Prepare(exposure);
    // Each output's line in readout order, before the row is woven from them.
    std::vector<std::vector<uint16_t>> lines(outputs_.size());
    for (size_t k = 0; k < outputs_.size(); ++k) lines[k].resize(size_t(outputs_[k].reach));
    for (int r = 0; r < rawRows_ && size_t(r) * rowBytes < frameBytes; ++r) {
        uint8_t* target = out + size_t(r) * rowBytes;
        const size_t n = std::min(rowBytes, frameBytes - size_t(r) * rowBytes);
        uint16_t* row = scratch.data();
        for (int column : unreadColumns_) row[column] = scene.EmptyPixel(r, column, exposure.frame);
        for (size_t k = 0; k < outputs_.size(); ++k) {
            const Output& output = outputs_[k];
            uint16_t* line = lines[k].data();
            const int offset = r - output.firstRow;
            const int i = offset / output.rowStride;
            int image = 0;
            // A row this output does not read holds no charge of it.
            if (offset % output.rowStride == 0 && i >= 0 && i < cellHeight_) {
                image = std::min(output.reach, cellWidth_);
                const int sceneRow =
                    output.cellY * cellHeight_ + (output.mirrorRows ? cellHeight_ - 1 - i : i);
                const int sceneColumn =
                    output.cellX * cellWidth_ + (output.mirrorColumns ? cellWidth_ - 1 : 0);
                scene.RenderRun(sceneRow, sceneColumn, output.mirrorColumns ? -1 : 1, image, frame,
                                line);
            }
            // Past the quadrant's edge the output reads its overscan.
            scene.RenderEmptyRun(r, output.firstColumn + image * output.columnStride,
                                 output.columnStride, output.reach - image, exposure.frame,
                                 line + image);
        }
        Weave(lines, row);
        if (LittleEndianHost()) {
            StreamOut(target, reinterpret_cast<const uint8_t*>(row), n);
        } else {
            for (size_t b = 0; b + 1 < n; b += 2) platform::StoreLe16(target + b, row[b / 2]);
        }
    }
#if defined(__SSE2__)
    _mm_sfence();  // the streamed rows are in memory before the transfer is handed on
#endif
}

}  // namespace sim
