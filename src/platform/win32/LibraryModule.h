#pragma once
// The module that holds the library's code: the DLL when it is loaded as
// one, the program when the library is linked in. Window classes and
// version resources belong to it, not to the program that loaded it.
#include <windows.h>

namespace platform {

// Null when the system cannot tell.
inline HMODULE LibraryModule() {
    static const char kInThisModule = 0;
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            &kInThisModule, &module))
        return nullptr;
    return module;
}

// True from the moment the loader detaches the DLL (an unload or the
// process's exit): the loader then holds its lock, which every thread's
// exit and every other load waits for.
bool LibraryIsDetaching();

}  // namespace platform
