#pragma once
// The exposure fields of the EPAL block, the capture timeout that follows the
// exposure, and the sensor model named in the product information.

#include <cstddef>
#include <cstdint>

#include "reconstruction/EpalData.h"

namespace reconstruction {

struct ExposureSetting {
    uint32_t exposure = 0;
    uint32_t length = 0;
    uint32_t start = 0;
};

// Only the low 16 bits of each value fit the block.
void StoreExposure(const EpalData& block, const ExposureSetting& setting);
ExposureSetting ReadExposure(const EpalData& block);

// How long a capture waits: the trigger's margin plus the exposure.
int32_t CaptureTimeout(bool softwareTrigger, int32_t softwareMargin, int32_t hardwareMargin,
                       int32_t exposure);

// 1 when the product information's model field (16 bytes in, at most 45
// characters) contains suffix, otherwise 0. productInfo holds size bytes.
int32_t CameraTypeFromProductInfo(const uint8_t* productInfo, size_t size, const char* suffix);

}  // namespace reconstruction
