#include "platform/Module.h"

#include <windows.h>

#include "win32/LibraryModule.h"

namespace platform {

std::string ModuleFilePath() {
    HMODULE module = LibraryModule();
    if (!module) return std::string();
    char path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    return std::string(path, length);
}

}  // namespace platform
