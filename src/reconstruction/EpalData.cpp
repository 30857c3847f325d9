#include "reconstruction/EpalData.h"

#include "platform/Memory.h"
#include "reconstruction/ByteOrder.h"

namespace reconstruction {
namespace {
enum Offset : size_t {
    kActivePixelsPerLine = 23,
    kLinesPerFrame = 25,
    kRawQuadrantWidth = 33,
    kRawQuadrantHeight = 35,
    kTimingStart = 48,
    kTimingEnd = 50,
    kTimingEndCopy1 = 52,
    kTimingEndCopy2 = 54,
    kExposureTime = 56,
    kQuadrantWidth = 246,
    kQuadrantHeight = 248,
    kOverscanColumns = 250,
    kOverscanRows = 252,
};
}  // namespace

EpalData EpalData::Convert(void* address) {
    if (address == nullptr) return EpalData(nullptr);
    if (!platform::IsReadable(address, kSize) && !platform::IsWritable(address, kSize))
        return EpalData(nullptr);
    return EpalData(static_cast<uint8_t*>(address));
}

uint16_t EpalData::ActivePixelsPerLine() const { return LoadLe16(bytes_ + kActivePixelsPerLine); }
void EpalData::SetActivePixelsPerLine(uint16_t value) const {
    StoreLe16(bytes_ + kActivePixelsPerLine, value);
}
uint16_t EpalData::LinesPerFrame() const { return LoadLe16(bytes_ + kLinesPerFrame); }
void EpalData::SetLinesPerFrame(uint16_t value) const { StoreLe16(bytes_ + kLinesPerFrame, value); }
uint16_t EpalData::RawQuadrantWidth() const { return LoadLe16(bytes_ + kRawQuadrantWidth); }
void EpalData::SetRawQuadrantWidth(uint16_t value) const {
    StoreLe16(bytes_ + kRawQuadrantWidth, value);
}
uint16_t EpalData::RawQuadrantHeight() const { return LoadLe16(bytes_ + kRawQuadrantHeight); }
void EpalData::SetRawQuadrantHeight(uint16_t value) const {
    StoreLe16(bytes_ + kRawQuadrantHeight, value);
}

uint16_t EpalData::TimingStart() const { return LoadBe16(bytes_ + kTimingStart); }
void EpalData::SetTimingStart(uint16_t value) const { StoreBe16(bytes_ + kTimingStart, value); }
uint16_t EpalData::TimingEnd() const { return LoadBe16(bytes_ + kTimingEnd); }
void EpalData::SetTimingEnd(uint16_t value) const {
    StoreBe16(bytes_ + kTimingEnd, value);
    StoreBe16(bytes_ + kTimingEndCopy1, value);
    StoreBe16(bytes_ + kTimingEndCopy2, value);
}
uint16_t EpalData::ExposureTime() const { return LoadBe16(bytes_ + kExposureTime); }
void EpalData::SetExposureTime(uint16_t value) const { StoreBe16(bytes_ + kExposureTime, value); }

uint16_t EpalData::QuadrantWidth() const { return LoadLe16(bytes_ + kQuadrantWidth); }
uint16_t EpalData::QuadrantHeight() const { return LoadLe16(bytes_ + kQuadrantHeight); }
uint16_t EpalData::OverscanColumns() const { return LoadLe16(bytes_ + kOverscanColumns); }
void EpalData::SetOverscanColumns(uint16_t value) const {
    StoreLe16(bytes_ + kOverscanColumns, value);
}
uint16_t EpalData::OverscanRows() const { return LoadLe16(bytes_ + kOverscanRows); }
void EpalData::SetOverscanRows(uint16_t value) const { StoreLe16(bytes_ + kOverscanRows, value); }

}  // namespace reconstruction
