#pragma once
// Camera operations that allocate end with a status when an allocation
// fails, instead of letting the exception travel: no exception may leave the
// library or one of its threads, and the caller has to learn why the
// operation failed.

#include <cstdint>
#include <new>
#include <stdexcept>

#include "Vela2UsbCameraStatus.h"
#include "camera/ProcessObjects.h"
#include "platform/DebugTrace.h"

// For the catch (...) handler of an operation: LastStatus becomes
// ERROR_INCORRECT_IMAGE_BUFFER_SIZE, the library's code for memory it could
// not have, for a failed allocation (or a size no container can hold),
// CAMERA_FAILURE for any other exception, and the operation's name goes to
// the trace.
inline void ReportOperationException(const char* operation) noexcept {
    int32_t status = CAMERA_FAILURE;
    try {
        throw;
    } catch (const std::bad_alloc&) {
        status = ERROR_INCORRECT_IMAGE_BUFFER_SIZE;
    } catch (const std::length_error&) {
        status = ERROR_INCORRECT_IMAGE_BUFFER_SIZE;
    } catch (...) {
    }
    LastStatus().Set(status);
    try {
        platform::DebugTrace("%s failed with an exception: status %d.", operation, status);
    } catch (...) {
        // A trace capture that cannot grow loses the line, not the status.
    }
}
