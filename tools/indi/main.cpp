// indi_vela2_ccd: libindidriver's main runs the event loop and hands every
// client request to the device objects that exist, this one among them.
#include <memory>

#include "Vela2Ccd.h"

namespace {
std::unique_ptr<vela2indi::Vela2Ccd> g_camera(new vela2indi::Vela2Ccd());
}
