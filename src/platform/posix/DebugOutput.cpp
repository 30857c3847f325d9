#include <cstdio>

#include "platform/DebugTrace.h"

namespace platform {

void WriteDebugOutput(const std::string& line) {
    std::fprintf(stderr, "vela2: %s\n", line.c_str());
}

}  // namespace platform
