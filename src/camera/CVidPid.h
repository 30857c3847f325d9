#pragma once
#include <cstdint>

// One accepted USB device: vendor ID, then product ID.
struct CVidPid {
    uint32_t VendorId = 0;
    uint32_t ProductId = 0;
};
