/*
 * Vela2UsbCameraDll: control of one cooled CCD camera on USB.
 *
 * Every function is exported by its plain, undecorated name. Integers are
 * 32 bits wide; a flag is a 32-bit integer (0 false, anything else true).
 * Status results are the codes below: 0 is success, negative values are
 * failures of the camera layer, small positive values failures and
 * completion states of capture and reconstruction.
 *
 * Calling convention: VELA2_CALL, chosen once for all functions. On 32-bit
 * Windows it is __stdcall (the convention of the Windows API, usable from
 * every language that can call a DLL); elsewhere the platform has a single
 * convention and VELA2_CALL is empty.
 *
 * Threads: every function may be called from any thread at any time, Close
 * and LD_Initialize included. Close and LD_Initialize run one at a time; each
 * first aborts a capture in progress, then waits for the calls that use the
 * camera to finish, and calls that come meanwhile wait for it and then see
 * the camera as it left it (uninitialized after Close). A picture whose
 * capture would begin while either runs ends at once with -4
 * (ERROR_CAMERA_NOT_INITIALIZED): it could only hold them off. Concurrent
 * Close calls are harmless and the camera can be initialized again
 * afterwards.
 * Pictures are taken on the library's own capture thread; after Close no
 * thread of the library runs.
 *
 * Destinations: every function that writes through a pointer first checks
 * it may write there (hardening). One it may not is refused as a null one
 * would be: the readings answer their null-destination status, LD_GetTimeout
 * 87, the other getters -2 (CAMERA_FAILURE), and LD_GetError writes nothing.
 */
#ifndef VELA2_USB_CAMERA_DLL_H
#define VELA2_USB_CAMERA_DLL_H

#include <stdint.h>

/* The library version this header describes. */
#define VELA2_LIBRARY_VERSION "4.6.0.1"

#if defined(_WIN32) && !defined(_WIN64)
#define VELA2_CALL __stdcall
#else
#define VELA2_CALL
#endif

#if defined(_WIN32)
#define VELA2_API /* exported by the module-definition file */
#elif defined(VELA2_BUILDING_LIBRARY)
#define VELA2_API __attribute__((visibility("default")))
#else
#define VELA2_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes (Vela2UsbCameraStatus.h). LD_GetError gives each one's
 * name as text. */
#include "Vela2UsbCameraStatus.h"

/* ---- Lifecycle and status ---------------------------------------------- */

/* Initializes the camera for a readout mode. modeFile names the mode file
 * (INI: section "Mode<n>", key "Configuration File" = the mode's EPAL file);
 * NULL or "" uses the file named after the library with the extension .ini.
 * registry non-zero: settings from the registry; zero: from Vela2Usb.ini
 * beside the library. The second argument is not read.
 * Status: 0; -21 mode or settings file missing; -22 EPAL file missing;
 * -4 initialization failed (LD_GetStatus tells why); 18 file error.
 * Deliberate hardenings: an EPAL file whose quadrant sizes exceed 65535 or
 * whose raw frame would exceed 1 GiB is refused (LD_GetStatus -3, as for
 * sizes below 1); the settle and control-write delays are at most 60000 ms;
 * memory that cannot be had leaves LD_GetStatus 3.
 * Deliberate POSIX adaptation (Windows keeps the rule above): an installed
 * library sits in a system folder, so Vela2Usb.ini and the default mode file
 * are looked up first in $VELA2_CONFIG_DIR, then $XDG_CONFIG_HOME/vela2 (or
 * ~/.config/vela2), then /etc/vela2, and only then beside the library; the
 * first existing file wins. The default mode file is named after the library
 * without its ".so" and version (libVela2UsbCameraDll.ini). An EPAL path in a
 * mode file that is not absolute is taken relative to the mode file's folder. */
VELA2_API int32_t VELA2_CALL LD_Initialize(int32_t mode, uint32_t unused, const char* modeFile,
                                           int32_t registry);
/* As LD_Initialize; the fourth argument is not read. */
VELA2_API int32_t VELA2_CALL LD_InitializeWithStatus(int32_t mode, uint32_t unused,
                                                     const char* modeFile, uint32_t ignored,
                                                     int32_t registry);

/* Flag: the camera is initialized and its device is open. */
VELA2_API int32_t VELA2_CALL IsInitialized(void);
VELA2_API int32_t VELA2_CALL LD_IsInitialized(void);
/* Stops the capture, releases the device; the camera is uninitialized after. */
VELA2_API void VELA2_CALL Close(void);
/* The status of the last long operation (after a capture: its result). */
VELA2_API int32_t VELA2_CALL LD_GetStatus(void);
/* Copies the name of a status code into text (empty for unknown codes). */
VELA2_API void VELA2_CALL LD_GetError(int32_t code, char* text);
/* The library's version strings and, on an initialized camera, the firmware
 * identification, as text of several lines, cut to size - 1 characters.
 * 0, or -51 when the library file has no version data or the firmware
 * could not be read (the buffer is then all zeros). */
VELA2_API int32_t VELA2_CALL LD_GetVersion(char* buffer, int32_t size);

/* ---- Capture -------------------------------------------------------------- */

/* Takes a picture into four quadrant images (width x height pixels each) and
 * four overscan images (overscanWidth x overscanHeight; none when either is
 * 0). Returns once the camera is armed and waiting for its trigger: 0; -50
 * when the capture ended before that (LD_GetStatus has its result); 8 when
 * the camera is not initialized, or a Close stopped the capture thread before
 * it took the request; -2 when waiting failed. Then wait with
 * LD_WaitForCapture or poll LD_IsCaptureComplete, and read the result with
 * LD_GetStatus. All four image buffers must be writable.
 * Hardening: sizes that are negative, or whose byte counts (2 x width x
 * height) exceed 2^31 - 1, are refused with 3 (also left in LD_GetStatus)
 * before the camera is armed. */
VELA2_API int32_t VELA2_CALL LD_StartPicture(uint16_t* image1, uint16_t* image2, uint16_t* image3,
                                             uint16_t* image4, int32_t width, int32_t height,
                                             uint16_t* overscan1, uint16_t* overscan2,
                                             uint16_t* overscan3, uint16_t* overscan4,
                                             int32_t overscanWidth, int32_t overscanHeight);
/* Reads one raw frame (the quadrants side by side, rounded up to 512 bytes)
 * into rawBuffer. Returns as LD_StartPicture does. */
VELA2_API int32_t VELA2_CALL LD_Capture(uint16_t* rawBuffer);
/* Waits up to the larger of timeMs and the capture timeout: 23 complete,
 * 22 still running, 21 the wait failed. The capture-complete event is named
 * and shared by every process that loads the library, by design (as on
 * Windows): a picture another process takes meanwhile resets and sets it too,
 * so its end completes this wait while this picture may still be running.
 * Take pictures from one process at a time (on POSIX, processes with
 * different VELA2_EVENT_NAMESPACE values do not share the events). */
VELA2_API int32_t VELA2_CALL LD_WaitForCapture(uint32_t timeMs);
/* 23 complete (until the next request), 22 running, 21 the test failed. The
 * event is shared with other processes as LD_WaitForCapture says. */
VELA2_API int32_t VELA2_CALL LD_IsCaptureComplete(void);

/* ---- Capture timing ------------------------------------------------------ */

/* Timeout := time + 50 ms (software trigger) or + 3000 ms (hardware). 0.
 * Hardening: the sum saturates at 0xFFFFFFFF instead of wrapping to a few
 * milliseconds. */
VELA2_API int32_t VELA2_CALL LD_SetTimeout(uint32_t timeMs);
/* 0, or 87 for a null destination. */
VELA2_API int32_t VELA2_CALL LD_GetTimeout(uint32_t* timeMs);

/* ---- Geometry and readout ------------------------------------------------ */
/* With a destination: 0; -2 for a null pointer; -3 when the value stored is
 * negative (before initialization the overscan and EPAL sizes are -1). */
VELA2_API int32_t VELA2_CALL LD_GetQuadrantWidth(int32_t* width);
VELA2_API int32_t VELA2_CALL LD_GetQuadrantHeight(int32_t* height);
VELA2_API int32_t VELA2_CALL LD_GetOverscanWidth(int32_t* width);
VELA2_API int32_t VELA2_CALL LD_GetOverscanHeight(int32_t* height);
VELA2_API int32_t VELA2_CALL LD_GetEpalQuadrantWidth(int32_t* width);
VELA2_API int32_t VELA2_CALL LD_GetEpalQuadrantHeight(int32_t* height);
VELA2_API int32_t VELA2_CALL LD_GetActiveWidth(void);
VELA2_API int32_t VELA2_CALL LD_GetActiveHeight(void);
VELA2_API int32_t VELA2_CALL LD_GetRawImageWidth(void);
VELA2_API int32_t VELA2_CALL LD_GetRawImageHeight(void);
/* Raw quadrant width and height, or -1 before initialization. */
VELA2_API int32_t VELA2_CALL GetWidth(void);
VELA2_API int32_t VELA2_CALL GetHeight(void);
VELA2_API int32_t VELA2_CALL GetNumberOfQuadrants(void);
VELA2_API int32_t VELA2_CALL LD_GetReadoutTime(void);
/* The open device's handle, or -1. */
VELA2_API intptr_t VELA2_CALL GetDeviceHandle(void);
/* The registry location (or INI file) of the settings; valid until the next
 * LD_Initialize. */
VELA2_API const char* VELA2_CALL GetHardwareRegistryLocation(void);

/* ---- Modes and state ----------------------------------------------------- */

/* The mask of camera-state bits that ends a capture's wait (0x21 at start). */
VELA2_API void VELA2_CALL SetCameraState(uint8_t mask);
VELA2_API uint8_t VELA2_CALL GetCameraState(void);
VELA2_API void VELA2_CALL SetSoftwareTrigger(int32_t flag);
/* SetHardwareTrigger(0) selects the software trigger, (1) the hardware one. */
VELA2_API void VELA2_CALL SetHardwareTrigger(int32_t flag);
VELA2_API int32_t VELA2_CALL LD_SetEnableSoftwareTrigger(uint32_t flag);
VELA2_API int32_t VELA2_CALL LD_GetEnableSoftwareTrigger(void);
/* Simulation: pictures come from the raw image file instead of the camera. */
VELA2_API int32_t VELA2_CALL LD_SetSimulationMode(int32_t flag);
VELA2_API int32_t VELA2_CALL LD_GetSimulationMode(int32_t* flag);
/* The raw image file written with each frame, and read in simulation. */
VELA2_API void VELA2_CALL LD_SetRawImageFilename(const char* path);
VELA2_API int32_t VELA2_CALL LD_SetCreateRawImageFile(int32_t flag);

/* ---- Exposure and test pattern ------------------------------------------ */
/* Status: 0; -4 before initialization; -43/-44 when the camera's FPGA block
 * could not be read/written; 2 when the library holds no parameter block. */

/* Reads the timing from the camera: exposure, length (end - start), start. */
VELA2_API int32_t VELA2_CALL LD_GetExposureTime(uint32_t* exposure, uint32_t* length,
                                                uint32_t* start);
/* Stores the low 16 bits of each value; the capture timeout becomes the
 * exposure plus the trigger mode's margin. */
VELA2_API int32_t VELA2_CALL LD_SetExposureTime(uint32_t exposure, uint32_t length, uint32_t start);
/* The low 8 bits select the sensor test pattern (0: none). */
VELA2_API int32_t VELA2_CALL LD_SetTestPatternMode(uint32_t mode);
VELA2_API int32_t VELA2_CALL LD_GetTestPatternMode(uint32_t* mode);
/* 1 when the product information names the _5253 sensor model, else 0. */
VELA2_API int32_t VELA2_CALL LD_GetCameraType(uint32_t* type);

/* ---- Camera commands ---------------------------------------------------- */

/* Stops a running capture and resets the camera: command 0x09 when kind is
 * non-zero, 0x0C when it is zero. Flag: 1 sent, 0 failed.
 * Hardening: when it aborts a capture, the capture's own result (-45, or the
 * failure of its cancelled frame transfer) stays the last status, so a thread
 * waiting for that picture learns it was aborted; the frame transfer of such
 * a capture is cancelled, as a reset camera sends no frame. */
VELA2_API int32_t VELA2_CALL LD_Reset(int32_t kind);
/* Copies up to 32 bytes of the camera's status record (byte 10: the camera
 * state). Flag. Waits while a capture holds the camera. */
VELA2_API int32_t VELA2_CALL LD_GetCameraStatus(uint8_t* buffer, int32_t length);
/* Raw vendor requests for service tools. request, value and index are texts:
 * decimal, or hexadecimal when they contain "0x" (the request code also
 * accepts "0X"). Flag: 1 done, 0 failed. In simulation mode they succeed
 * without traffic; before initialization they fail. */
VELA2_API int32_t VELA2_CALL WriteVendorRequest(const char* request, const char* value,
                                                const char* index, uint8_t* buffer, int32_t length);
VELA2_API int32_t VELA2_CALL ReadVendorRequest(const char* request, const char* value,
                                               const char* index, uint8_t* buffer, int32_t length);

/* ---- Memory blocks (service tools) -------------------------------------- */
/* Each request moves one 64-byte block; shorter data fill its start. Flag:
 * 1 done, 0 failed (LD_GetStatus tells why when a transfer or a setting
 * failed). The library keeps a copy of the blocks it sends: the FPGA block,
 * the clock-voltage/offset block (the camera takes its half), calibration.
 * Deliberate hardening: a write (and Upload) with a size of 0 or less sends
 * nothing and fails with LD_GetStatus 2, instead of sending a block of zeros;
 * reads copy min(size, 64) bytes (offsets and clock voltages 32). */
VELA2_API int32_t VELA2_CALL WriteFpga(const uint8_t* data, int32_t size, int32_t alternative);
VELA2_API int32_t VELA2_CALL WriteClockVoltages(const uint8_t* data, int32_t size);
VELA2_API int32_t VELA2_CALL WriteOffsets(const uint8_t* data, int32_t size);
VELA2_API int32_t VELA2_CALL WriteCalibration(const uint8_t* data, int32_t size);
VELA2_API int32_t VELA2_CALL WriteProductInfo(const uint8_t* data, int32_t size);
VELA2_API int32_t VELA2_CALL ReadFpga(uint8_t* buffer, int32_t size, int32_t alternative);
/* The first 32 bytes of the clock-voltage block, from the library's copy;
 * fails before the first initialization, when there is no copy yet. */
VELA2_API int32_t VELA2_CALL ReadClockVoltages(uint8_t* buffer, int32_t size);
/* Up to 32 bytes of offsets, placed at offset 32 of buffer. */
VELA2_API int32_t VELA2_CALL ReadOffsets(uint8_t* buffer, int32_t size);
VELA2_API int32_t VELA2_CALL ReadCalibration(uint8_t* buffer, int32_t size);
VELA2_API int32_t VELA2_CALL ReadProductInfo(uint8_t* buffer, int32_t size);
/* Upload sends the blocks the settings enable from a 192-byte image (FPGA
 * 0-63, clock voltages and offsets 64-127, calibration 128-191); Download
 * fills such an image. Both refuse buffers shorter than 192 bytes. */
VELA2_API int32_t VELA2_CALL Upload(const uint8_t* data, int32_t size);
VELA2_API int32_t VELA2_CALL Download(uint8_t* buffer, int32_t size);

/* ---- Temperatures and cooler --------------------------------------------- */
/* Status: 0, -49 when the camera could not be read, 87 for a null pointer.
 * Temperatures in degrees Celsius with the default conversion settings. All
 * wait while a capture holds the camera. */

/* The sensor temperature; one function under three names. */
VELA2_API int32_t VELA2_CALL LD_GetTemperature(double* celsius);
VELA2_API int32_t VELA2_CALL LD_GetCameraTemperature(double* celsius);
VELA2_API int32_t VELA2_CALL LD_GetCcdTemperature(double* celsius);
VELA2_API int32_t VELA2_CALL LD_GetHeatSinkTemperature(double* celsius);
/* The same reading as LD_GetHeatSinkTemperature. */
VELA2_API int32_t VELA2_CALL LD_GetTecCurrent(double* value);
VELA2_API int32_t VELA2_CALL LD_GetTopTecCurrent(double* amperes);
VELA2_API int32_t VELA2_CALL LD_GetBottomTecCurrent(double* amperes);
/* Writes the setpoint count (low 16 bits) into the calibration block.
 * Status: 0, -49, -44. */
VELA2_API int32_t VELA2_CALL LD_SetTemperatureSetpoint(int32_t setpoint);
/* Copies up to 64 bytes of the raw temperature record. Flag: 1 done (also
 * for a null buffer), 0 failed with LD_GetStatus -49 or 2. One function under
 * two names. */
VELA2_API int32_t VELA2_CALL LD_UpdateTempVolts(uint8_t* buffer, int32_t length);
VELA2_API int32_t VELA2_CALL LD_UpdateTemperature(uint8_t* buffer, int32_t length);

/* ---- Named events for other processes (not on Windows) ------------------ */
/* The library signals two manual-reset events that any process of the same
 * user can open by name: "TESSEL_WAITING_FOR_TRIGGER_EVENT" (the camera is
 * armed) and "TESSEL_CAPTURE_COMPLETE_EVENT" (the capture has ended; it stays
 * set until the next request). On Windows they are system events that other
 * processes open with OpenEventA, and the DLL exports only its 71 names.
 * Elsewhere the library exports these four functions as well, the way to
 * reach the events, and the environment variable VELA2_EVENT_NAMESPACE, when
 * set, confines them to the processes that share its value (as a session
 * does on Windows). */
#ifndef _WIN32
typedef struct LD_NamedEvent LD_NamedEvent;
/* NULL when no event of that name exists (no library instance created it). */
VELA2_API LD_NamedEvent* VELA2_CALL LD_OpenNamedEvent(const char* name);
/* 1 set, 0 timed out, -1 failed (or a NULL event). 0xFFFFFFFF: no limit. */
VELA2_API int32_t VELA2_CALL LD_WaitNamedEvent(LD_NamedEvent* event, uint32_t timeoutMs);
/* 1 set, 0 not set, -1 failed. Does not wait. */
VELA2_API int32_t VELA2_CALL LD_IsNamedEventSet(LD_NamedEvent* event);
VELA2_API void VELA2_CALL LD_CloseNamedEvent(LD_NamedEvent* event);
#endif

#ifdef __cplusplus
}
#endif

#endif /* VELA2_USB_CAMERA_DLL_H */
