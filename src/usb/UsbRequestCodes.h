#pragma once
// I/O control codes of the camera's USB driver.
#include <cstdint>

namespace usb {

enum : uint32_t {
    kIoctlDriverVersion = 0x220000,
    kIoctlSecondVersion = 0x220004,
    kIoctlCurrentAltSetting = 0x220008,
    kIoctlAddress = 0x220010,
    kIoctlControlTransfer = 0x220020,
    kIoctlBufferedTransfer = 0x220024,
    kIoctlDirectTransfer = 0x22004B,
    kIoctlReleaseDevice = 0x220030,
    kIoctlGetBufferSize = 0x220034,
    kIoctlSetBufferSize = 0x220038,
    kIoctlNameTextA = 0x22003C,
    kIoctlNameTextB = 0x220040,
    kIoctlAbortEndpoint = 0x220044,
};

// Drivers from this version on move non-control data straight into the
// caller's buffer; older ones only through the transfer record.
constexpr uint32_t kFirstDirectDriverVersion = 0x01050500;

}  // namespace usb
