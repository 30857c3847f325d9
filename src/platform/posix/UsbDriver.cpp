#include "platform/UsbDriver.h"

namespace platform {

// In-process backends complete requests through the portable fields alone.
struct UsbOverlapped::OsState {};

UsbOverlapped::UsbOverlapped(Event& done) : done_(done) {}
UsbOverlapped::~UsbOverlapped() = default;

UsbOverlapped::OsState& UsbOverlapped::os() {
    if (!os_) os_ = std::make_unique<OsState>();
    return *os_;
}

// No kernel driver is reached from here yet; registered backends serve alone.
std::shared_ptr<UsbDriverBackend> OsUsbDriverBackend() { return nullptr; }

}  // namespace platform
