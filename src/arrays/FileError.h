#pragma once
// File failures by cause, numbered as the platform's file exceptions number
// them, with the texts the array class reports.

namespace arrays {

enum class FileCause {
    Generic = 1,
    FileNotFound = 2,
    BadPath = 3,
    TooManyOpenFiles = 4,
    AccessDenied = 5,
    InvalidFile = 6,
    HardIO = 10,
    SharingViolation = 11,
    LockViolation = 12,
    DiskFull = 13,
    EndOfFile = 14,
};

FileCause FileCauseFromErrno(int error);
const char* FileErrorText(FileCause cause);

}  // namespace arrays
