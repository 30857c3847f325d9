#pragma once

// The library's application object: its start-up runs when the library is
// loaded, its shut-down when it is unloaded.
class CTesselCameraDllApp {
  public:
    // Fills the status names and the camera's binning tables and records the
    // library's own path. Always succeeds.
    bool InitInstance();
    // Closes the camera: stops the workers and releases the device.
    int ExitInstance();
};

CTesselCameraDllApp& TheApp();
