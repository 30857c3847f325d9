#include "platform/SystemError.h"

#include <errno.h>

#include <cstdio>

#include "posix/ErrnoMapping.h"

namespace platform {
namespace {
thread_local uint32_t t_lastError = 0;

struct ErrorText {
    uint32_t code;
    const char* text;
};

// Our own texts for the codes the library's system calls can give.
constexpr ErrorText kTexts[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {14, "Not enough memory resources are available to complete this operation."},
    {23, "Data error (cyclic redundancy check)."},
    {28, "The device is not ready."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {33,
     "The process cannot access the file because another process has locked a portion of the "
     "file."},
    {38, "Reached the end of the file."},
    {53, "The network path was not found."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {122, "The data area passed to a system call is too small."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {234, "More data is available."},
    {259, "No more data is available."},
    {317,
     "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {995,
     "The I/O operation has been aborted because of either a thread exit or an application "
     "request."},
    {997, "Overlapped I/O operation is in progress."},
    {1004, "Invalid flags."},
    {1009, "The configuration registry database is corrupt."},
    {1010, "The configuration registry key is invalid."},
    {1011, "The configuration registry key could not be opened."},
    {1012, "The configuration registry key could not be read."},
    {1013, "The configuration registry key could not be written."},
    {1016, "An I/O operation initiated by the registry failed unrecoverably."},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {1167, "The device is not connected."},
};
}  // namespace

uint32_t LastSystemError() { return t_lastError; }
void SetLastSystemError(uint32_t code) { t_lastError = code; }

bool LookUpSystemErrorText(uint32_t code, std::string& text) {
    for (const ErrorText& entry : kTexts)
        if (entry.code == code) {
            text = entry.text;
            return true;
        }
    SetLastSystemError(kErrorMessageNotFound);
    return false;
}

std::string SystemErrorText(uint32_t code) {
    std::string found;
    if (LookUpSystemErrorText(code, found)) return found;
    char text[64];
    std::snprintf(text, sizeof text, "Unknown error %u.", static_cast<unsigned>(code));
    return text;
}

uint32_t WindowsErrorFromErrno(int error) {
    switch (error) {
        case 0:
            return 0;
        case ENOENT:
            return 2;
        case ENOTDIR:
            return 3;
        case EMFILE:
        case ENFILE:
            return 4;
        case EACCES:
        case EPERM:
        case EROFS:
            return 5;
        case EBADF:
            return 6;
        case ENOMEM:
            return 8;
        case EIO:
            return 31;
        case EBUSY:
            return 32;
        case EEXIST:
            return 80;
        case EINVAL:
            return 87;
        case ENOSPC:
            return 112;
        case ENAMETOOLONG:
            return 206;
        case ENODEV:
        case ENXIO:
            return 1167;
        default:
            return 31;
    }
}

}  // namespace platform
