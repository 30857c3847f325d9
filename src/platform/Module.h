#pragma once
#include <string>

namespace platform {

// Full path of the binary that holds this library's code: the shared library
// when loaded as one, the program when linked in statically. Empty when the
// system cannot tell.
std::string ModuleFilePath();

}  // namespace platform
