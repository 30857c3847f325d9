#pragma once
#include <cstdint>

class CTesselCamera;

// The library's version strings and the camera firmware's identification as
// one text: 0, or -51 (ERROR_CAMERA_VERSION_INFO) with the buffer all zeros.
int32_t GetVersionReport(CTesselCamera& camera, char* buffer, int32_t size);
