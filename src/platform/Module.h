#pragma once
#include <string>

namespace platform {

// Full path of the binary that holds this library's code: the shared library
// when loaded as one, the program when linked in statically. Empty when the
// system cannot tell.
std::string ModuleFilePath();

// True while the process exits with the library still loaded, in a way that
// has already ended the library's other threads wherever they were, perhaps
// inside its locks (Windows ends them before it detaches a DLL at exit).
// Shut-down then leaves the library's objects to the system. POSIX processes
// run the library's destructors with their threads still alive: false.
bool ProcessIsExiting();

// Has shutDown run when the library is unloaded, before the destructors of
// its static objects: those run in the reverse order of their construction,
// so objects first used after load would be gone before a shut-down left to
// a static object of the load. Not at the process's exit, whose order the
// system decides. Called once, at load; shutDown may run during the unload
// with the loader's lock held.
void RunAtUnload(void (*shutDown)());

}  // namespace platform
