#pragma once
// The module that holds the library's code: the DLL when it is loaded as
// one, the program when the library is linked in. Window classes and
// version resources belong to it, not to the program that loaded it.
#include <windows.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;  // the linker's: this module's first byte

namespace platform {

// Read from the image itself, not asked of the loader: the loader's calls
// wait for its lock, which an unload holds while the library's threads are
// being stopped.
inline HMODULE LibraryModule() { return reinterpret_cast<HMODULE>(&__ImageBase); }

// True from the moment the loader detaches the DLL (an unload or the
// process's exit): the loader then holds its lock, which every thread's
// exit and every other load waits for.
bool LibraryIsDetaching();

}  // namespace platform
