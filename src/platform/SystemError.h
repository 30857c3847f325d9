#pragma once
#include <cstdint>
#include <string>

namespace platform {

// Windows error codes the system's callers test for by number.
enum : uint32_t {
    kErrorSuccess = 0,
    kErrorInvalidFunction = 1,
    kErrorFileNotFound = 2,
    kErrorAccessDenied = 5,
    kErrorInvalidHandle = 6,
    kErrorNotEnoughMemory = 8,
    kErrorGenFailure = 31,
    kErrorInvalidParameter = 87,
    kErrorAlreadyExists = 183,
    kErrorMoreData = 234,
    kErrorNoMoreItems = 259,
    kErrorOperationAborted = 995,
    kErrorIoIncomplete = 996,
    kErrorIoPending = 997,
    kErrorBadnKey = 1010,
    kErrorDeviceNotConnected = 1167,
};

// The calling thread's last-error value, in Windows numbering.
uint32_t LastSystemError();
void SetLastSystemError(uint32_t code);

// The code the system gives when it has no text for a message number
// (ERROR_MR_MID_NOT_FOUND).
constexpr uint32_t kErrorMessageNotFound = 317;

// The system's message-table text for an error code, without a trailing
// newline, inserts left as written. False when the system has none:
// LastSystemError() then holds the code of that failure, usually
// kErrorMessageNotFound.
bool LookUpSystemErrorText(uint32_t code, std::string& text);

// The system's text for an error code, without a trailing newline;
// "Unknown error <code>." when it has none.
std::string SystemErrorText(uint32_t code);

}  // namespace platform
