// Linked into the final library as an object file, so the simulated driver is
// registered with the seam before any device is opened, without the seam or
// the camera code knowing it exists.
#include "sim/SimUsbDriver.h"

namespace {
const bool registered = (sim::RegisterSimUsbBackend(), true);
}  // namespace
