#pragma once
// The record of the buffer-size requests: endpoint address, then the size.
#include <cstdint>

namespace usb {

#pragma pack(push, 1)
struct SUsbBufferSizeRecord {
    uint8_t EndpointAddress;
    uint32_t Size;
};
#pragma pack(pop)

static_assert(sizeof(SUsbBufferSizeRecord) == 5, "the driver expects 5 bytes");

}  // namespace usb
