// Linked into the final library as an object file, so the backend "libusb"
// is registered with the seam before any device is opened, without the seam
// or the camera code knowing it exists.
#include <memory>

#include "platform/libusb/LibusbDriver.h"

namespace {

// libusb runs threads of its own from its first use on; they must end before
// the library (and libusb with it) is unloaded, which runs this destructor.
struct Registration {
    std::shared_ptr<platform::LibusbDriver> driver = std::make_shared<platform::LibusbDriver>();
    Registration() { platform::RegisterUsbDriverBackend("libusb", driver); }
    ~Registration() { driver->Shutdown(); }
};

const Registration registration;

}  // namespace
