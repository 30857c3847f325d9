#include "platform/Module.h"

#include <windows.h>

#include "win32/LibraryModule.h"

namespace platform {

std::string ModuleFilePath() {
    char path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameA(LibraryModule(), path, MAX_PATH);
    return std::string(path, length);
}

}  // namespace platform
