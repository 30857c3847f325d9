#include "sim/SensorReadout.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

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
    std::vector<bool> read(static_cast<size_t>(rawColumns_), false);
    for (const Output& output : outputs_)
        for (int j = 0; j < output.reach; ++j)
            read[size_t(output.firstColumn + j * output.columnStride)] = true;
    for (int column = 0; column < rawColumns_; ++column)
        if (!read[size_t(column)]) unreadColumns_.push_back(column);
}

void SensorReadout::Read(const SkyScene& scene, const SkyScene::Exposure& exposure, uint8_t* out,
                         size_t bytes) const {
    const size_t frameBytes = std::min(bytes, FrameBytes());
    std::memset(out + frameBytes, 0, bytes - frameBytes);
    const size_t rowBytes = size_t(rawColumns_) * 2;
    if (rowBytes == 0) return;
    // The outputs' pixels interleave, so a row is put together whole; a
    // transfer that is not aligned gets it by way of a scratch row.
    std::vector<uint16_t> scratch(static_cast<size_t>(rawColumns_));
    const bool direct = LittleEndianHost() && reinterpret_cast<uintptr_t>(out) % 2 == 0;
    for (int r = 0; r < rawRows_ && size_t(r) * rowBytes < frameBytes; ++r) {
        uint8_t* target = out + size_t(r) * rowBytes;
        const size_t n = std::min(rowBytes, frameBytes - size_t(r) * rowBytes);
        // Straight into the transfer where its layout allows.
        uint16_t* row =
            direct && n == rowBytes ? reinterpret_cast<uint16_t*>(target) : scratch.data();
        for (int column : unreadColumns_) row[column] = scene.EmptyPixel(r, column, exposure.frame);
        for (const Output& output : outputs_) {
            uint16_t* first = &row[output.firstColumn];
            const int offset = r - output.firstRow;
            const int i = offset / output.rowStride;
            if (offset % output.rowStride != 0 || i < 0) {
                // A row this output does not read holds no charge of it.
                scene.RenderEmptyRun(r, output.firstColumn, output.reach, exposure.frame, first,
                                     output.columnStride);
                continue;
            }
            int image = 0;
            if (i < cellHeight_) {
                image = std::min(output.reach, cellWidth_);
                const int sceneRow =
                    output.cellY * cellHeight_ + (output.mirrorRows ? cellHeight_ - 1 - i : i);
                const int sceneColumn =
                    output.cellX * cellWidth_ + (output.mirrorColumns ? cellWidth_ - 1 : 0);
                scene.RenderRun(sceneRow, sceneColumn, output.mirrorColumns ? -1 : 1, image,
                                exposure, first, output.columnStride);
            }
            // Past the quadrant's edge the output reads its overscan.
            const int column = output.firstColumn + image * output.columnStride;
            scene.RenderEmptyRun(r, column, output.reach - image, exposure.frame, &row[column],
                                 output.columnStride);
        }
        if (row == scratch.data()) {
            if (LittleEndianHost()) {
                std::memcpy(target, row, n);
            } else {
                for (size_t b = 0; b + 1 < n; b += 2) platform::StoreLe16(target + b, row[b / 2]);
            }
        }
    }
}

}  // namespace sim
