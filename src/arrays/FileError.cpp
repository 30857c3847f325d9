#include "arrays/FileError.h"

#include <errno.h>

namespace arrays {

FileCause FileCauseFromErrno(int error) {
    switch (error) {
        case ENOENT:
            return FileCause::FileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case EINVAL:
            return FileCause::BadPath;
        case EMFILE:
        case ENFILE:
            return FileCause::TooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EROFS:
        case EISDIR:
            return FileCause::AccessDenied;
        case EBADF:
            return FileCause::InvalidFile;
        case EIO:
            return FileCause::HardIO;
        case EBUSY:
            return FileCause::SharingViolation;
        case EDEADLK:
        case ENOLCK:
            return FileCause::LockViolation;
        case ENOSPC:
        case EFBIG:
            return FileCause::DiskFull;
        default:
            return FileCause::Generic;
    }
}

const char* FileErrorText(FileCause cause) {
    switch (cause) {
        case FileCause::FileNotFound:
            return "File not found\n";
        case FileCause::BadPath:
            return "badPath\n";
        case FileCause::TooManyOpenFiles:
            return "tooManyOpenFiles\n";
        case FileCause::AccessDenied:
            return "accessDenied\n";
        case FileCause::InvalidFile:
            return "invalidFile\n";
        case FileCause::HardIO:
            return "hardIO\n";
        case FileCause::SharingViolation:
            return "sharingViolation\n";
        case FileCause::LockViolation:
            return "lockViolation\n";
        case FileCause::DiskFull:
            return "diskFull\n";
        case FileCause::EndOfFile:
            return "endOfFile\n";
        default:
            return "Unknown file error.\n";
    }
}

}  // namespace arrays
