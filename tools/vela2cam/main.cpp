// vela2cam: take pictures with the camera from the command line.
//
// This first version reports what the library answers before a camera is
// initialized; capture, temperatures and service commands follow as the
// library gains them.

#include <cstdio>
#include <cstring>
#include <string>

#include "Vela2UsbCameraDll.h"

namespace {

int Usage() {
    std::puts("usage: vela2cam info      library state and status codes");
    return 2;
}

void PrintStatusNames() {
    std::puts("status codes:");
    for (int32_t code = -60; code <= 30; ++code) {
        char name[VELA2_STATUS_NAME_SIZE] = {};
        LD_GetError(code, name);
        if (name[0] != '\0') std::printf("  %4d  %s\n", static_cast<int>(code), name);
    }
}

int Info() {
    char status[VELA2_STATUS_NAME_SIZE] = {};
    int32_t code = LD_GetStatus();
    LD_GetError(code, status);
    std::printf("Vela2UsbCameraDll %s\n", VELA2_LIBRARY_VERSION);
    std::printf("initialized:        %s\n", IsInitialized() ? "yes" : "no");
    std::printf("status:             %d %s\n", static_cast<int>(code), status);
    std::printf("settings location:  %s\n", GetHardwareRegistryLocation());
    std::printf("quadrants:          %d\n", static_cast<int>(GetNumberOfQuadrants()));
    std::printf("trigger:            %s\n", LD_GetEnableSoftwareTrigger() ? "software" : "hardware");
    std::printf("readout time:       %d ms\n", static_cast<int>(LD_GetReadoutTime()));
    PrintStatusNames();
    std::puts("");
    std::puts("Camera initialization and capture are not in this build yet: once they are,");
    std::puts("'vela2cam capture --simulated --mosaic -o out/' takes a picture on the built-in");
    std::puts("simulated camera and writes FITS files to out/.");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    std::string command = argv[1];
    if (command == "info") return Info();
    return Usage();
}
