#include "platform/Module.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

namespace platform {

std::string ModuleFilePath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ModuleFilePath), &info) == 0 || info.dli_fname == nullptr)
        return std::string();
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved) != nullptr) return resolved;
    return info.dli_fname;
}

bool ProcessIsExiting() { return false; }

}  // namespace platform
