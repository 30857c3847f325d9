#include "reconstruction/QuadrantRecord.h"

#include "reconstruction/ByteOrder.h"

namespace reconstruction {

uint16_t QuadrantRecord::SourceFirstColumn() const { return LoadLe16(bytes_ + 0); }
uint16_t QuadrantRecord::SourceFirstRow() const { return LoadLe16(bytes_ + 2); }
int32_t QuadrantRecord::SourceColumnStride() const {
    return DecodeSignMagnitude(LoadLe16(bytes_ + 4));
}
int32_t QuadrantRecord::SourceRowStride() const {
    return DecodeSignMagnitude(LoadLe16(bytes_ + 6));
}
uint16_t QuadrantRecord::OutputColumnOrigin() const { return LoadLe16(bytes_ + 16); }
uint16_t QuadrantRecord::OutputRowOrigin() const { return LoadLe16(bytes_ + 18); }
int32_t QuadrantRecord::OutputColumnStride() const {
    return DecodeSignMagnitude(LoadLe16(bytes_ + 24));
}
int32_t QuadrantRecord::OutputRowStride() const {
    return DecodeSignMagnitude(LoadLe16(bytes_ + 26));
}

}  // namespace reconstruction
