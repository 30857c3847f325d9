#include <windows.h>

#include "platform/DebugTrace.h"

namespace platform {

void WriteDebugOutput(const std::string& line) {
    OutputDebugStringA(("vela2: " + line + "\n").c_str());
}

}  // namespace platform
