#include "reconstruction/Reconstruction.h"

#include <stdexcept>

#include "platform/Memory.h"
#include "reconstruction/ByteOrder.h"

namespace reconstruction {
namespace {
constexpr size_t kPrescanSource = 8;
constexpr size_t kPrescanColumns = 10;
constexpr size_t kPrescanRows = 12;
constexpr size_t kFixedPrescanColumns = 14;
constexpr size_t kFirstQuadrantRecord = 16;

void CheckQuadrant(int q) {
    if (q < 0 || q >= Reconstruction::kQuadrants) throw std::out_of_range("quadrant index");
}
}  // namespace

Reconstruction Reconstruction::Convert(const void* address) {
    if (address == nullptr) return Reconstruction(nullptr);
    // The accessibility test never writes; it only asks about the pages.
    if (!platform::IsReadable(address, kSize) &&
        !platform::IsWritable(const_cast<void*>(address), kSize))
        return Reconstruction(nullptr);
    return Reconstruction(static_cast<const uint8_t*>(address));
}

bool Reconstruction::QuadrantEnabled(int q) const {
    CheckQuadrant(q);
    return bytes_[q] != 0;
}

uint16_t Reconstruction::PrescanSource() const { return LoadLe16(bytes_ + kPrescanSource); }
uint16_t Reconstruction::PrescanColumns() const { return LoadLe16(bytes_ + kPrescanColumns); }
uint16_t Reconstruction::PrescanRows() const { return LoadLe16(bytes_ + kPrescanRows); }
uint16_t Reconstruction::FixedPrescanColumns() const {
    return LoadLe16(bytes_ + kFixedPrescanColumns);
}

QuadrantRecord Reconstruction::Quadrant(int q) const {
    CheckQuadrant(q);
    return QuadrantRecord(bytes_ + kFirstQuadrantRecord + QuadrantRecord::kSize * q);
}

}  // namespace reconstruction
