#include "Status.h"

#include <map>
#include <utility>

#include "Vela2UsbCameraDll.h"

namespace vela2cam {

std::string StatusName(int32_t code) {
    char name[VELA2_STATUS_NAME_SIZE] = {};
    LD_GetError(code, name);
    name[VELA2_STATUS_NAME_SIZE - 1] = '\0';
    if (name[0] == '\0') return "status " + std::to_string(code);
    return name;
}

int32_t InitializationFailure(int32_t result) {
    const int32_t last = LD_GetStatus();
    return result == ERROR_CAMERA_NOT_INITIALIZED && last < CAMERA_BUSY ? last : result;
}

std::string StatusAdvice(int32_t code) {
    static const std::map<int32_t, const char*> advice = {
        {ERROR_INI_FILENAME,
         "Check that the mode file exists (--mode-file) and that Vela2Usb.ini lies beside the "
         "library, or use --registry."},
        {ERROR_HEX_FILENAME,
         "Check that the mode file has a section Mode<N> for this --mode and that its "
         "\"Configuration File\" names an EPAL file that exists."},
        {ERROR_CAMERA_NOT_INITIALIZED,
         "Check the settings (\"Send FPGA data during initialize?\" and the Device_ sections) and "
         "that the camera was initialized."},
        {INVALID_USB_DEVICE,
         "Check that the camera is connected and powered, that its vendor and product IDs are in "
         "the settings' device list (the Device_ sections of Vela2Usb.ini) and, on Linux, that "
         "the udev rule lets you use it (README: \"A real camera on Linux\"); --simulated runs "
         "without a camera."},
        {ERROR_REGISTRY_NAME, "Check that the settings location exists and can be opened."},
        {ERROR_REGISTRY_VALUE,
         "Check the \"Usb Settings\" section: endpoint number, control timeout and buffer size."},
        {ERROR_CAPTURE_THREAD_START, "The system refused a thread; check the process limits."},
        {ERROR_TRIGGER_TIMEOUT,
         "The camera was never armed; with --trigger hardware check the trigger input, else "
         "check that the camera is idle."},
        {ERROR_TEMP_CONTROL_ENDPOINT_READ, "The camera did not answer; check the USB connection."},
        {ERROR_CONTROL_ENDPOINT_READ, "The camera did not answer; check the USB connection."},
        {ERROR_CONTROL_ENDPOINT_WRITE, "The camera refused the data; check the USB connection."},
        {ERROR_CAPTURE_ABORTED, "The capture was stopped before it ended."},
        {ERROR_CAPTURE_BULK_ENDPOINT,
         "The frame did not arrive; check the USB connection and the bulk endpoint setting."},
        {ERROR_CAMERA_TIMEOUT,
         "The camera did not finish in time; check the exposure, the trigger and the camera state "
         "mask in the settings."},
        {ERROR_CAMERA_CAPTURE, "The camera was not initialized when the capture started."},
        {ERROR_IMAGE_RECONSTRUCTION,
         "The frame did not match the mode's geometry; check the mode's EPAL file."},
        {ERROR_CAMERA_NOT_READY, "The camera did not become idle; reset it or power it again."},
        {CAMERA_FILE_ERROR, "A file could not be read or written; check paths and free space."},
        {ERROR_UNINITIALIZED_BUFFER, "The library holds no parameter block; initialize first."},
        {CAMERA_FAILURE, "The library could not wait for the camera; try again."},
        {CAMERA_INVALID_VALUE, "The mode gave no such size; check the mode's EPAL file."},
    };
    auto found = advice.find(code);
    if (found != advice.end()) return found->second;
    return "See the status code list of the library's documentation.";
}

Failure Failure::WithStatus(ExitCode exitCode, std::string what, int32_t status) {
    Failure failure;
    failure.exitCode = exitCode;
    failure.what = std::move(what);
    failure.hasStatus = true;
    failure.status = status;
    return failure;
}

Failure Failure::Plain(ExitCode exitCode, std::string what) {
    Failure failure;
    failure.exitCode = exitCode;
    failure.what = std::move(what);
    return failure;
}

}  // namespace vela2cam
