#include "platform/FileReplace.h"

#include <errno.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

namespace platform {
namespace {
int ErrnoFromWindowsError(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
            return ENOENT;
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
            return EACCES;
        case ERROR_SHARING_VIOLATION:
            return EBUSY;
        case ERROR_LOCK_VIOLATION:
            return EDEADLK;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        default:
            return EIO;
    }
}
}  // namespace

int SyncFile(std::FILE* file) {
    if (std::fflush(file) != 0) return errno;
    if (_commit(_fileno(file)) != 0) return errno;
    return 0;
}

int RenameOver(const std::string& source, const std::string& target) {
    if (!MoveFileExA(source.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return ErrnoFromWindowsError(GetLastError());
    return 0;
}

}  // namespace platform
