#include "api/StatusNames.h"

#include <algorithm>
#include <cstring>

#include "platform/Memory.h"

namespace {
struct StatusName {
    int32_t code;
    const char* name;
};

// 13 has no name, and neither has any code not listed here.
constexpr StatusName kNames[] = {
    {-51, "ERROR_CAMERA_VERSION_INFO"},
    {-50, "ERROR_TRIGGER_TIMEOUT"},
    {-49, "ERROR_TEMP_CONTROL_ENDPOINT_READ"},
    {-48, "ERROR_GET_CAMERA_STATE"},
    {-47, "ERROR_CAPTURE_THREAD_START"},
    {-46, "ERROR_CAPTURE_BULK_ENDPOINT"},
    {-45, "ERROR_CAPTURE_ABORTED"},
    {-44, "ERROR_CONTROL_ENDPOINT_WRITE"},
    {-43, "ERROR_CONTROL_ENDPOINT_READ"},
    {-42, "ERROR_USB_CONTROL_ENDPOINT"},
    {-41, "ERROR_RECONSTRUCTION_VALUE"},
    {-40, "ERROR_REGISTRY_VALUE"},
    {-39, "ERROR_NOTIFICATION_WINDOW"},
    {-38, "ERROR_CAMER_RESET"},
    {-37, "ERROR_REGISTRY_NAME"},
    {-36, "ERROR_BULK_WRITE"},
    {-35, "ERROR_BULK_READ"},
    {-34, "ERROR_SETTING_TRIGGER"},
    {-33, "INVALID_USB_DEVICE"},
    {-32, "INVALID_CAMERA_STATE"},
    {-31, "IDLE_STATE_TIMEOUT"},
    {-30, "ERROR_INVALID_CAMERA_TYPE"},
    {-29, "ERROR_REGISTER_CALLBACK_FUNCTION"},
    {-28, "ERROR_CALLBACK_FUNCTION"},
    {-27, "ERROR_START_PICTURE_BLOCK"},
    {-26, "ERROR_BLOCK_INFO"},
    {-25, "ERROR_RECONSTRUCTION_BUFFER_SIZE"},
    {-24, "ERROR_CAL_BUFFER_SIZE"},
    {-23, "ERROR_SIMULATION_FILENAME"},
    {-22, "ERROR_HEX_FILENAME"},
    {-21, "ERROR_INI_FILENAME"},
    {-20, "ERROR_SET_WINDOW_MODE"},
    {-19, "ERROR_SET_WINDOW_HEIGHT"},
    {-18, "ERROR_SET_WINDOW_WIDTH"},
    {-17, "ERROR_GET_WINDOW_HEIGHT"},
    {-16, "ERROR_GET_WINDOW_WIDTH"},
    {-15, "ERROR_SET_WINDOW_START_ROW"},
    {-14, "ERROR_SET_WINDOW_START_COLUMN"},
    {-13, "ERROR_GET_WINDOW_START_ROW"},
    {-12, "ERROR_GET_WINDOW_START_COLUMN"},
    {-11, "ERROR_GET_WINDOW_MODE"},
    {-10, "CAMERA_WRONG_SERIALNUMBER"},
    {-9, "ERROR_HEX_BUFFER_SIZE"},
    {-8, "ERROR_WAITING_FOR_TRIGGER"},
    {-7, "CAMERA_UNSUPPORTED"},
    {-6, "CAMERA_SCAN_ERROR"},
    {-5, "ERROR_TEST_UNIT_READY"},
    {-4, "ERROR_CAMERA_NOT_INITIALIZED"},
    {-3, "CAMERA_INVALID_VALUE"},
    {-2, "CAMERA_FAILURE"},
    {-1, "CAMERA_BUSY"},
    {0, "CAMERA_SUCCESS"},
    {1, "CAMERA_RESET"},
    {2, "ERROR_UNINITIALIZED_BUFFER"},
    {3, "ERROR_INCORRECT_IMAGE_BUFFER_SIZE"},
    {4, "ERROR_INCORRECT_OVERSCAN_BUFFER_SIZE"},
    {5, "ERROR_CAMERA_NOT_READY"},
    {6, "ERROR_SETTING_CAMERA_PARAMETERS"},
    {7, "ERROR_CAMERA_TIMEOUT"},
    {8, "ERROR_CAMERA_CAPTURE"},
    {9, "ERROR_IMAGE_RECONSTRUCTION"},
    {10, "ERROR_SETTING_TIMEOUT"},
    {11, "ERROR_SRB_TIMEOUT"},
    {12, "ERROR_RECONSTRUCTION_EXCEPTION"},
    {14, "CAMERA_IMAGE_EXCEPTION"},
    {15, "CAMERA_EVENT_FAILURE"},
    {16, "CAMERA_BLOCK_READ_FAILURE"},
    {17, "CAMERA_FILENAME_ERROR"},
    {18, "CAMERA_FILE_ERROR"},
    {19, "ERROR_COLUMN_RECONSTRUCTION"},
    {20, "ERROR_RECONSTRUCTION_OPEN_EVENT"},
    {21, "ERROR_RECONSTRUCTION_WAIT_FAILED"},
    {22, "RECONSTRUCTION_IN_PROGRESS"},
    {23, "RECONSTRUCTION_COMPLETED"},
};

constexpr size_t kMaxCopy = 260;
}  // namespace

void FillStatusNames(std::map<int32_t, std::string>& names) {
    for (const StatusName& entry : kNames) names[entry.code] = entry.name;
}

void CopyStatusName(const std::map<int32_t, std::string>& names, int32_t code, char* text) {
    if (text == nullptr) return;
    static const std::string kUnnamed;
    auto found = names.find(code);
    const std::string& name = found == names.end() ? kUnnamed : found->second;
    const size_t length = std::min(name.size() + 1, kMaxCopy);
    if (!platform::IsWritable(text, length)) return;  // refused, not a crash
    std::memcpy(text, name.c_str(), length);
    if (length == kMaxCopy) text[kMaxCopy - 1] = '\0';
}
