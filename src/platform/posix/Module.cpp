#include "platform/Module.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <atomic>

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

namespace {
std::atomic<void (*)()> g_atUnload{nullptr};

// dlclose runs a library's destructor functions before the destructors of
// its static objects. At exit the order is the other way round: the handler
// then finds the shut-down done by the static objects.
__attribute__((destructor)) void RunUnloadHandler() {
    if (void (*shutDown)() = g_atUnload.exchange(nullptr)) shutDown();
}
}  // namespace

void RunAtUnload(void (*shutDown)()) { g_atUnload.store(shutDown); }

}  // namespace platform
