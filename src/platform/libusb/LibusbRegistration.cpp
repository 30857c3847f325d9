// Linked into the final library as an object file, so the backend "libusb"
// is registered with the seam before any device is opened, without the seam
// or the camera code knowing it exists.
#include <memory>

#include "platform/libusb/LibusbDriver.h"

namespace {
const bool registered =
    (platform::RegisterUsbDriverBackend("libusb", std::make_shared<platform::LibusbDriver>()),
     true);
}  // namespace
