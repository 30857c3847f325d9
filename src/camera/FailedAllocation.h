#pragma once
// Camera operations that allocate end with a status when an allocation
// fails, instead of letting the exception travel: no exception may leave the
// library or one of its threads, and the caller has to learn why the
// operation failed.

#include <cstdint>
#include <new>
#include <stdexcept>

#include "camera/ProcessObjects.h"
#include "platform/DebugTrace.h"

// ERROR_INCORRECT_IMAGE_BUFFER_SIZE: the library's code for memory it could
// not have.
constexpr int32_t kAllocationFailed = 3;
// CAMERA_FAILURE, for an exception nobody foresaw.
constexpr int32_t kUnexpectedException = -2;

// For the catch (...) handler of an operation: LastStatus becomes 3 for a
// failed allocation (or a size no container can hold), -2 for any other
// exception, and the operation's name goes to the trace.
inline void ReportOperationException(const char* operation) noexcept {
    int32_t status = kUnexpectedException;
    try {
        throw;
    } catch (const std::bad_alloc&) {
        status = kAllocationFailed;
    } catch (const std::length_error&) {
        status = kAllocationFailed;
    } catch (...) {
    }
    LastStatus().Set(status);
    try {
        platform::DebugTrace("%s failed with an exception: status %d.", operation, status);
    } catch (...) {
        // A trace capture that cannot grow loses the line, not the status.
    }
}
