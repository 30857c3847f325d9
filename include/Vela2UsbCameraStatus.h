/*
 * The status codes of Vela2UsbCameraDll, in one list: the enum below and the
 * library's table of names (LD_GetError) are both made from it, so neither
 * can drift from the other.
 *
 * VELA2_STATUS_CODES(X, U) expands X(name, value) for each code that has a
 * name and U(name, value) for a code the library returns that has none
 * (LD_GetError gives it the empty text).
 */
#ifndef VELA2_USB_CAMERA_STATUS_H
#define VELA2_USB_CAMERA_STATUS_H

#define VELA2_STATUS_CODES(X, U)               \
    X(ERROR_CAMERA_VERSION_INFO, -51)          \
    X(ERROR_TRIGGER_TIMEOUT, -50)              \
    X(ERROR_TEMP_CONTROL_ENDPOINT_READ, -49)   \
    X(ERROR_GET_CAMERA_STATE, -48)             \
    X(ERROR_CAPTURE_THREAD_START, -47)         \
    X(ERROR_CAPTURE_BULK_ENDPOINT, -46)        \
    X(ERROR_CAPTURE_ABORTED, -45)              \
    X(ERROR_CONTROL_ENDPOINT_WRITE, -44)       \
    X(ERROR_CONTROL_ENDPOINT_READ, -43)        \
    X(ERROR_USB_CONTROL_ENDPOINT, -42)         \
    X(ERROR_RECONSTRUCTION_VALUE, -41)         \
    X(ERROR_REGISTRY_VALUE, -40)               \
    X(ERROR_NOTIFICATION_WINDOW, -39)          \
    X(ERROR_CAMER_RESET, -38)                  \
    X(ERROR_REGISTRY_NAME, -37)                \
    X(ERROR_BULK_WRITE, -36)                   \
    X(ERROR_BULK_READ, -35)                    \
    X(ERROR_SETTING_TRIGGER, -34)              \
    X(INVALID_USB_DEVICE, -33)                 \
    X(INVALID_CAMERA_STATE, -32)               \
    X(IDLE_STATE_TIMEOUT, -31)                 \
    X(ERROR_INVALID_CAMERA_TYPE, -30)          \
    X(ERROR_REGISTER_CALLBACK_FUNCTION, -29)   \
    X(ERROR_CALLBACK_FUNCTION, -28)            \
    X(ERROR_START_PICTURE_BLOCK, -27)          \
    X(ERROR_BLOCK_INFO, -26)                   \
    X(ERROR_RECONSTRUCTION_BUFFER_SIZE, -25)   \
    X(ERROR_CAL_BUFFER_SIZE, -24)              \
    X(ERROR_SIMULATION_FILENAME, -23)          \
    X(ERROR_HEX_FILENAME, -22)                 \
    X(ERROR_INI_FILENAME, -21)                 \
    X(ERROR_SET_WINDOW_MODE, -20)              \
    X(ERROR_SET_WINDOW_HEIGHT, -19)            \
    X(ERROR_SET_WINDOW_WIDTH, -18)             \
    X(ERROR_GET_WINDOW_HEIGHT, -17)            \
    X(ERROR_GET_WINDOW_WIDTH, -16)             \
    X(ERROR_SET_WINDOW_START_ROW, -15)         \
    X(ERROR_SET_WINDOW_START_COLUMN, -14)      \
    X(ERROR_GET_WINDOW_START_ROW, -13)         \
    X(ERROR_GET_WINDOW_START_COLUMN, -12)      \
    X(ERROR_GET_WINDOW_MODE, -11)              \
    X(CAMERA_WRONG_SERIALNUMBER, -10)          \
    X(ERROR_HEX_BUFFER_SIZE, -9)               \
    X(ERROR_WAITING_FOR_TRIGGER, -8)           \
    X(CAMERA_UNSUPPORTED, -7)                  \
    X(CAMERA_SCAN_ERROR, -6)                   \
    X(ERROR_TEST_UNIT_READY, -5)               \
    X(ERROR_CAMERA_NOT_INITIALIZED, -4)        \
    X(CAMERA_INVALID_VALUE, -3)                \
    X(CAMERA_FAILURE, -2)                      \
    X(CAMERA_BUSY, -1)                         \
    X(CAMERA_SUCCESS, 0)                       \
    X(CAMERA_RESET, 1)                         \
    X(ERROR_UNINITIALIZED_BUFFER, 2)           \
    X(ERROR_INCORRECT_IMAGE_BUFFER_SIZE, 3)    \
    X(ERROR_INCORRECT_OVERSCAN_BUFFER_SIZE, 4) \
    X(ERROR_CAMERA_NOT_READY, 5)               \
    X(ERROR_SETTING_CAMERA_PARAMETERS, 6)      \
    X(ERROR_CAMERA_TIMEOUT, 7)                 \
    X(ERROR_CAMERA_CAPTURE, 8)                 \
    X(ERROR_IMAGE_RECONSTRUCTION, 9)           \
    X(ERROR_SETTING_TIMEOUT, 10)               \
    X(ERROR_SRB_TIMEOUT, 11)                   \
    X(ERROR_RECONSTRUCTION_EXCEPTION, 12)      \
    X(CAMERA_IMAGE_EXCEPTION, 14)              \
    X(CAMERA_EVENT_FAILURE, 15)                \
    X(CAMERA_BLOCK_READ_FAILURE, 16)           \
    X(CAMERA_FILENAME_ERROR, 17)               \
    X(CAMERA_FILE_ERROR, 18)                   \
    X(ERROR_COLUMN_RECONSTRUCTION, 19)         \
    X(ERROR_RECONSTRUCTION_OPEN_EVENT, 20)     \
    X(ERROR_RECONSTRUCTION_WAIT_FAILED, 21)    \
    X(RECONSTRUCTION_IN_PROGRESS, 22)          \
    X(RECONSTRUCTION_COMPLETED, 23)            \
    U(VELA2_INVALID_PARAMETER,                 \
      87) /* a null or unwritable destination of LD_GetTimeout and the readings */

#define VELA2_STATUS_ENUMERATOR(name, value) name = value,
enum Vela2StatusCode { VELA2_STATUS_CODES(VELA2_STATUS_ENUMERATOR, VELA2_STATUS_ENUMERATOR) };
#undef VELA2_STATUS_ENUMERATOR

/* A buffer for LD_GetError must hold the longest name and its terminator. */
#define VELA2_STATUS_NAME_SIZE 37

#endif
