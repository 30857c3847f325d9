#pragma once
#include <cstdint>
#include <string>

// The text form of registry data: string types up to the first zero, the
// DWORD types as an unsigned decimal number, anything else as two lower-case
// hex digits per byte.
std::string RegistryValueText(uint32_t type, const uint8_t* data, uint32_t size);
