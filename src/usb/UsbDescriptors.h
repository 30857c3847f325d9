#pragma once
// Standard descriptor types and sizes, and the limits that keep a walk over a
// device's descriptor set inside the set and inside our tables.
#include <cstdint>

namespace usb {

// The standard request that reads a descriptor.
constexpr uint8_t kGetDescriptor = 6;

enum : uint8_t {
    kDescriptorDevice = 1,
    kDescriptorConfiguration = 2,
    kDescriptorString = 3,
    kDescriptorInterface = 4,
    kDescriptorEndpoint = 5,
};

constexpr uint32_t kDeviceDescriptorSize = 18;
constexpr uint32_t kConfigurationDescriptorSize = 9;
constexpr uint32_t kInterfaceDescriptorSize = 9;
constexpr uint32_t kEndpointDescriptorSize = 7;

constexpr uint32_t kMaxEndpointSlots = 16;  // entry 0 is the control endpoint
constexpr uint32_t kMaxInterfaceObjects = 8;
constexpr uint32_t kMaxConfigurations = 2;
// Class-specific descriptors stepped over between one interface's endpoints.
constexpr uint32_t kMaxSkippedDescriptors = 11;

// The bLength of the descriptor at `offset` when a whole descriptor of at least
// two bytes lies inside [0, size); 0 otherwise, which ends any walk.
inline uint32_t DescriptorLengthAt(const uint8_t* set, uint32_t size, uint32_t offset) {
    if (offset >= size || size - offset < 2) return 0;
    const uint32_t length = set[offset];
    return length >= 2 && length <= size - offset ? length : 0;
}

}  // namespace usb
