#pragma once
// Composes reconstruction blocks field by field for the tests.

#include <array>
#include <cstdint>

#include "platform/ByteOrder.h"

namespace reconstruction::testing {

inline uint16_t SignMagnitude(int32_t value) {
    return static_cast<uint16_t>(value < 0 ? 0x8000 | (-value & 0x7FFF) : value & 0x7FFF);
}

struct QuadrantLayout {
    uint16_t firstColumn = 0;
    uint16_t firstRow = 0;
    int32_t columnStride = 1;
    int32_t rowStride = 1;
    uint16_t outputColumnOrigin = 0;
    uint16_t outputRowOrigin = 0;
    int32_t outputColumnStride = 1;
    int32_t outputRowStride = 1;
};

class BlockBuilder {
  public:
    BlockBuilder& Enable(int q, uint8_t flag = 1) {
        bytes_[q] = flag;
        return *this;
    }
    BlockBuilder& Prescan(uint16_t source, uint16_t columns, uint16_t rows, uint16_t fixed) {
        Put(8, source), Put(10, columns), Put(12, rows), Put(14, fixed);
        return *this;
    }
    BlockBuilder& Quadrant(int q, const QuadrantLayout& l) {
        const int base = 16 + 32 * q;
        Put(base + 0, l.firstColumn), Put(base + 2, l.firstRow);
        Put(base + 4, SignMagnitude(l.columnStride)), Put(base + 6, SignMagnitude(l.rowStride));
        Put(base + 16, l.outputColumnOrigin), Put(base + 18, l.outputRowOrigin);
        Put(base + 24, SignMagnitude(l.outputColumnStride));
        Put(base + 26, SignMagnitude(l.outputRowStride));
        return *this;
    }
    BlockBuilder& Word(int offset, uint16_t value) {
        Put(offset, value);
        return *this;
    }
    const uint8_t* Data() const { return bytes_.data(); }

  private:
    void Put(int offset, uint16_t value) { platform::StoreLe16(&bytes_[offset], value); }
    std::array<uint8_t, 272> bytes_{};
};

}  // namespace reconstruction::testing
